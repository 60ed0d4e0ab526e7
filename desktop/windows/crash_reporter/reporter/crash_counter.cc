#include "desktop/windows/crash_reporter/reporter/crash_counter.h"

#include <atomic>
#include <string>

#include "base/files/file.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"

namespace zorvi {
namespace installer {
namespace {

// Attempts in a row before the count waits for the next crash, and at the end.
constexpr int kAttempts = 10;
// Longer than any total the file can hold ("ffffffff"), so a longer file's tail is ignored.
constexpr int kMaxCounterBytes = 9;

std::atomic<int64_t> g_running_delay_ms{-1};
std::atomic<int64_t> g_ending_delay_ms{-1};
std::atomic<CrashCounterThread::AttemptObserver> g_attempt_observer{nullptr};

base::TimeDelta Delay(const std::atomic<int64_t>& seam, int64_t product_ms) {
  const int64_t ms = seam.load();
  return base::TimeDelta::FromMilliseconds(ms < 0 ? product_ms : ms);
}

}  // namespace

bool AddToCounterFile(const base::FilePath& path, uint32_t count) {
  // Without sharing: another reporter updating the same file at this moment fails to open it and tries again.
  base::File file(path, base::FileFlags::OpenAlways | base::FileFlags::Read | base::FileFlags::Write |
                            base::FileFlags::ExclusiveRead | base::FileFlags::ExclusiveWrite);
  if (!file.IsValid())
    return false;
  uint32_t total = 0;
  if (!file.created()) {
    char text[kMaxCounterBytes + 1] = {};
    const int read = file.Read(0, text, kMaxCounterBytes);
    if (read < 0)
      return false;
    if (!base::HexStringToUInt(std::string(text, read), &total))
      total = 0;
  }
  total += count;
  if (!file.SetLength(0))
    return false;
  const std::string written = base::StringPrintf("%x", total);
  return file.Write(0, written.data(), static_cast<int>(written.size())) > 0;
}

CrashCounterThread::CrashCounterThread(const base::FilePath& path)
    : path_(path), wake_(/*manual_reset=*/false, /*initially_signaled=*/false) {
  if (!base::PlatformThread::CreateWithPriority(0, this, &thread_, base::ThreadPriority::NORMAL))
    thread_ = nullptr;
}

CrashCounterThread::~CrashCounterThread() {
  stopping_ = true;
  wake_.Signal();
  if (thread_)
    base::PlatformThread::Join(thread_);
}

void CrashCounterThread::Add(uint32_t count, bool write_now) {
  {
    base::AutoLock hold(lock_);
    pending_ += count;
  }
  if (write_now)
    wake_.Signal();
}

void CrashCounterThread::SetRetryDelaysForTesting(base::TimeDelta running, base::TimeDelta ending) {
  g_running_delay_ms = running.InMilliseconds();
  g_ending_delay_ms = ending.InMilliseconds();
}

void CrashCounterThread::SetAttemptObserverForTesting(AttemptObserver observer) {
  g_attempt_observer = observer;
}

uint32_t CrashCounterThread::TakePending() {
  base::AutoLock hold(lock_);
  const uint32_t count = pending_;
  pending_ = 0;
  return count;
}

void CrashCounterThread::PutBack(uint32_t count) {
  base::AutoLock hold(lock_);
  pending_ += count;
}

bool CrashCounterThread::TryWrite(uint32_t count) {
  const bool written = AddToCounterFile(path_, count);
  if (AttemptObserver observer = g_attempt_observer.load())
    observer(written);
  if (!written)
    PutBack(count);
  return written;
}

void CrashCounterThread::ThreadMain() {
  int retries = 0;
  wake_.Wait();
  while (!stopping_) {
    const uint32_t count = TakePending();
    if (count == 0 || TryWrite(count)) {
      retries = 0;
    } else if (++retries < kAttempts) {
      wake_.Signal();  // try again after the pause
      base::PlatformThread::Sleep(Delay(g_running_delay_ms, 100));
    } else {
      retries = 0;  // the count waits for the next crash
    }
    wake_.Wait();
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const uint32_t count = TakePending();
    if (count == 0 || TryWrite(count))
      break;
    base::PlatformThread::Sleep(Delay(g_ending_delay_ms, 50));
  }
}

}  // namespace installer
}  // namespace zorvi
