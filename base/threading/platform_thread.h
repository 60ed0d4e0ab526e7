// The thin layer over the Windows thread calls: creating a thread that runs a delegate (joinable or
// detached), joining it, naming the calling thread, sleeping and yielding.
#ifndef BASE_THREADING_PLATFORM_THREAD_H_
#define BASE_THREADING_PLATFORM_THREAD_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/time/time.h"

namespace base {

using PlatformThreadId = DWORD;
// A joinable thread's handle; PlatformThread::Join closes it.
using PlatformThreadHandle = HANDLE;

enum class ThreadPriority : int32_t {
  BACKGROUND = 0,      // THREAD_PRIORITY_LOWEST
  NORMAL = 1,          // left as the system starts it
  DISPLAY = 2,         // THREAD_PRIORITY_ABOVE_NORMAL
  REALTIME_AUDIO = 3,  // THREAD_PRIORITY_TIME_CRITICAL
};

class PlatformThread {
 public:
  // What a new thread runs.
  class Delegate {
   public:
    virtual void ThreadMain() = 0;

   protected:
    virtual ~Delegate() = default;
  };

  // The signature of CreateThread, so that tests can make thread creation fail.
  using CreateThreadFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                               DWORD, LPDWORD);

  PlatformThread() = delete;

  static PlatformThreadId CurrentId();
  // The pseudo handle that stands for the calling thread.
  static HANDLE CurrentHandle();
  static void YieldCurrentThread();
  // Sleeps at least `duration` (rounded up to whole milliseconds per system sleep); zero or negative returns
  // at once.
  static void Sleep(TimeDelta duration);

  // Names the calling thread in the thread-name registry, the task profiler and, when a debugger listens or
  // the module is instrumented, the debugger.
  static void SetName(const std::string& name);
  // The calling thread's registered name ("" when it has none); valid for the life of the process.
  static const char* GetName();

  // Starts a thread running `delegate->ThreadMain()`. A `stack_size` of 0 takes the system default. With
  // `thread_handle` the thread is joinable and its handle is returned there (Join it); without it the thread
  // is detached. False, with nothing started, when the system refuses the thread.
  static bool CreateWithPriority(size_t stack_size, Delegate* delegate, PlatformThreadHandle* thread_handle,
                                 ThreadPriority priority);
  static bool Create(size_t stack_size, Delegate* delegate, PlatformThreadHandle* thread_handle);
  static bool CreateNonJoinable(size_t stack_size, Delegate* delegate);

  // Waits for the thread to end and closes its handle. A failed wait is fatal.
  static void Join(PlatformThreadHandle thread_handle);

  // Replaces the function that creates threads (null restores CreateThread); returns the previous one.
  static CreateThreadFunction SetCreateThreadFunctionForTesting(CreateThreadFunction function);
};

}  // namespace base

#endif  // BASE_THREADING_PLATFORM_THREAD_H_
