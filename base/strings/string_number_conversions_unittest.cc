#include "base/strings/string_number_conversions.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/strings/number_oracle_test_util.h"
#include "gtest/gtest.h"

namespace base {
namespace {

template <typename Int>
struct ParseResult {
  Int value;
  bool ok;
  bool operator==(const ParseResult& other) const { return value == other.value && ok == other.ok; }
};
template <typename Int>
std::ostream& operator<<(std::ostream& out, const ParseResult<Int>& result) {
  return out << "{" << +result.value << ", " << (result.ok ? "true" : "false") << "}";
}

// Runs a parser with an output that holds garbage, so that a parser that forgets to write it is caught.
template <typename Int, typename Piece>
ParseResult<Int> ParseWith(bool (*parser)(Piece, Int*), Piece text) {
  Int value = static_cast<Int>(0x5A5A5A5A5A5A5A5Au);
  const bool ok = parser(text, &value);
  return {value, ok};
}
template <typename Int>
ParseResult<Int> Parse(bool (*parser)(StringPiece, Int*), const std::string& text) {
  return ParseWith(parser, StringPiece(text));
}
ParseResult<unsigned> RunWide(const std::wstring& text) {
  bool (*parser)(StringPiece16, unsigned*) = &StringToUint;
  return ParseWith(parser, StringPiece16(text));
}

template <typename Int>
ParseResult<Int> R(Int value, bool ok) {
  return {value, ok};
}

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr unsigned kUintMax = std::numeric_limits<unsigned>::max();
constexpr uint64_t kUint64Max = std::numeric_limits<uint64_t>::max();

TEST(IntegerParsingTest, SignedDecimalLimits) {
  EXPECT_EQ(R(kIntMax, true), Parse(&StringToInt, "2147483647"));
  EXPECT_EQ(R(kIntMax, false), Parse(&StringToInt, "2147483648"));
  EXPECT_EQ(R(kIntMin, true), Parse(&StringToInt, "-2147483648"));
  EXPECT_EQ(R(kIntMin, false), Parse(&StringToInt, "-2147483649"));
  EXPECT_EQ(R(kIntMax, false), Parse(&StringToInt, "99999999999999999999"));
  EXPECT_EQ(R(kIntMin, false), Parse(&StringToInt, "-99999999999999999999x"));
  EXPECT_EQ(R(-214748364, true), Parse(&StringToInt, "-214748364"));
  EXPECT_EQ(R(kIntMax, true), Parse(&StringToInt, "+002147483647"));
}

TEST(IntegerParsingTest, SignsWhitespaceAndStrayCharacters) {
  EXPECT_EQ(R(0u, false), Parse(&StringToUint, "-0"));
  EXPECT_EQ(R(0u, false), Parse(&StringToUint, "-5"));
  EXPECT_EQ(R(7u, true), Parse(&StringToUint, "+7"));
  EXPECT_EQ(R(7u, false), Parse(&StringToUint, " 7"));
  EXPECT_EQ(R(7u, false), Parse(&StringToUint, "7 "));
  EXPECT_EQ(R(0u, false), Parse(&StringToUint, " -7"));
  EXPECT_EQ(R(12, false), Parse(&StringToInt, "12a"));
  EXPECT_EQ(R(42, false), Parse(&StringToInt, "\t\n\v\f\r 42"));
  EXPECT_EQ(R(-3, false), Parse(&StringToInt, "-3x9"));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "+-1"));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "--1"));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "-"));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "+"));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, ""));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "   "));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "- 1"));
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "0x10"));  // decimal parsers take no prefix
  EXPECT_EQ(R(0, false), Parse(&StringToInt, "\xA0" "1"));  // high bytes are never whitespace
  // The view's length counts, not a terminating NUL.
  EXPECT_EQ(R(12, true), ParseWith(&StringToInt, StringPiece("123", 2)));
  EXPECT_EQ(R(1, false), ParseWith(&StringToInt, StringPiece("1\0" "2", 3)));
  // The logging switches take the number before the first stray character.
  EXPECT_EQ(R(3, false), Parse(&StringToInt, "3x"));
}

