#include "desktop/launcher/installer/package_fetcher/parallel_file_writer.h"

#include <utility>

#include "base/threading/simple_thread.h"

namespace zorvi::installer {

class ParallelFileWriter::Helper : public base::SimpleThread {
 public:
  explicit Helper(ParallelFileWriter* writer) : base::SimpleThread("FileWriter"), writer_(writer) {}
  void Run() override { writer_->HelperLoop(); }

 private:
  ParallelFileWriter* const writer_;
};

ParallelFileWriter::ParallelFileWriter(WriteFunction write, int helper_threads) : write_(std::move(write)) {
  for (int i = 0; i < helper_threads; ++i) {
    auto helper = std::make_unique<Helper>(this);
    // A thread the system cannot start leaves its share to the others, or to Add.
    if (helper->Start())
      helpers_.push_back(std::move(helper));
  }
}

ParallelFileWriter::~ParallelFileWriter() {
  Finish();
  {
    base::AutoLock hold(lock_);
    stopping_ = true;
    file_waiting_.Broadcast();
  }
  for (const std::unique_ptr<Helper>& helper : helpers_)
    helper->Join();
}

bool ParallelFileWriter::Add(File file) {
  base::AutoLock hold(lock_);
  if (failed_)
    return false;
  pending_paths_.insert(file.path.value());
  waiting_.emplace_back(added_++, std::move(file));
  if (helpers_.empty())
    WriteNextLocked();
  else
    file_waiting_.Signal();
  return !failed_;
}

DWORD ParallelFileWriter::Finish() {
  base::AutoLock hold(lock_);
  while (!waiting_.empty())
    WriteNextLocked();
  while (done_ < added_)
    all_written_.Wait();
  pending_paths_.clear();
  return failed_ ? first_error_ : ERROR_SUCCESS;
}

void ParallelFileWriter::WriteNextLocked() {
  auto [index, file] = std::move(waiting_.front());
  waiting_.pop_front();
  // After a failure the files still waiting are dropped; those taken before it are finished.
  if (!failed_) {
    lock_.Release();
    const DWORD result = write_(file);
    lock_.Acquire();
    if (result != ERROR_SUCCESS && (!failed_ || index < first_failed_)) {
      failed_ = true;
      first_failed_ = index;
      first_error_ = result;
    }
  }
  if (++done_ == added_)
    all_written_.Broadcast();
}

void ParallelFileWriter::HelperLoop() {
  base::AutoLock hold(lock_);
  for (;;) {
    while (waiting_.empty() && !stopping_)
      file_waiting_.Wait();
    if (waiting_.empty())
      return;
    WriteNextLocked();
  }
}

}  // namespace zorvi::installer
