// The millisecond argument of a Windows wait for a duration: whole milliseconds, truncated, held in the
// unsigned 32-bit range. A negative duration only polls (0); one of 0xFFFFFFFF ms or more waits without a
// limit (INFINITE), never a short time made of its low bits.
#ifndef BASE_SYNCHRONIZATION_WAIT_DURATION_H_
#define BASE_SYNCHRONIZATION_WAIT_DURATION_H_

#include <windows.h>

#include <cstdint>

#include "base/time/time.h"

namespace base {

inline DWORD WaitMillisecondsFor(TimeDelta duration) {
  const int64_t milliseconds = duration.InMilliseconds();
  if (milliseconds <= 0)
    return 0;
  if (milliseconds >= static_cast<int64_t>(INFINITE))
    return INFINITE;
  return static_cast<DWORD>(milliseconds);
}

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_WAIT_DURATION_H_
