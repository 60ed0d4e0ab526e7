// Makes PlatformThread's thread creation fail, as a system out of resources does, for the tests of what
// must cope with a thread that cannot be made. Header only.
#ifndef BASE_THREADING_THREAD_REFUSAL_TEST_UTIL_H_
#define BASE_THREADING_THREAD_REFUSAL_TEST_UTIL_H_

#include <windows.h>

#include <atomic>

#include "base/threading/platform_thread.h"

namespace base {

// While it exists every new thread is refused, unless set_refusing(false) lets them through again.
class ScopedThreadRefusal {
 public:
  ScopedThreadRefusal() : previous_(PlatformThread::SetCreateThreadFunctionForTesting(&MaybeRefuseCreateThread)) {
    refusing_ = true;
  }
  ~ScopedThreadRefusal() {
    refusing_ = false;
    PlatformThread::SetCreateThreadFunctionForTesting(previous_);
  }
  ScopedThreadRefusal(const ScopedThreadRefusal&) = delete;
  ScopedThreadRefusal& operator=(const ScopedThreadRefusal&) = delete;

  void set_refusing(bool refusing) { refusing_ = refusing; }

 private:
  static HANDLE WINAPI MaybeRefuseCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack_size,
                                               LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                                               LPDWORD id) {
    if (refusing_.load()) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return ::CreateThread(security, stack_size, start, param, flags, id);
  }

  static inline std::atomic<bool> refusing_{false};
  const PlatformThread::CreateThreadFunction previous_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_REFUSAL_TEST_UTIL_H_
