#include "desktop/launcher/installer/wininet/wininet_test_util.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/bind.h"
#include "base/location.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/task_runner.h"
#include "crypto/secure_hash.h"
#include "testing/loopback_server.h"
#include "testing/test_support.h"

namespace zorvi::installer::wininet_test {

std::wstring DataPath(const std::wstring& relative) {
  const std::wstring root = test_support::TestDataDir();
  EXPECT_FALSE(root.empty()) << "ZORVI_TESTDATA is not set: run through ctest";
  return relative.empty() ? root : root + L"\\" + relative;
}

std::wstring ServedFolder() {
  return DataPath(L"www");
}

std::string ServedSha256(const std::string& name) {
  return test_support::Sha256SumOf(DataPath(L"sha256.txt"), name);
}

std::string Sha256Of(const std::string& bytes) {
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  hash->Update(bytes.data(), bytes.size());
  uint8_t digest[32];
  hash->Finish(digest, sizeof(digest));
  return base::ToLowerASCII(base::HexEncode(digest, sizeof(digest)));
}

std::wstring OutputPath(const std::wstring& name, const std::string& source) {
  const std::wstring path = DataPath(L"out\\" + name);
  if (!source.empty()) {
    EXPECT_TRUE(test_support::WriteFileBytes(path + L".source", source));
  }
  return path;
}

void RecordingDelegate::SetTotalProgress(int total) {
  std::lock_guard<std::mutex> hold(lock_);
  seen_.totals.push_back(total);
  seen_.off_owner_thread += GetCurrentThreadId() != owner_thread_;
}

void RecordingDelegate::SetCurrentProgress(int value) {
  std::lock_guard<std::mutex> hold(lock_);
  seen_.last_progress = value;
  ++seen_.progress_calls;
  seen_.off_owner_thread += GetCurrentThreadId() != owner_thread_;
  if (watched_ >= 0 && value >= watched_)
    progress_reached_.Signal();
}

void RecordingDelegate::NotifyStalled() {
  std::lock_guard<std::mutex> hold(lock_);
  ++seen_.stalls;
}

void RecordingDelegate::WatchProgress(int bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  progress_reached_.Reset();
  watched_ = bytes;
}

RecordingDelegate::Seen RecordingDelegate::seen() const {
  std::lock_guard<std::mutex> hold(lock_);
  return seen_;
}

void RecordingDelegate::set_owner_thread(DWORD id) {
  std::lock_guard<std::mutex> hold(lock_);
  owner_thread_ = id;
}

void RecordingUIRunner::set_reply(uint32_t reply) {
  std::lock_guard<std::mutex> hold(lock_);
  reply_ = reply;
}

int RecordingUIRunner::calls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return calls_;
}

void RecordingUIRunner::RunUICallbackAndPostReply(const UICallback& ui_callback,
                                                  const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                                  const UIReply& reply) {
  uint32_t answer = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++calls_;
    answer = reply_;
    last_callback_ = ui_callback;
    last_caller_ = base::PlatformThread::CurrentId();
  }
  reply_task_runner->PostTask(FROM_HERE, base::Bind(reply, answer));
}

base::PlatformThreadId RecordingUIRunner::last_caller() const {
  std::lock_guard<std::mutex> hold(lock_);
  return last_caller_;
}

UICallbackRunner::UICallback RecordingUIRunner::last_callback() const {
  std::lock_guard<std::mutex> hold(lock_);
  return last_callback_;
}

StatsTree::StatsTree() : view_(&tree_, &guard_, base::TimeTicks::Now()) {}

std::unique_ptr<base::DictionaryValue> StatsTree::Snapshot() {
  base::AutoLock hold(guard_.lock());
  return std::unique_ptr<base::DictionaryValue>(tree_.DeepCopy());
}

DownloaderHarness::DownloaderHarness() {
  CHECK(owner_.StartWithOptions(base::Thread::Options(base::MessageLoop::TYPE_DEFAULT, 0)));
  delegate_.set_owner_thread(owner_.GetThreadId());
  // Made on its owner thread, as the fetcher's worker makes its downloader.
  RunOnOwner([this](Wininet*) { wininet_ = std::make_unique<Wininet>(&ui_runner_, &delegate_); });
}

DownloaderHarness::~DownloaderHarness() {
  DestroyDownloader();
  owner_.Stop();
}

void DownloaderHarness::RunOnOwner(const std::function<void(Wininet*)>& task) {
  base::WaitableEvent done(true, false);
  const auto run = [](const std::function<void(Wininet*)>* task, std::unique_ptr<Wininet>* wininet,
                      base::WaitableEvent* done) {
    (*task)(wininet->get());
    done->Signal();
  };
  owner_.task_runner()->PostTask(FROM_HERE, base::Bind(run, &task, &wininet_, &done));
  ASSERT_TRUE(done.TimedWait(base::TimeDelta::FromMilliseconds(kHangBoundMs))) << "the owner thread hangs";
}

bool DownloaderHarness::Start(const std::wstring& url, const std::string& post_data,
                              std::unique_ptr<WininetResponseWriter> writer,
                              std::unique_ptr<WininetObserver> observer) {
  bool started = false;
  completed_.Reset();  // a completion that raced an earlier stop does not count for this download
  RunOnOwner([&](Wininet* wininet) {
    started = wininet->StartDownload(url, post_data, base::Bind(&DownloaderHarness::OnDone, base::Unretained(this)),
                                     std::move(writer), std::move(observer));
  });
  return started;
}

bool DownloaderHarness::WaitForCompletion() {
  return completed_.TimedWait(base::TimeDelta::FromMilliseconds(kHangBoundMs));
}

int DownloaderHarness::Download(const std::wstring& url, const std::string& post_data,
                                std::unique_ptr<WininetResponseWriter> writer,
                                std::unique_ptr<WininetObserver> observer) {
  if (!Start(url, post_data, std::move(writer), std::move(observer)) || !WaitForCompletion())
    return -1;
  std::lock_guard<std::mutex> hold(lock_);
  return completion_states_.back();
}

void DownloaderHarness::DestroyDownloader() {
  RunOnOwner([this](Wininet*) { wininet_.reset(); });
  RunOnOwner([](Wininet*) {});  // what the destruction left queued has run
}

int DownloaderHarness::completions() const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<int>(completion_states_.size());
}

std::vector<int> DownloaderHarness::completion_states() const {
  std::lock_guard<std::mutex> hold(lock_);
  return completion_states_;
}

void DownloaderHarness::OnDone() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    completion_states_.push_back(wininet_->state());
  }
  completed_.Signal();
}

}  // namespace zorvi::installer::wininet_test
