#include "base/strings/dtoa.h"

#include <windows.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "base/strings/number_oracle_test_util.h"
#include "gtest/gtest.h"

namespace base {
namespace fp {
namespace {

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

double FromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

std::string Format(double value) {
  char buffer[kGFmtBufferSize];
  return g_fmt(buffer, value);
}

struct Parsed {
  double value;
  size_t consumed;
  int error;
};
Parsed Parse(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const double value = strtod(text.c_str(), &end);
  return {value, static_cast<size_t>(end - text.c_str()), errno};
}

// Significant digits of a g_fmt text: those of the mantissa without leading or trailing zeros.
int SignificantDigits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == 'e')
      break;
    if (c >= '0' && c <= '9')
      digits += c;
  }
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos)
    return 1;
  return static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

TEST(GFmtTest, Layout) {
  EXPECT_EQ(".1", Format(0.1));
  EXPECT_EQ("1", Format(1.0));
  EXPECT_EQ("1e+21", Format(1e21));
  EXPECT_EQ("1e-05", Format(1e-5));
  EXPECT_EQ(".0001", Format(0.0001));
  EXPECT_EQ("5e-324", Format(5e-324));
  EXPECT_EQ("-0", Format(-0.0));
  EXPECT_EQ("0", Format(0.0));
  EXPECT_EQ(".5", Format(0.5));
  EXPECT_EQ(".001", Format(0.001));
  EXPECT_EQ("-.25", Format(-0.25));
  EXPECT_EQ("100000", Format(1e5));
  EXPECT_EQ("1e+06", Format(1e6));
  EXPECT_EQ("123.25", Format(123.25));
  EXPECT_EQ("1.5e+300", Format(1.5e300));
  EXPECT_EQ("1e+100", Format(1e100));
  EXPECT_EQ("-1e-100", Format(-1e-100));
}

TEST(GFmtTest, FormBoundaries) {
  // Point position -3 is still written out; -4 switches to the exponent.
  EXPECT_EQ(".00015", Format(1.5e-4));
  EXPECT_EQ("1.25e-05", Format(1.25e-5));
  // Up to five trailing zeros are written out; six switch to the exponent.
  EXPECT_EQ("12345600000", Format(123456e5));
  EXPECT_EQ("1.23456e+11", Format(123456e6));
  EXPECT_EQ("9007199254740992", Format(9007199254740992.0));
  EXPECT_EQ("12.5", Format(12.5));
  EXPECT_EQ("1.5", Format(1.5));
  EXPECT_EQ(".30000000000000004", Format(0.1 + 0.2));
  // The shortest text, not the nearest 17 digits.
  EXPECT_EQ("1e+23", Format(1e23));
}

