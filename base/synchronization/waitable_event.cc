#include "base/synchronization/waitable_event.h"

#include "base/logging.h"
#include "base/synchronization/wait_duration.h"

namespace base {

WaitableEvent::WaitableEvent(bool manual_reset, bool initially_signaled)
    : handle_(CreateEventW(nullptr, manual_reset, initially_signaled, nullptr)) {
  PCHECK(handle_.IsValid()) << "CreateEventW";
}

// The holder closes the event through the handle verifier.
WaitableEvent::~WaitableEvent() = default;

void WaitableEvent::Signal() {
  SetEvent(handle_.Get());
}

void WaitableEvent::Reset() {
  ResetEvent(handle_.Get());
}

void WaitableEvent::Wait() {
  const DWORD result = WaitForSingleObject(handle_.Get(), INFINITE);
  // Only a broken handle makes an unlimited wait fail.
  PCHECK(result == WAIT_OBJECT_0) << "WaitForSingleObject";
}

bool WaitableEvent::TimedWait(const TimeDelta& max_time) {
  return WaitForSingleObject(handle_.Get(), WaitMillisecondsFor(max_time)) == WAIT_OBJECT_0;
}

// static
size_t WaitableEvent::WaitMany(WaitableEvent** events, size_t count) {
  CHECK(count >= 1 && count <= MAXIMUM_WAIT_OBJECTS) << "WaitMany of " << count << " events";
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  for (size_t i = 0; i < count; ++i)
    handles[i] = events[i]->handle();
  const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, INFINITE);
  PCHECK(result < WAIT_OBJECT_0 + count) << "WaitForMultipleObjects";
  return result - WAIT_OBJECT_0;
}

}  // namespace base
