// The running count of the crashes a reporter has seen, kept in a small counter file (the total in lower-case
// hexadecimal). A thread of its own writes it, so that a crash never waits for the file; a file another
// process holds is tried again later, and once more when the reporter ends.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_COUNTER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_COUNTER_H_

#include <atomic>
#include <cstdint>

#include "base/files/file_path.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace zorvi {
namespace installer {

// Adds `count` to the total in the file at `path` (made when missing; held without sharing while it is
// updated). True when the file holds the new total.
bool AddToCounterFile(const base::FilePath& path, uint32_t count);

class CrashCounterThread : public base::PlatformThread::Delegate {
 public:
  explicit CrashCounterThread(const base::FilePath& path);
  CrashCounterThread(const CrashCounterThread&) = delete;
  CrashCounterThread& operator=(const CrashCounterThread&) = delete;
  // Writes what is still pending (a few attempts) and ends the thread.
  ~CrashCounterThread() override;

  // Counts `count` crashes; `write_now` wakes the thread to write them.
  void Add(uint32_t count, bool write_now);

  // The pauses between attempts while running (100 ms) and at the end (50 ms); negative keeps the product's.
  static void SetRetryDelaysForTesting(base::TimeDelta running, base::TimeDelta ending);
  // Called on the counter thread after each attempt to write the file, with its result; null for none.
  using AttemptObserver = void (*)(bool written);
  static void SetAttemptObserverForTesting(AttemptObserver observer);

 private:
  void ThreadMain() override;
  uint32_t TakePending();
  void PutBack(uint32_t count);
  bool TryWrite(uint32_t count);

  const base::FilePath path_;
  base::PlatformThreadHandle thread_ = nullptr;
  base::WaitableEvent wake_;
  base::Lock lock_;
  uint32_t pending_ = 0;   // guarded by lock_
  std::atomic<bool> stopping_{false};  // set before wake_ is signalled for the last time
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_COUNTER_H_