TEST(IntegerParsingTest, UnsignedLimits) {
  EXPECT_EQ(R(kUintMax, true), Parse(&StringToUint, "4294967295"));
  EXPECT_EQ(R(kUintMax, false), Parse(&StringToUint, "4294967296"));
  EXPECT_EQ(R(kUintMax, false), Parse(&StringToUint, "42949672950"));
  EXPECT_EQ(R(kUint64Max, true), Parse(&StringToUint64, "18446744073709551615"));
  EXPECT_EQ(R(kUint64Max, false), Parse(&StringToUint64, "18446744073709551616"));
  EXPECT_EQ(R(uint64_t{1844674407370955161}, true), Parse(&StringToUint64, "1844674407370955161"));
  EXPECT_EQ(R(uint64_t{0}, false), Parse(&StringToUint64, "-18446744073709551615"));
}

TEST(IntegerParsingTest, Hexadecimal) {
  EXPECT_EQ(R(0, false), Parse(&HexStringToInt, "0x"));
  EXPECT_EQ(R(0, false), Parse(&HexStringToInt, "0X"));
  EXPECT_EQ(R(1, true), Parse(&HexStringToInt, "0x1"));
  EXPECT_EQ(R(-16, true), Parse(&HexStringToInt, "-0x10"));
  EXPECT_EQ(R(0, false), Parse(&HexStringToInt, "-0x"));  // only two characters from the '0' on
  EXPECT_EQ(R(0, false), Parse(&HexStringToInt, "0xg"));
  EXPECT_EQ(R(0, false), Parse(&HexStringToInt, "0x0x1"));
  EXPECT_EQ(R(255, true), Parse(&HexStringToInt, "ff"));
  EXPECT_EQ(R(0xABCDEF, true), Parse(&HexStringToInt, "+0XabcDEF"));
  EXPECT_EQ(R(0x7FFFFFFF, true), Parse(&HexStringToInt, "7FFFFFFF"));
  EXPECT_EQ(R(0x7FFFFFFF, false), Parse(&HexStringToInt, "80000000"));
  EXPECT_EQ(R(kIntMin, true), Parse(&HexStringToInt, "-80000000"));
  EXPECT_EQ(R(kIntMin, false), Parse(&HexStringToInt, "-80000001"));
  EXPECT_EQ(R(0xFFFFFFFFu, true), Parse(&HexStringToUInt, "FFFFFFFF"));
  EXPECT_EQ(R(0xFFFFFFFFu, false), Parse(&HexStringToUInt, "100000000"));
  EXPECT_EQ(R(0u, false), Parse(&HexStringToUInt, "-1"));
  EXPECT_EQ(R(kUint64Max, true), Parse(&HexStringToUInt64, "FFFFFFFFFFFFFFFF"));
  EXPECT_EQ(R(kUint64Max, false), Parse(&HexStringToUInt64, "FFFFFFFFFFFFFFFF0"));
  EXPECT_EQ(R(kUint64Max, true), Parse(&HexStringToUInt64, "0x00000000000000FFFFFFFFFFFFFFFF"));
  EXPECT_EQ(R(uint64_t{0xABC}, false), Parse(&HexStringToUInt64, "ABCx"));
}

TEST(IntegerParsingTest, WideUnsigned) {
  EXPECT_EQ(R(4294967295u, true), RunWide(L"4294967295"));
  EXPECT_EQ(R(kUintMax, false), RunWide(L"4294967296"));
  EXPECT_EQ(R(7u, true), RunWide(L"+7"));
  EXPECT_EQ(R(0u, false), RunWide(L"-7"));
  EXPECT_EQ(R(7u, false), RunWide(L"\t7"));
  EXPECT_EQ(R(7u, false), RunWide(L"7\x3000"));
  // Digits are ASCII only: a full-width or Arabic-Indic digit is a stray character.
  EXPECT_EQ(R(1u, false), RunWide(L"1\xFF12"));
  EXPECT_EQ(R(0u, false), RunWide(L"\x0661"));
  // Beyond the six ASCII whitespace characters, the C runtime's classification decides.
  for (wchar_t c : {L'\x85', L'\xA0', L'\x2028', L'\x3000', L'\x1C'}) {
    const std::wstring text = std::wstring(1, c) + L"7";
    EXPECT_EQ(R(std::iswspace(c) ? 7u : 0u, false), RunWide(text)) << static_cast<int>(c);
  }
}

