// Pieces of the Windows clocks that tests reach directly.
#ifndef BASE_TIME_TIME_WIN_INTERNAL_H_
#define BASE_TIME_TIME_WIN_INTERNAL_H_

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {

class CPU;

namespace time_internal {

// A performance-counter reading in microseconds, without overflow for any reading.
int64_t QPCValueToMicroseconds(int64_t qpc_value, int64_t frequency);

// The old AMD Athlon 64 / Opteron family 0x0F, whose time-stamp counters drift between cores.
bool IsAmdFamily0F(const CPU& cpu);

// Turns 32-bit millisecond readings that wrap every 49.7 days into a count that keeps growing.
class RolloverClock {
 public:
  constexpr RolloverClock() = default;
  RolloverClock(const RolloverClock&) = delete;
  RolloverClock& operator=(const RolloverClock&) = delete;

  // The reading (milliseconds) plus the accumulated rollover, as a duration.
  TimeDelta Advance(DWORD now_ms);

 private:
  Lock lock_;
  DWORD last_seen_ms_ = 0;
  int64_t rollover_ms_ = 0;
};

// The wall-clock anchor of Time::Now: a time and the clock ticks at which it was taken, always read as the
// pair that was stored together (a sequence lock: writers make the sequence odd while they write).
class TimeAnchor {
 public:
  constexpr TimeAnchor() = default;
  TimeAnchor(const TimeAnchor&) = delete;
  TimeAnchor& operator=(const TimeAnchor&) = delete;

  // Stores a pair unless another thread is storing one at this moment (its pair is as good).
  void TryStore(int64_t time_us, int64_t ticks_us);
  // False while nothing was stored yet.
  bool Load(int64_t* time_us, int64_t* ticks_us) const;

 private:
  std::atomic<uint64_t> sequence_{0};
  std::atomic<int64_t> time_us_{0};
  std::atomic<int64_t> ticks_us_{0};
};

// Replaces timeBeginPeriod and timeEndPeriod for the high-resolution timer switch (null restores them).
using TimerPeriodFunction = MMRESULT(WINAPI*)(UINT);
void SetTimerPeriodFunctionsForTesting(TimerPeriodFunction begin, TimerPeriodFunction end);

// Replaces the clock of TimeTicks::Now (microseconds) and gives back the one it replaces: the first time, the
// clock chosen at start-up.
using TickFunction = int64_t (*)();
TickFunction SetTickFunctionForTesting(TickFunction function);

}  // namespace time_internal
}  // namespace base

#endif  // BASE_TIME_TIME_WIN_INTERNAL_H_
