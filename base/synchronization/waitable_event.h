// An event object to wait on: manual reset (stays signalled until Reset) or automatic reset (each Signal
// releases one waiter). Usable from any thread.
#ifndef BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_
#define BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_

#include <windows.h>

#include <cstddef>

#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class WaitableEvent {
 public:
  // An unnamed event; failing to make one is fatal.
  WaitableEvent(bool manual_reset, bool initially_signaled);
  ~WaitableEvent();
  WaitableEvent(const WaitableEvent&) = delete;
  WaitableEvent& operator=(const WaitableEvent&) = delete;

  void Signal();
  void Reset();
  // Waits without a limit until the event is signalled.
  void Wait();
  // Waits at most `max_time`, in whole milliseconds: a negative time only polls, and a time beyond the
  // 32-bit millisecond range waits without a limit. True only when the event was signalled; false on time-out
  // or failure, possibly before the whole time has passed.
  bool TimedWait(const TimeDelta& max_time);

  // Waits without a limit until one of `count` events (1 to 64) is signalled and returns the index of the
  // lowest signalled one (an automatic-reset event among them is reset by the wait). A failed wait is fatal.
  static size_t WaitMany(WaitableEvent** events, size_t count);

  HANDLE handle() const { return handle_.Get(); }

 private:
  win::ScopedHandle handle_;
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_