// Expected results from glibc's strtoll and strtoull of the same text (testdata/number_oracle.c), narrowed to
// each parser's type with the clamping of the conversions' table.
struct OracleLine {
  std::string text;
  int base;
  int64_t signed_value;
  bool signed_range;
  size_t signed_end;
  uint64_t unsigned_value;
  bool unsigned_range;
  size_t unsigned_end;
};

bool LeadingWhitespace(const std::string& text) {
  return !text.empty() && (text[0] == ' ' || (text[0] >= '\t' && text[0] <= '\r'));
}

bool MinusAfterWhitespace(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\n\v\f\r");
  return first != std::string::npos && text[first] == '-';
}

template <typename Int>
ParseResult<Int> ExpectedSigned(const OracleLine& line) {
  const bool whole = line.signed_end != 0 && line.signed_end == line.text.size() && !LeadingWhitespace(line.text);
  if (line.signed_range)
    return {line.signed_value < 0 ? std::numeric_limits<Int>::min() : std::numeric_limits<Int>::max(), false};
  if (line.signed_value > std::numeric_limits<Int>::max())
    return {std::numeric_limits<Int>::max(), false};
  if (line.signed_value < std::numeric_limits<Int>::min())
    return {std::numeric_limits<Int>::min(), false};
  return {static_cast<Int>(line.signed_value), whole};
}

template <typename Int>
ParseResult<Int> ExpectedUnsigned(const OracleLine& line) {
  if (MinusAfterWhitespace(line.text))
    return {0, false};
  const bool whole =
      line.unsigned_end != 0 && line.unsigned_end == line.text.size() && !LeadingWhitespace(line.text);
  if (line.unsigned_range || line.unsigned_value > std::numeric_limits<Int>::max())
    return {std::numeric_limits<Int>::max(), false};
  return {static_cast<Int>(line.unsigned_value), whole};
}

TEST(IntegerParsingTest, AgreesWithGlibc) {
  std::vector<std::vector<std::string>> records;
  ASSERT_TRUE(test::ReadNumberOracleRecords("integers.txt", &records));
  ASSERT_EQ(200000u, records.size());
  size_t accepted = 0, clamped = 0;
  for (const std::vector<std::string>& record : records) {
    ASSERT_EQ(8u, record.size());
    OracleLine line{record[0],
                    static_cast<int>(test::OracleInt64(record[1])),
                    test::OracleInt64(record[2]),
                    record[3] == "1",
                    static_cast<size_t>(test::OracleInt64(record[4])),
                    test::OracleUint64(record[5]),
                    record[6] == "1",
                    static_cast<size_t>(test::OracleInt64(record[7]))};
    const std::string& text = line.text;
    if (line.base == 10) {
      const ParseResult<int> as_int = Parse(&StringToInt, text);
      ASSERT_EQ(ExpectedSigned<int>(line), as_int) << '"' << text << '"';
      ASSERT_EQ(ExpectedUnsigned<unsigned>(line), Parse(&StringToUint, text)) << '"' << text << '"';
      ASSERT_EQ(ExpectedUnsigned<unsigned>(line), RunWide(std::wstring(text.begin(), text.end())))
          << '"' << text << '"';
      ASSERT_EQ(ExpectedUnsigned<uint64_t>(line), Parse(&StringToUint64, text)) << '"' << text << '"';
      accepted += as_int.ok;
      clamped += as_int.value == kIntMax || as_int.value == kIntMin;
    } else {
      ASSERT_EQ(16, line.base);
      ASSERT_EQ(ExpectedSigned<int>(line), Parse(&HexStringToInt, text)) << '"' << text << '"';
      ASSERT_EQ(ExpectedUnsigned<uint32_t>(line), Parse(&HexStringToUInt, text)) << '"' << text << '"';
      const ParseResult<uint64_t> as_uint64 = Parse(&HexStringToUInt64, text);
      ASSERT_EQ(ExpectedUnsigned<uint64_t>(line), as_uint64) << '"' << text << '"';
      accepted += as_uint64.ok;
    }
  }
  // The inputs reach every outcome often.
  EXPECT_GT(accepted, 40000u);
  EXPECT_GT(clamped, 10000u);
}

