#include "base/checked_int64.h"

#include <cstdint>
#include <limits>
#include <random>

#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// The exact product in 128 bits is the oracle for both the wrapped value and the validity.
struct Expected {
  int64_t value;
  uint32_t validity;
};
Expected ExactProduct(int64_t x, int64_t y) {
  const __int128 exact = static_cast<__int128>(x) * y;
  uint32_t validity = CHECKED_VALID;
  if (exact > kMax)
    validity = CHECKED_OVERFLOW;
  else if (exact < kMin)
    validity = CHECKED_UNDERFLOW;
  return {static_cast<int64_t>(static_cast<uint64_t>(static_cast<unsigned __int128>(exact))), validity};
}

uint32_t ValidityOf(int64_t x, int64_t y) {
  uint32_t validity = CHECKED_VALID;
  CheckedMulInt64(x, y, &validity);
  return validity;
}

TEST(CheckedMulInt64Test, LimitsAndSigns) {
  EXPECT_EQ(CHECKED_VALID, ValidityOf(kMin, 1));
  EXPECT_EQ(CHECKED_VALID, ValidityOf(1, kMin));
  EXPECT_EQ(CHECKED_OVERFLOW, ValidityOf(-1, kMin));
  EXPECT_EQ(CHECKED_OVERFLOW, ValidityOf(kMin, -1));
  EXPECT_EQ(CHECKED_VALID, ValidityOf(kMax, -1));
  EXPECT_EQ(CHECKED_VALID, ValidityOf(-1, kMax));
  EXPECT_EQ(CHECKED_OVERFLOW, ValidityOf(kMin, kMin));
  EXPECT_EQ(CHECKED_UNDERFLOW, ValidityOf(kMin, kMax));
  EXPECT_EQ(CHECKED_UNDERFLOW, ValidityOf(kMax, kMin));
  EXPECT_EQ(CHECKED_OVERFLOW, ValidityOf(kMax, 2));
  // The millisecond and second factors of time spans.
  EXPECT_EQ(CHECKED_VALID, ValidityOf(9223372036854775, 1000));
  EXPECT_EQ(CHECKED_OVERFLOW, ValidityOf(9223372036854776, 1000));
  EXPECT_EQ(CHECKED_VALID, ValidityOf(-9223372036854775, 1000));
  EXPECT_EQ(CHECKED_UNDERFLOW, ValidityOf(-9223372036854776, 1000));
  EXPECT_EQ(CHECKED_UNDERFLOW, ValidityOf(1000, -9223372036854776));
  EXPECT_EQ(CHECKED_VALID, ValidityOf(-9223372036854, 1000000));
  EXPECT_EQ(CHECKED_UNDERFLOW, ValidityOf(-9223372036855, 1000000));
}

TEST(CheckedMulInt64Test, ProductIsWrappedEvenWhenInvalid) {
  uint32_t validity = CHECKED_VALID;
  EXPECT_EQ(kMin, CheckedMulInt64(kMin, -1, &validity));
  EXPECT_EQ(-2, CheckedMulInt64(kMax, 2, &validity));
  EXPECT_EQ(CHECKED_OVERFLOW, validity);
}

TEST(CheckedMulInt64Test, ZeroLeavesTheValidityUntouched) {
  uint32_t validity = CHECKED_UNDERFLOW | CHECKED_OVERFLOW;
  EXPECT_EQ(0, CheckedMulInt64(0, kMin, &validity));
  EXPECT_EQ(0, CheckedMulInt64(kMax, 0, &validity));
  EXPECT_EQ(CHECKED_UNDERFLOW | CHECKED_OVERFLOW, validity);
  // A valid multiplication overwrites a stale code.
  EXPECT_EQ(6, CheckedMulInt64(2, 3, &validity));
  EXPECT_EQ(CHECKED_VALID, validity);
}

// Operands concentrated near the limits and the quotient boundaries, where a wrong comparison shows.
TEST(CheckedMulInt64Test, AgreesWithTheExactProduct) {
  std::mt19937_64 random(0x5eed1234);
  auto operand = [&random]() -> int64_t {
    const uint64_t bits = random();
    switch (bits % 4) {
      case 0:
        return static_cast<int64_t>(bits);
      case 1:  // small magnitudes
        return static_cast<int64_t>(bits >> 40) - (int64_t{1} << 23);
      case 2: {  // a quotient of a limit by a small number, nudged by one
        const int64_t divisor = static_cast<int64_t>((bits >> 8) % 2000000) + 1;
        const int64_t limit = (bits & 16) ? kMax : kMin;
        return limit / divisor + static_cast<int64_t>((bits >> 5) % 3) - 1;
      }
      default:  // a random magnitude of random width
        return static_cast<int64_t>(bits) >> ((bits >> 58) & 63);
    }
  };
  for (int i = 0; i < 200000; ++i) {
    const int64_t x = operand();
    const int64_t y = (i % 2) ? operand() : static_cast<int64_t>(random() % 4000001) - 2000000;
    const Expected expected = ExactProduct(x, y);
    constexpr uint32_t kStale = 0xdead;  // must be overwritten, except when an operand is 0
    uint32_t validity = kStale;
    const int64_t product = CheckedMulInt64(x, y, &validity);
    ASSERT_EQ(expected.value, product) << x << " * " << y;
    ASSERT_EQ((x == 0 || y == 0) ? kStale : expected.validity, validity) << x << " * " << y;
  }
}

TEST(CheckedInt64Test, CodesAccumulate) {
  CheckedInt64 a(kMax);
  a.MultiplyBy(2);
  EXPECT_EQ(CHECKED_OVERFLOW, a.validity);
  EXPECT_FALSE(a.IsValid());
  // A later valid multiplication keeps the earlier code.
  a.value = 3;
  a.MultiplyBy(5);
  EXPECT_EQ(15, a.value);
  EXPECT_EQ(CHECKED_OVERFLOW, a.validity);
  // An underflow is added to it.
  a.value = kMin;
  a.MultiplyBy(2);
  EXPECT_EQ(CHECKED_UNDERFLOW | CHECKED_OVERFLOW, a.validity);
}

TEST(CheckedInt64Test, OperatorCombinesBothOperands) {
  const CheckedInt64 under(7, CHECKED_UNDERFLOW);
  const CheckedInt64 over(11, CHECKED_OVERFLOW);
  const CheckedInt64 product = under * over;
  EXPECT_EQ(77, product.value);
  EXPECT_EQ(CHECKED_UNDERFLOW | CHECKED_OVERFLOW, product.validity);

  const CheckedInt64 fine = CheckedInt64(-9223372036854775) * CheckedInt64(1000);
  EXPECT_TRUE(fine.IsValid());
  EXPECT_EQ(-9223372036854775000, fine.value);

  const CheckedInt64 seconds = CheckedInt64(kMax / 1000000 + 1) * CheckedInt64(1000000);
  EXPECT_EQ(CHECKED_OVERFLOW, seconds.validity);
  // Multiplying by zero yields a zero whose validity is that of the operands alone.
  const CheckedInt64 zero = CheckedInt64(0) * over;
  EXPECT_EQ(0, zero.value);
  EXPECT_EQ(CHECKED_OVERFLOW, zero.validity);
}

}  // namespace
}  // namespace base
