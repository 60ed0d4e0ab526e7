// Signed 64-bit multiplication that reports overflow instead of wrapping silently. Time spans are built with
// it from milliseconds and seconds, so that a huge delay saturates instead of turning negative.
#ifndef BASE_CHECKED_INT64_H_
#define BASE_CHECKED_INT64_H_

#include <cstdint>

namespace base {

// Validity codes of a checked result. They combine by bitwise OR: 3 means both limits were crossed on the way.
enum CheckedValidity : uint32_t {
  CHECKED_VALID = 0,
  CHECKED_UNDERFLOW = 1,  // the true result is below the minimum
  CHECKED_OVERFLOW = 2,   // the true result is above the maximum
};

// x * y wrapped to 64 bits. Writes the validity code of this multiplication to *validity, except when x or y
// is 0: then the result is 0 and *validity is left as it was (callers start it at CHECKED_VALID).
int64_t CheckedMulInt64(int64_t x, int64_t y, uint32_t* validity);

// A 64-bit value that remembers whether any operation that made it went out of range. The value means
// something only while the validity is CHECKED_VALID.
struct CheckedInt64 {
  constexpr CheckedInt64() = default;
  constexpr CheckedInt64(int64_t v) : value(v) {}  // NOLINT: a plain number is a valid checked value
  constexpr CheckedInt64(int64_t v, uint32_t code) : value(v), validity(code) {}

  bool IsValid() const { return validity == CHECKED_VALID; }

  // this = this * {factor, valid}.
  CheckedInt64& MultiplyBy(int64_t factor);

  friend CheckedInt64 operator*(const CheckedInt64& a, const CheckedInt64& b);

  int64_t value = 0;
  uint32_t validity = CHECKED_VALID;
};

}  // namespace base

#endif  // BASE_CHECKED_INT64_H_
