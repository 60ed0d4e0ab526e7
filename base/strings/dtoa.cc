#include "base/strings/dtoa.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "base/logging.h"

namespace base {
namespace fp {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// True when `text` starts with the lower-case `word`, ignoring the letter case of the text.
bool StartsWithWord(const char* text, const char* word) {
  for (; *word; ++text, ++word) {
    if (ToLowerAscii(*text) != *word)
      return false;
  }
  return true;
}

// Values of the hexadecimal digits (-1 for other bytes), for NaN payloads.
constexpr std::array<int8_t, 256> MakeHexValues() {
  std::array<int8_t, 256> values{};
  for (int i = 0; i < 256; ++i)
    values[i] = -1;
  for (int i = 0; i < 10; ++i)
    values['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    values['a' + i] = static_cast<int8_t>(10 + i);
    values['A' + i] = static_cast<int8_t>(10 + i);
  }
  return values;
}
constexpr std::array<int8_t, 256> kHexValues = MakeHexValues();

// More significant digits than any double or midpoint between doubles needs (767); the digits beyond are only
// represented by whether any of them is non-zero.
constexpr int kMaxSignificantDigits = 800;

// Leading-digit exponents beyond which the value is certainly out of range (the largest double is about
// 1.8e308, half the smallest subnormal about 2.5e-324).
constexpr int64_t kSurelyOverflows = 310;
constexpr int64_t kSurelyUnderflows = -330;

// Exponent digits are read up to this magnitude; beyond it, every value is out of range whatever its digits.
constexpr int64_t kExponentLimit = int64_t{1} << 50;

double RangeError(bool overflow, bool negative) {
  errno = ERANGE;
  const double magnitude = overflow ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -magnitude : magnitude;
}

double NaNWithPayload(uint64_t payload, bool negative) {
  // A quiet NaN whatever the payload, so that a zero payload does not turn into infinity.
  uint64_t bits = uint64_t{0x7FF8000000000000} | (payload & uint64_t{0x0007FFFFFFFFFFFF});
  if (negative)
    bits |= uint64_t{1} << 63;
  double value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

// Reads "inf", "infinity" or "nan" with an optional "(hex digits)" at `s`; false when none is there.
bool ParseNonFinite(const char* s, bool negative, double* result, const char** end) {
  if (StartsWithWord(s, "inf")) {
    s += 3;
    if (StartsWithWord(s, "inity"))
      s += 5;
    *result = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    *end = s;
    return true;
  }
  if (!StartsWithWord(s, "nan"))
    return false;
  s += 3;
  uint64_t payload = 0;
  if (*s == '(') {
    const char* p = s + 1;
    uint64_t digits = 0;
    while (kHexValues[static_cast<unsigned char>(*p)] >= 0)
      digits = (digits << 4) | static_cast<uint64_t>(kHexValues[static_cast<unsigned char>(*p++)]);
    if (*p == ')') {  // an unclosed payload is not part of the number
      payload = digits;
      s = p + 1;
    }
  }
  *result = NaNWithPayload(payload, negative);
  *end = s;
  return true;
}

// The shortest round-trip digits of a finite, non-zero |value| into `digits` (at least 17 bytes, no NUL);
// returns their count and sets *decimal_point (value = 0.d1...dn x 10^decimal_point).
int ShortestDigits(double value, char* digits, int* decimal_point) {
  char text[32];
  const std::to_chars_result converted =
      std::to_chars(text, text + sizeof(text), std::fabs(value), std::chars_format::scientific);
  // The scientific form is "d[.ddd]e+XX" or "d[.ddd]e-XXX".
  const char* p = text;
  int count = 0;
  digits[count++] = *p++;
  if (*p == '.') {
    for (++p; *p != 'e'; ++p)
      digits[count++] = *p;
  }
  ++p;  // 'e'
  const bool negative_exponent = *p == '-';
  int exponent = 0;
  for (++p; p < converted.ptr; ++p)
    exponent = exponent * 10 + (*p - '0');
  *decimal_point = (negative_exponent ? -exponent : exponent) + 1;
  return count;
}

}  // namespace

char* dtoa(double value, int mode, int digit_count, int* decimal_point, int* sign, char** digits_end) {
  // Only the shortest form is used anywhere; the fixed-length modes were never needed.
  CHECK_EQ(mode, 0) << "dtoa mode " << mode << " is not built";
  (void)digit_count;
  *sign = std::signbit(value) ? 1 : 0;
  char digits[24];
  int count;
  if (std::isnan(value) || std::isinf(value)) {
    const char* word = std::isnan(value) ? "NaN" : "Infinity";
    count = static_cast<int>(std::strlen(word));
    std::memcpy(digits, word, count);
    *decimal_point = kNonFiniteDecimalPoint;
  } else if (value == 0) {
    digits[0] = '0';
    count = 1;
    *decimal_point = 1;
  } else {
    count = ShortestDigits(value, digits, decimal_point);
  }
  char* result = new char[count + 1];
  std::memcpy(result, digits, count);
  result[count] = '\0';
  if (digits_end)
    *digits_end = result + count;
  return result;
}

void freedtoa(char* digits) {
  delete[] digits;
}

double strtod(const char* text, char** end) {
  const char* s = text;
  while (IsSpace(*s))
    ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
  }