TEST(IntegerFormattingTest, Extremes) {
  EXPECT_EQ("0", IntToString(0));
  EXPECT_EQ("-2147483648", IntToString(kIntMin));
  EXPECT_EQ("2147483647", IntToString(kIntMax));
  EXPECT_EQ(L"-2147483648", IntToString16(kIntMin));
  EXPECT_EQ("4294967295", UintToString(kUintMax));
  EXPECT_EQ(L"0", UintToString16(0));
  EXPECT_EQ("-9223372036854775808", Int64ToString(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ("9223372036854775807", Int64ToString(std::numeric_limits<int64_t>::max()));
  EXPECT_EQ("18446744073709551615", Uint64ToString(kUint64Max));
  EXPECT_EQ(L"18446744073709551615", Uint64ToString16(kUint64Max));
}

// The C runtime's printf is the oracle for random values of every width.
TEST(IntegerFormattingTest, AgreesWithPrintf) {
  std::mt19937_64 random(77);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t bits = random() >> (random() % 64);
    const int as_int = static_cast<int>(static_cast<uint32_t>(bits));
    const unsigned as_uint = static_cast<unsigned>(bits);
    const int64_t as_int64 = static_cast<int64_t>(bits * ((i & 1) ? 1 : ~uint64_t{0}));
    char narrow[32];
    wchar_t wide[32];
    std::snprintf(narrow, sizeof(narrow), "%d", as_int);
    ASSERT_EQ(narrow, IntToString(as_int));
    std::swprintf(wide, 32, L"%d", as_int);
    ASSERT_EQ(wide, IntToString16(as_int));
    std::snprintf(narrow, sizeof(narrow), "%u", as_uint);
    ASSERT_EQ(narrow, UintToString(as_uint));
    std::swprintf(wide, 32, L"%u", as_uint);
    ASSERT_EQ(wide, UintToString16(as_uint));
    std::snprintf(narrow, sizeof(narrow), "%lld", static_cast<long long>(as_int64));
    ASSERT_EQ(narrow, Int64ToString(as_int64));
    std::snprintf(narrow, sizeof(narrow), "%llu", static_cast<unsigned long long>(bits));
    ASSERT_EQ(narrow, Uint64ToString(bits));
    std::swprintf(wide, 32, L"%llu", static_cast<unsigned long long>(bits));
    ASSERT_EQ(wide, Uint64ToString16(bits));
  }
}

TEST(DoubleConversionTest, DoubleToStringUsesTheShortestLayout) {
  EXPECT_EQ(".1", DoubleToString(0.1));
  EXPECT_EQ("-1.5e+300", DoubleToString(-1.5e300));
  EXPECT_EQ("1e-05", DoubleToString(1e-5));
  EXPECT_EQ("-0", DoubleToString(-0.0));
  EXPECT_EQ("-2.2250738585072014e-308", DoubleToString(-2.2250738585072014e-308));
  EXPECT_EQ("Infinity", DoubleToString(std::numeric_limits<double>::infinity()));
}

ParseResult<double> ParseDouble(const std::string& text) {
  double value = -12345.0;
  const bool ok = StringToDouble(text, &value);
  return {value, ok};
}

TEST(DoubleConversionTest, StringToDoubleAcceptsOnlyWholeNumbers) {
  EXPECT_EQ(R(1.5, true), ParseDouble("1.5"));
  EXPECT_EQ(R(1.5, false), ParseDouble(" 1.5"));
  EXPECT_EQ(R(1.5, false), ParseDouble("1.5 "));
  EXPECT_EQ(R(1.5, false), ParseDouble(std::string("1.5\0" "5", 5)));
  EXPECT_EQ(R(0.0, false), ParseDouble(""));
  EXPECT_EQ(R(0.0, false), ParseDouble("x"));
  EXPECT_EQ(R(-0.25, true), ParseDouble("-.25"));
  EXPECT_EQ(R(1e5, true), ParseDouble("1E+05"));
  EXPECT_EQ(R(1.0, false), ParseDouble("1e"));
  EXPECT_EQ(R(0.0, false), ParseDouble("0x10"));
  EXPECT_EQ(R(-std::numeric_limits<double>::infinity(), true), ParseDouble("-Infinity"));
  const ParseResult<double> nan = ParseDouble("NaN");
  EXPECT_TRUE(nan.ok);
  EXPECT_TRUE(std::isnan(nan.value));
}

TEST(DoubleConversionTest, RangeErrorsFailAndLeaveErange) {
  errno = EDOM;
  EXPECT_EQ(R(std::numeric_limits<double>::infinity(), false), ParseDouble("1e999"));
  EXPECT_EQ(ERANGE, errno);
  errno = EDOM;
  const ParseResult<double> underflow = ParseDouble("-1e-999");
  EXPECT_EQ(R(0.0, false), underflow);
  EXPECT_TRUE(std::signbit(underflow.value));
  EXPECT_EQ(ERANGE, errno);
  // Without a range error the caller's errno is kept, also when the text is refused.
  errno = EDOM;
  EXPECT_EQ(R(2.5, true), ParseDouble("2.5"));
  EXPECT_EQ(EDOM, errno);
  EXPECT_EQ(R(2.5, false), ParseDouble("2.5x"));
  EXPECT_EQ(EDOM, errno);
  // The smallest subnormal is in range.
  EXPECT_EQ(R(4.9406564584124654e-324, true), ParseDouble("5e-324"));
  EXPECT_EQ(EDOM, errno);
}

TEST(HexBytesTest, EncodeAgreesWithPrintf) {
  const uint8_t fixed[] = {0x01, 0xAB};
  EXPECT_EQ("01AB", HexEncode(fixed, sizeof(fixed)));
  EXPECT_EQ("", HexEncode(nullptr, 0));
  std::mt19937 random(5);
  std::vector<uint8_t> bytes(4096);
  std::string expected;
  for (uint8_t& byte : bytes) {
    byte = static_cast<uint8_t>(random());
    char pair[3];
    std::snprintf(pair, sizeof(pair), "%02X", byte);
    expected += pair;
  }
  EXPECT_EQ(expected, HexEncode(bytes.data(), bytes.size()));
  std::vector<uint8_t> decoded;
  EXPECT_TRUE(HexStringToBytes(expected, &decoded));
  EXPECT_EQ(bytes, decoded);
}

TEST(HexBytesTest, DecodeRefusesBadText) {
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(HexStringToBytes("abc", &bytes));
  EXPECT_FALSE(HexStringToBytes("0g", &bytes));
  EXPECT_FALSE(HexStringToBytes("", &bytes));
  EXPECT_TRUE(bytes.empty());
  // Pairs before the bad one stay decoded; the vector is appended to.
  bytes = {0x11};
  EXPECT_FALSE(HexStringToBytes("a0fFx1", &bytes));
  EXPECT_EQ(std::vector<uint8_t>({0x11, 0xA0, 0xFF}), bytes);
  bytes.clear();
  EXPECT_FALSE(HexStringToBytes("0x10", &bytes));  // no prefix here
  EXPECT_FALSE(HexStringToBytes(" 1", &bytes));
  EXPECT_TRUE(HexStringToBytes("0123456789abcdefABCDEF", &bytes));
  EXPECT_EQ(std::vector<uint8_t>({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}), bytes);
}

}  // namespace
}  // namespace base