TEST(GFmtTest, ExtremesAndNonFinite) {
  EXPECT_EQ("1.7976931348623157e+308", Format(DBL_MAX));
  const std::string longest = Format(-DBL_MIN);
  EXPECT_EQ("-2.2250738585072014e-308", longest);
  EXPECT_EQ(24u, longest.size());
  EXPECT_EQ("-2.225073858507201e-308", Format(-std::nextafter(DBL_MIN, 0.0)));
  EXPECT_EQ("Infinity", Format(std::numeric_limits<double>::infinity()));
  EXPECT_EQ("-Infinity", Format(-std::numeric_limits<double>::infinity()));
  EXPECT_EQ("NaN", Format(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("-NaN", Format(-std::numeric_limits<double>::quiet_NaN()));
}

TEST(DtoaTest, DigitsAndPointPosition) {
  int point = 0, sign = -1;
  char* end = nullptr;
  char* digits = dtoa(123.25, 0, 0, &point, &sign, &end);
  EXPECT_STREQ("12325", digits);
  EXPECT_EQ(3, point);
  EXPECT_EQ(0, sign);
  EXPECT_EQ(digits + 5, end);
  freedtoa(digits);

  digits = dtoa(-1e-5, 0, 0, &point, &sign, nullptr);
  EXPECT_STREQ("1", digits);
  EXPECT_EQ(-4, point);
  EXPECT_EQ(1, sign);
  freedtoa(digits);

  digits = dtoa(-0.0, 0, 0, &point, &sign, &end);
  EXPECT_STREQ("0", digits);
  EXPECT_EQ(1, point);
  EXPECT_EQ(1, sign);
  freedtoa(digits);

  digits = dtoa(std::numeric_limits<double>::infinity(), 0, 0, &point, &sign, &end);
  EXPECT_STREQ("Infinity", digits);
  EXPECT_EQ(kNonFiniteDecimalPoint, point);
  EXPECT_EQ(digits + 8, end);
  freedtoa(digits);

  digits = dtoa(-std::numeric_limits<double>::quiet_NaN(), 0, 0, &point, &sign, &end);
  EXPECT_STREQ("NaN", digits);
  EXPECT_EQ(kNonFiniteDecimalPoint, point);
  EXPECT_EQ(1, sign);
  freedtoa(digits);

  // Trailing zeros are never part of the digits.
  digits = dtoa(1e22, 0, 0, &point, &sign, &end);
  EXPECT_STREQ("1", digits);
  EXPECT_EQ(23, point);
  freedtoa(digits);
}

TEST(DtoaDeathTest, FixedLengthModesAreNotBuilt) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  int point, sign;
  EXPECT_EXIT(dtoa(1.5, 2, 5, &point, &sign, nullptr),
              ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "dtoa mode 2 is not built");
}

TEST(StrtodTest, EdgeCases) {
  Parsed p = Parse("1e");
  EXPECT_EQ(1.0, p.value);
  EXPECT_EQ(1u, p.consumed);
  p = Parse("-inf");
  EXPECT_EQ(-std::numeric_limits<double>::infinity(), p.value);
  EXPECT_EQ(4u, p.consumed);
  p = Parse("0x10");
  EXPECT_EQ(0.0, p.value);
  EXPECT_EQ(1u, p.consumed);
  p = Parse("1e400");
  EXPECT_EQ(std::numeric_limits<double>::infinity(), p.value);
  EXPECT_EQ(ERANGE, p.error);
  EXPECT_EQ(5u, p.consumed);
  p = Parse("-1e-400");
  EXPECT_EQ(Bits(-0.0), Bits(p.value));
  EXPECT_EQ(ERANGE, p.error);
  // Exactly zero is no underflow, whatever the exponent.
  p = Parse("0e-99999");
  EXPECT_EQ(0.0, p.value);
  EXPECT_EQ(0, p.error);
  EXPECT_EQ(8u, p.consumed);
  // A subnormal result is no range error.
  p = Parse("4.9406564584124654e-324");
  EXPECT_EQ(FromBits(1), p.value);
  EXPECT_EQ(0, p.error);
}

TEST(StrtodTest, NoNumberLeavesTheEndAtTheStart) {
  for (const char* text : {"", " ", "  -", "+", ".", "-.", " .e5", "e5", "in", "na", "x1", "--1", "+-1"}) {
    const Parsed p = Parse(text);
    EXPECT_EQ(0u, p.consumed) << '"' << text << '"';
    EXPECT_EQ(Bits(0.0), Bits(p.value)) << '"' << text << '"';
  }
}

TEST(StrtodTest, InfinityAndNaNSpellings) {
  const double inf = std::numeric_limits<double>::infinity();
  Parsed p = Parse("INFINITY");
  EXPECT_EQ(inf, p.value);
  EXPECT_EQ(8u, p.consumed);
  p = Parse("infinit");  // not the long word: only "inf" is taken
  EXPECT_EQ(inf, p.value);
  EXPECT_EQ(3u, p.consumed);
  p = Parse(" +Inf");
  EXPECT_EQ(inf, p.value);
  EXPECT_EQ(5u, p.consumed);
  p = Parse("NaN");
  EXPECT_TRUE(std::isnan(p.value));
  EXPECT_EQ(3u, p.consumed);
  p = Parse("-nan(1f)");
  EXPECT_TRUE(std::isnan(p.value));
  EXPECT_TRUE(std::signbit(p.value));
  EXPECT_EQ(0x1Fu, Bits(p.value) & 0xFFFFFFFFu);
  EXPECT_EQ(8u, p.consumed);
  p = Parse("nan(12");  // an unclosed payload is not part of the number
  EXPECT_TRUE(std::isnan(p.value));
  EXPECT_EQ(3u, p.consumed);
  // A zero payload still gives a NaN, never infinity.
  p = Parse("nan(0)");
  EXPECT_TRUE(std::isnan(p.value));
  EXPECT_EQ(6u, p.consumed);
  EXPECT_EQ(0u, Parse("nan").error);
}

TEST(StrtodTest, ErrnoIsKeptWithoutRangeError) {
  errno = EDOM;
  char* end;
  EXPECT_EQ(2.5, strtod("2.5", &end));
  EXPECT_EQ(EDOM, errno);
  EXPECT_EQ(0.0, strtod("junk", &end));
  EXPECT_EQ(EDOM, errno);
  EXPECT_EQ(std::numeric_limits<double>::infinity(), strtod("1e309", &end));
  EXPECT_EQ(ERANGE, errno);
}

// A long digit string is still rounded as a whole: the digits far beyond the 17th decide the direction.
TEST(StrtodTest, FarDigitsDecideTheRounding) {
  // 1 + 2^-53 is halfway between 1 and the next double: ties go to the even 1.
  const std::string halfway = "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(1.0, Parse(halfway).value);
  EXPECT_EQ(std::nextafter(1.0, 2.0), Parse(halfway + std::string(2000, '0') + "1").value);
  EXPECT_EQ(1.0, Parse("1.000000000000000111022302462515654042363166809082031249" + std::string(2000, '9')).value);
  // The same digits spread over a long run of leading zeros and a compensating exponent.
  EXPECT_EQ(1.0, Parse("0." + std::string(3000, '0') + "1e3001").value);
  EXPECT_EQ(1.0, Parse(std::string(3000, '0') + "1" + std::string(3000, '0') + "e-3000").value);
  // Huge exponents saturate without overflowing the exponent itself.
  EXPECT_EQ(std::numeric_limits<double>::infinity(), Parse("1e99999999999999999999999999").value);
  EXPECT_EQ(0.0, Parse("1e-99999999999999999999999999").value);
  // Many digits do not make a huge negative exponent lose: 1 followed by 20000 zeros times 10^-20000 is 1.
  EXPECT_EQ(1.0, Parse("1" + std::string(20000, '0') + "e-20000").value);
}

// 1,000,000 doubles of every kind (random bit patterns, subnormals, powers of ten and two with their
// neighbours, short decimals, integers): the text reads back to the same bits and has exactly as many
// significant digits as the shortest round-trip text that glibc's exact printf and strtod found. The texts
// go to printed.txt, where glibc's strtod reads them back after the tests (testdata/numbers_check.sh); the
// C runtime's own strtod here is not correctly rounded, so it cannot be the judge.
TEST(DoubleTextOracleTest, ShortestRoundTrip) {
  std::string records;
  ASSERT_TRUE(test::ReadNumberOracleFile("doubles.bin", &records));
  ASSERT_EQ(9000000u, records.size());
  size_t subnormals = 0, exponential = 0;
  std::string printed;
  for (size_t offset = 0; offset < records.size(); offset += 9) {
    uint64_t bits = 0;
    for (int b = 0; b < 8; ++b)
      bits |= static_cast<uint64_t>(static_cast<unsigned char>(records[offset + b])) << (8 * b);
    const int shortest = static_cast<unsigned char>(records[offset + 8]);
    const double value = FromBits(bits);
    char buffer[kGFmtBufferSize];
    const std::string text = g_fmt(buffer, value);
    ASSERT_LE(text.size(), 24u) << text;
    if (std::isnan(value)) {
      ASSERT_EQ(std::signbit(value) ? "-NaN" : "NaN", text);
      continue;
    }
    if (std::isinf(value)) {
      ASSERT_EQ(value < 0 ? "-Infinity" : "Infinity", text);
      continue;
    }
    subnormals += (bits & 0x7FF0000000000000u) == 0 && value != 0;
    exponential += text.find('e') != std::string::npos;
    char* end = nullptr;
    ASSERT_EQ(bits, Bits(strtod(text.c_str(), &end))) << text;
    ASSERT_EQ(text.c_str() + text.size(), end) << text;
    ASSERT_EQ(shortest, SignificantDigits(text)) << text << " bits " << std::hex << bits;
    char line[64];
    std::snprintf(line, sizeof(line), "%016llx\t%s\n", static_cast<unsigned long long>(bits), text.c_str());
    printed += line;
  }
  ASSERT_TRUE(test::WriteNumberOracleFile("printed.txt", printed));
  EXPECT_GT(subnormals, 50000u);
  EXPECT_GT(exponential, 500000u);
}

// 150,000 decimal texts (short and very long mantissas, exponents near the limits, exact halfway points
// between doubles and texts just beside them, odd syntax) against glibc's strtod.
TEST(DoubleTextOracleTest, ParsingAgreesWithGlibc) {
  std::vector<std::vector<std::string>> records;
  ASSERT_TRUE(test::ReadNumberOracleRecords("strtod.txt", &records));
  ASSERT_EQ(150000u, records.size());
  size_t range_errors = 0;
  for (const std::vector<std::string>& record : records) {
    ASSERT_EQ(4u, record.size());
    const std::string& text = record[0];
    const uint64_t expected_bits = test::OracleHexBits(record[1]);
    const double expected = FromBits(expected_bits);
    // glibc also reports ERANGE for inexact subnormal results; here only overflow and underflow to 0 do.
    const bool expect_range_error = record[2] == "1" && (std::isinf(expected) || expected == 0);
    const size_t expected_consumed = static_cast<size_t>(test::OracleInt64(record[3]));

    errno = EDOM;
    char* end = nullptr;
    const double value = strtod(text.c_str(), &end);
    if (std::isnan(expected)) {  // glibc reads NaN payloads differently; only NaN and its sign must agree
      ASSERT_TRUE(std::isnan(value)) << '"' << text << '"';
      ASSERT_EQ(std::signbit(expected), std::signbit(value)) << '"' << text << '"';
    } else {
      ASSERT_EQ(expected_bits, Bits(value)) << '"' << text << '"';
    }
    ASSERT_EQ(expected_consumed, static_cast<size_t>(end - text.c_str())) << '"' << text << '"';
    ASSERT_EQ(expect_range_error ? ERANGE : EDOM, errno) << '"' << text << '"';
    range_errors += expect_range_error;
  }
  EXPECT_GT(range_errors, 1000u);
}

// Conversions keep no state: threads converting at once get what one thread alone gets.
TEST(DtoaConcurrencyTest, ThreadsConvertIndependently) {
  std::vector<double> values;
  for (int i = 0; i < 20000; ++i)
    values.push_back(std::ldexp(1.0 + i / 20000.0, (i % 600) - 300) * ((i & 1) ? -1 : 1));
  std::vector<std::string> expected;
  for (double value : values)
    expected.push_back(Format(value));
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < values.size(); ++i) {
        const std::string text = Format(values[i]);
        char* end;
        if (text != expected[i] || strtod(text.c_str(), &end) != values[i])
          ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(std::vector<int>(4, 0), mismatches);
}

}  // namespace
}  // namespace fp
}  // namespace base