  // The value is the significant digits (from the first non-zero one) as an integer times 10^scale.
  char buffer[kMaxSignificantDigits + 32];
  int count = 0;
  bool dropped_nonzero = false;  // a non-zero digit beyond kMaxSignificantDigits
  int64_t scale = 0;
  bool any_digit = false;
  for (; IsDigit(*s); ++s) {
    any_digit = true;
    if (count == 0 && *s == '0')
      continue;
    if (count < kMaxSignificantDigits) {
      buffer[count++] = *s;
    } else {
      dropped_nonzero |= *s != '0';
      ++scale;
    }
  }
  if (*s == '.') {
    const char* after_point = s + 1;
    for (s = after_point; IsDigit(*s); ++s) {
      any_digit = true;
      if (count == 0 && *s == '0') {
        --scale;
      } else if (count < kMaxSignificantDigits) {
        buffer[count++] = *s;
        --scale;
      } else {
        dropped_nonzero |= *s != '0';
      }
    }
    if (!any_digit)
      s = after_point - 1;  // a lone '.' is no number
  }

  if (!any_digit) {
    double result = 0;
    const char* number_end = text;
    if (!ParseNonFinite(s, negative, &result, &number_end))
      result = 0;
    if (end)
      *end = const_cast<char*>(number_end);
    return result;
  }

  if (ToLowerAscii(*s) == 'e') {
    const char* p = s + 1;
    bool negative_exponent = false;
    if (*p == '+' || *p == '-') {
      negative_exponent = *p == '-';
      ++p;
    }
    if (IsDigit(*p)) {
      int64_t exponent = 0;
      for (; IsDigit(*p); ++p) {
        if (exponent < kExponentLimit)
          exponent = exponent * 10 + (*p - '0');
      }
      scale += negative_exponent ? -exponent : exponent;
      s = p;
    }
  }
  if (end)
    *end = const_cast<char*>(s);

  if (count == 0)
    return negative ? -0.0 : 0.0;
  const int64_t leading_exponent = scale + count - 1;
  if (leading_exponent > kSurelyOverflows)
    return RangeError(true, negative);
  if (leading_exponent < kSurelyUnderflows)
    return RangeError(false, negative);

  if (dropped_nonzero) {
    // Any non-zero digit here keeps the value strictly between the truncated one and the next, which is all
    // that rounding needs: no rounding boundary has this many significant digits.
    buffer[count++] = '1';
    --scale;
  }
  char* p = buffer + count;
  *p++ = 'e';
  p = std::to_chars(p, buffer + sizeof(buffer), scale).ptr;
  double result = 0;
  const std::from_chars_result parsed = std::from_chars(buffer, p, result);
  if (parsed.ec == std::errc::result_out_of_range)
    return RangeError(leading_exponent > 0, negative);
  return negative ? -result : result;
}

char* g_fmt(char* buffer, double value) {
  char* b = buffer;
  if (std::signbit(value))
    *b++ = '-';
  if (std::isnan(value) || std::isinf(value)) {
    std::strcpy(b, std::isnan(value) ? "NaN" : "Infinity");
    return buffer;
  }
  char digits[24];
  int count = 1;
  int point = 1;
  if (value == 0)
    digits[0] = '0';
  else
    count = ShortestDigits(value, digits, &point);

  if (point <= -4 || point > count + 5) {
    *b++ = digits[0];
    if (count > 1) {
      *b++ = '.';
      std::memcpy(b, digits + 1, count - 1);
      b += count - 1;
    }
    *b++ = 'e';
    int exponent = point - 1;
    if (exponent < 0) {
      *b++ = '-';
      exponent = -exponent;
    } else {
      *b++ = '+';
    }
    if (exponent < 10)
      *b++ = '0';
    b = std::to_chars(b, buffer + kGFmtBufferSize, exponent).ptr;
  } else if (point <= 0) {
    *b++ = '.';
    for (int i = point; i < 0; ++i)
      *b++ = '0';
    std::memcpy(b, digits, count);
    b += count;
  } else {
    for (int i = 0; i < count; ++i) {
      if (i == point)
        *b++ = '.';
      *b++ = digits[i];
    }
    for (int i = count; i < point; ++i)
      *b++ = '0';
  }
  *b = '\0';
  return buffer;
}

}  // namespace fp
}  // namespace base
