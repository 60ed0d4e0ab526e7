#include "base/checked_int64.h"

#include <limits>

namespace base {

int64_t CheckedMulInt64(int64_t x, int64_t y, uint32_t* validity) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  if (x == 0 || y == 0)
    return 0;
  uint32_t code = CHECKED_VALID;
  // The divisions truncate toward zero; none of them can be MIN / -1, because the divisor's sign is known.
  if (x > 0 && y > 0) {
    if (x > kMax / y)
      code = CHECKED_OVERFLOW;
  } else if (x < 0 && y < 0) {
    if (y < kMax / x)
      code = CHECKED_OVERFLOW;
  } else if (x < 0) {
    if (x < kMin / y)
      code = CHECKED_UNDERFLOW;
  } else if (y < kMin / x) {
    code = CHECKED_UNDERFLOW;
  }
  *validity = code;
  // The wrapped product, computed without signed overflow.
  return static_cast<int64_t>(static_cast<uint64_t>(x) * static_cast<uint64_t>(y));
}

CheckedInt64 operator*(const CheckedInt64& a, const CheckedInt64& b) {
  uint32_t code = CHECKED_VALID;
  const int64_t product = CheckedMulInt64(a.value, b.value, &code);
  return CheckedInt64(product, a.validity | b.validity | code);
}

CheckedInt64& CheckedInt64::MultiplyBy(int64_t factor) {
  *this = *this * CheckedInt64(factor);
  return *this;
}

}  // namespace base
