#include "base/time/time.h"

namespace base {
namespace time_internal {
// Both wrap in unsigned arithmetic (no signed overflow) and tell an overflow by the signs.
int64_t SaturatedAdd(int64_t a, int64_t b) {
  const int64_t wrapped = static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
  // a + b overflows when a and b have the same sign and the result's sign differs.
  if (((a ^ wrapped) & (b ^ wrapped)) < 0)
    return a < 0 ? kSaturatedMin : kMax;
  return wrapped == std::numeric_limits<int64_t>::min() ? kSaturatedMin : wrapped;
}

int64_t SaturatedSub(int64_t a, int64_t b) {
  const int64_t wrapped = static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
  // a - b overflows when a and b have different signs and the result's sign differs from a's.
  if (((a ^ b) & (a ^ wrapped)) < 0)
    return a < 0 ? kSaturatedMin : kMax;
  return wrapped == std::numeric_limits<int64_t>::min() ? kSaturatedMin : wrapped;
}

}  // namespace time_internal

// static
TimeDelta TimeDelta::FromSeconds(int64_t seconds) {
  return FromCheckedValue(CheckedInt64(seconds) * CheckedInt64(1000000));
}

// static
TimeDelta TimeDelta::FromMilliseconds(int64_t milliseconds) {
  return FromCheckedValue(CheckedInt64(milliseconds) * CheckedInt64(1000));
}

// static
TimeDelta TimeDelta::FromCheckedValue(const CheckedInt64& value) {
  if (value.validity & CHECKED_OVERFLOW)
    return Max();
  if (value.validity & CHECKED_UNDERFLOW)
    return TimeDelta(time_internal::kSaturatedMin);
  return TimeDelta(value.value);
}

int64_t TimeDelta::InMilliseconds() const {
  if (is_max())
    return time_internal::kMax;
  return delta_ / 1000;
}

double TimeDelta::InMillisecondsF() const {
  if (is_max())
    return std::numeric_limits<double>::infinity();
  return static_cast<double>(delta_) / 1000.0;
}

int64_t TimeDelta::InMillisecondsRoundedUp() const {
  if (is_max())
    return time_internal::kMax;
  // Truncation moves positive values down and negative values up; only the former need the extra step.
  const int64_t truncated = delta_ / 1000;
  return delta_ % 1000 > 0 ? truncated + 1 : truncated;
}

// static
Time Time::FromFileTime(FILETIME file_time) {
  const uint64_t value = (static_cast<uint64_t>(file_time.dwHighDateTime) << 32) | file_time.dwLowDateTime;
  if (value == 0)
    return Time();
  if (value == UINT64_MAX)
    return Max();
  return Time(static_cast<int64_t>(value / 10));
}

int64_t Time::ToTimeT() const {
  if (is_null())
    return 0;
  if (us_ >= time_internal::kMax - kTimeTToMicrosecondsOffset)
    return time_internal::kMax;
  return time_internal::SaturatedSub(us_, kTimeTToMicrosecondsOffset) / 1000000;
}

}  // namespace base
