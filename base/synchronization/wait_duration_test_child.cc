// Child process for the Linux-side check of the waits' millisecond arguments (testdata_check.sh runs it
// under wine's relay trace). Arguments: "event:US" waits on a signalled event for US microseconds,
// "cv:US" waits on a condition variable (woken by another thread) for US microseconds; US may be "max" or
// "-max". Prints the event handle and the condition variable's address first, for the trace to be matched.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/time/time.h"

namespace {

base::TimeDelta ParseDuration(const char* text) {
  if (std::strcmp(text, "max") == 0)
    return base::TimeDelta::Max();
  if (std::strcmp(text, "-max") == 0)
    return -base::TimeDelta::Max();
  return base::TimeDelta::FromMicroseconds(std::strtoll(text, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  base::WaitableEvent event(true, true);
  base::Lock lock;
  base::ConditionVariable cv(&lock);
  std::printf("event %p\ncv %p\n", static_cast<void*>(event.handle()), static_cast<void*>(&cv));
  std::fflush(stdout);
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strncmp(argument, "event:", 6) == 0) {
      if (!event.TimedWait(ParseDuration(argument + 6)))
        return 2;
    } else if (std::strncmp(argument, "cv:", 3) == 0) {
      base::AutoLock hold(lock);
      // The waker gets the lock only once this thread sleeps in the wait.
      std::thread waker([&] {
        base::AutoLock wake_hold(lock);
        cv.Signal();
      });
      cv.TimedWait(ParseDuration(argument + 3));
      lock.Release();
      waker.join();
      lock.Acquire();
    } else {
      return 1;
    }
  }
  return 0;
}
