// Durations (TimeDelta), wall-clock instants (Time), a monotonic clock (TimeTicks) and per-thread CPU time
// (ThreadTicks), each one signed 64-bit count of microseconds.
//
// Arithmetic saturates: a result above INT64_MAX is INT64_MAX (the "maximum", e.g. an infinite duration) and
// a result below -INT64_MAX is -INT64_MAX (INT64_MIN + 1), so that negating a saturated value stays in range.
#ifndef BASE_TIME_TIME_H_
#define BASE_TIME_TIME_H_

#include <windows.h>

#include <compare>
#include <cstdint>
#include <limits>

#include "base/checked_int64.h"

namespace base {

namespace time_internal {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kSaturatedMin = -kMax;

// a + b and a - b, saturated to [-INT64_MAX, INT64_MAX].
int64_t SaturatedAdd(int64_t a, int64_t b);
int64_t SaturatedSub(int64_t a, int64_t b);

}  // namespace time_internal

class TimeDelta {
 public:
  constexpr TimeDelta() = default;

  static TimeDelta FromSeconds(int64_t seconds);
  static TimeDelta FromMilliseconds(int64_t milliseconds);
  static constexpr TimeDelta FromMicroseconds(int64_t microseconds) { return TimeDelta(microseconds); }
  // The value of a checked computation; an overflow gives Max() (also when an underflow was seen too), an
  // underflow -Max().
  static TimeDelta FromCheckedValue(const CheckedInt64& value);
  static constexpr TimeDelta FromInternalValue(int64_t delta) { return TimeDelta(delta); }
  static constexpr TimeDelta Max() { return TimeDelta(time_internal::kMax); }

  constexpr int64_t ToInternalValue() const { return delta_; }
  constexpr bool is_zero() const { return delta_ == 0; }
  constexpr bool is_max() const { return delta_ == time_internal::kMax; }

  constexpr int64_t InMicroseconds() const { return delta_; }
  // Truncated toward zero; the maximum stays INT64_MAX.
  int64_t InMilliseconds() const;
  // The maximum gives +infinity.
  double InMillisecondsF() const;
  // The smallest whole number of milliseconds not below the duration; the maximum stays INT64_MAX.
  int64_t InMillisecondsRoundedUp() const;

  TimeDelta operator+(TimeDelta other) const { return TimeDelta(time_internal::SaturatedAdd(delta_, other.delta_)); }
  TimeDelta operator-(TimeDelta other) const { return TimeDelta(time_internal::SaturatedSub(delta_, other.delta_)); }
  TimeDelta operator-() const { return TimeDelta(time_internal::SaturatedSub(0, delta_)); }
  TimeDelta& operator+=(TimeDelta other) { return *this = *this + other; }
  TimeDelta& operator-=(TimeDelta other) { return *this = *this - other; }
  constexpr auto operator<=>(const TimeDelta&) const = default;

 private:
  constexpr explicit TimeDelta(int64_t delta) : delta_(delta) {}
  int64_t delta_ = 0;
};

// Shared behaviour of the three instant types: saturating arithmetic with TimeDelta and comparisons.
template <typename Derived>
class TimeBase {
 public:
  constexpr bool is_null() const { return us_ == 0; }
  constexpr bool is_max() const { return us_ == time_internal::kMax; }
  constexpr int64_t ToInternalValue() const { return us_; }
  static constexpr Derived FromInternalValue(int64_t us) { return Derived(us); }
  static constexpr Derived Max() { return Derived(time_internal::kMax); }

  TimeDelta operator-(Derived other) const {
    return TimeDelta::FromMicroseconds(time_internal::SaturatedSub(us_, other.us_));
  }
  Derived operator+(TimeDelta delta) const { return Derived(time_internal::SaturatedAdd(us_, delta.InMicroseconds())); }
  Derived operator-(TimeDelta delta) const { return Derived(time_internal::SaturatedSub(us_, delta.InMicroseconds())); }
  Derived& operator+=(TimeDelta delta) { return static_cast<Derived&>(*this) = *this + delta; }
  Derived& operator-=(TimeDelta delta) { return static_cast<Derived&>(*this) = *this - delta; }
  constexpr auto operator<=>(const TimeBase&) const = default;

 protected:
  constexpr explicit TimeBase(int64_t us) : us_(us) {}
  int64_t us_;
};

// Microseconds since 1601-01-01 00:00:00 UTC, the epoch of Windows file times.
class Time : public TimeBase<Time> {
 public:
  // Microseconds from the file-time epoch to 1970-01-01 00:00:00 UTC.
  static constexpr int64_t kTimeTToMicrosecondsOffset = 11644473600000000;

  // The calendar fields of a SYSTEMTIME: month 1 to 12, day_of_week 0 (Sunday) to 6.
  struct Exploded {
    int year;
    int month;
    int day_of_week;
    int day_of_month;
    int hour;
    int minute;
    int second;
    int millisecond;
  };

  constexpr Time() : TimeBase(0) {}

  // The system time with the monotonic clock's resolution, re-synchronised with the system time at least
  // once a minute.
  static Time Now();

  // 0 gives the null time, 0xFFFFFFFF'FFFFFFFF the maximum.
  static Time FromFileTime(FILETIME file_time);
  // Seconds since 1970 truncated toward zero; the null time gives 0, times too large for the result
  // INT64_MAX.
  int64_t ToTimeT() const;

  // The calendar form in UTC or in the current time zone. False, with every field 0, when the time is
  // negative or beyond what the system converts.
  bool Explode(bool is_local, Exploded* exploded) const;
  bool UTCExplode(Exploded* exploded) const { return Explode(false, exploded); }
  bool LocalExplode(Exploded* exploded) const { return Explode(true, exploded); }

  // The time of calendar fields in UTC or in the current time zone (day_of_week is ignored); the null time
  // when the fields name no valid date.
  static Time FromExploded(bool is_local, const Exploded& exploded);
  static Time FromUTCExploded(const Exploded& exploded) { return FromExploded(false, exploded); }
  static Time FromLocalExploded(const Exploded& exploded) { return FromExploded(true, exploded); }

  // The lowest value that saturating arithmetic reaches: -Max().
  static constexpr Time Min() { return Time(time_internal::kSaturatedMin); }

  // Counted: the first activation asks the system timer for a 4 ms period, the last deactivation gives it
  // back. Message loops use it while they have short delayed tasks.
  static void ActivateHighResolutionTimer(bool activate);

 private:
  friend class TimeBase<Time>;
  constexpr explicit Time(int64_t us) : TimeBase(us) {}
};

// A monotonic clock with an arbitrary origin, the fastest reliable one of the machine.
class TimeTicks : public TimeBase<TimeTicks> {
 public:
  constexpr TimeTicks() : TimeBase(0) {}
  static TimeTicks Now();

 private:
  friend class TimeBase<TimeTicks>;
  constexpr explicit TimeTicks(int64_t us) : TimeBase(us) {}
};

// The CPU time that a thread has used.
class ThreadTicks : public TimeBase<ThreadTicks> {
 public:
  constexpr ThreadTicks() : TimeBase(0) {}

  // Whether the system and the processor can measure it (decided once per process). Ask before Now().
  static bool IsSupported();
  // The current thread's CPU time; the null value while the processor's rate is not yet known or when the
  // system cannot tell.
  static ThreadTicks Now();
  static ThreadTicks GetForThread(HANDLE thread);

 private:
  friend class TimeBase<ThreadTicks>;
  constexpr explicit ThreadTicks(int64_t us) : TimeBase(us) {}
};

}  // namespace base

#endif  // BASE_TIME_TIME_H_
