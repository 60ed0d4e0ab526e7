#include "base/strings/string_number_conversions.h"

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <limits>
#include <type_traits>

#include "base/strings/dtoa.h"

namespace base {

namespace {

template <typename String, typename Int>
String IntToStringT(Int value) {
  using Unsigned = std::make_unsigned_t<Int>;
  using Char = typename String::value_type;
  // The magnitude is taken in unsigned arithmetic, so the most negative value is written correctly.
  const bool negative = value < 0;
  Unsigned magnitude = static_cast<Unsigned>(value);
  if (negative)
    magnitude = static_cast<Unsigned>(0) - magnitude;
  Char buffer[std::numeric_limits<Unsigned>::digits10 + 2];
  Char* const end = buffer + sizeof(buffer) / sizeof(buffer[0]);
  Char* p = end;
  do {
    *--p = static_cast<Char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative)
    *--p = static_cast<Char>('-');
  return String(p, end);
}

bool IsParserWhitespace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsParserWhitespace(wchar_t c) {
  return std::iswspace(c) != 0;
}

template <int kBase, typename Char>
bool DigitValue(Char c, unsigned* digit) {
  if (c >= '0' && c <= '9') {
    *digit = static_cast<unsigned>(c - '0');
    return true;
  }
  if (kBase == 16 && c >= 'a' && c <= 'f') {
    *digit = static_cast<unsigned>(c - 'a' + 10);
    return true;
  }
  if (kBase == 16 && c >= 'A' && c <= 'F') {
    *digit = static_cast<unsigned>(c - 'A' + 10);
    return true;
  }
  return false;
}

// The one parser behind every text-to-integer function (see the header for the rules).
template <typename Int, int kBase, typename Char>
bool ParseInteger(const Char* begin, const Char* end, Int* output) {
  constexpr Int kMax = std::numeric_limits<Int>::max();
  constexpr Int kMin = std::numeric_limits<Int>::min();
  *output = 0;
  bool valid = true;
  while (begin != end && IsParserWhitespace(*begin)) {
    valid = false;
    ++begin;
  }
  if (begin == end)
    return false;

  bool negative = false;
  if (*begin == '-') {
    if constexpr (!std::is_signed_v<Int>)
      return false;
    negative = true;
    ++begin;
  } else if (*begin == '+') {
    ++begin;
  }
  // "0x1" is 1, but "0x" alone is a 0 followed by a stray 'x'.
  if (kBase == 16 && end - begin >= 3 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X'))
    begin += 2;
  if (begin == end)
    return false;

  // Bounds are checked before each multiplication, so no step can overflow; a negative value is built by
  // subtracting digits, so that the minimum is reachable.
  Int value = 0;
  for (const Char* p = begin; p != end; ++p) {
    unsigned digit;
    if (!DigitValue<kBase>(*p, &digit))
      return false;
    if (p != begin) {
      if (!negative) {
        if (value > kMax / kBase || (value == kMax / kBase && digit > static_cast<unsigned>(kMax % kBase))) {
          *output = kMax;
          return false;
        }
      } else if constexpr (std::is_signed_v<Int>) {
        if (value < kMin / kBase || (value == kMin / kBase && digit > static_cast<unsigned>(-(kMin % kBase)))) {
          *output = kMin;
          return false;
        }
      }
      value = static_cast<Int>(value * kBase);
    }
    value = negative ? static_cast<Int>(value - static_cast<Int>(digit)) : static_cast<Int>(value + digit);
    *output = value;
  }
  return valid;
}

template <typename Int, int kBase, typename Piece>
bool ParsePiece(const Piece& input, Int* output) {
  return ParseInteger<Int, kBase>(input.data(), input.data() + input.size(), output);
}

bool HexDigitValue(char c, uint8_t* value) {
  unsigned digit;
  if (!DigitValue<16>(c, &digit))
    return false;
  *value = static_cast<uint8_t>(digit);
  return true;
}

}  // namespace

std::string IntToString(int value) {
  return IntToStringT<std::string>(value);
}

std::wstring IntToString16(int value) {
  return IntToStringT<std::wstring>(value);
}

std::string UintToString(unsigned value) {
  return IntToStringT<std::string>(value);
}

std::wstring UintToString16(unsigned value) {
  return IntToStringT<std::wstring>(value);
}

std::string Int64ToString(int64_t value) {
  return IntToStringT<std::string>(value);
}

std::string Uint64ToString(uint64_t value) {
  return IntToStringT<std::string>(value);
}

std::wstring Uint64ToString16(uint64_t value) {
  return IntToStringT<std::wstring>(value);
}

std::string DoubleToString(double value) {
  char buffer[fp::kGFmtBufferSize];
  return std::string(fp::g_fmt(buffer, value));
}

bool StringToInt(StringPiece input, int* output) {
  return ParsePiece<int, 10>(input, output);
}

bool StringToUint(StringPiece input, unsigned* output) {
  return ParsePiece<unsigned, 10>(input, output);
}

bool StringToUint(StringPiece16 input, unsigned* output) {
  return ParsePiece<unsigned, 10>(input, output);
}

bool StringToUint64(StringPiece input, uint64_t* output) {
  return ParsePiece<uint64_t, 10>(input, output);
}

bool HexStringToInt(StringPiece input, int* output) {
  return ParsePiece<int, 16>(input, output);
}

bool HexStringToUInt(StringPiece input, uint32_t* output) {
  return ParsePiece<uint32_t, 16>(input, output);
}

bool HexStringToUInt64(StringPiece input, uint64_t* output) {
  return ParsePiece<uint64_t, 16>(input, output);
}

bool StringToDouble(StringPiece input, double* output) {
  // The parser reads NUL-terminated text: short texts (every double's shortest form) are copied to the stack.
  char stack_copy[64];
  std::string heap_copy;
  const char* text = stack_copy;
  if (input.size() < sizeof(stack_copy)) {
    if (!input.empty())
      memcpy(stack_copy, input.data(), input.size());
    stack_copy[input.size()] = '\0';
  } else {
    heap_copy = input.as_string();
    text = heap_copy.c_str();
  }
  const int saved_errno = errno;
  errno = 0;
  char* end = nullptr;
  *output = fp::strtod(text, &end);
  // The parser skips leading whitespace and stops at an embedded NUL; neither is accepted here.
  const bool valid =
      errno == 0 && !input.empty() && end == text + input.size() && !IsParserWhitespace(input[0]);
  if (errno == 0)
    errno = saved_errno;
  return valid;
}

std::string HexEncode(const void* bytes, size_t size) {
  static constexpr char kHexChars[] = "0123456789ABCDEF";
  const uint8_t* data = static_cast<const uint8_t*>(bytes);
  std::string result(size * 2, '\0');
  for (size_t i = 0; i < size; ++i) {
    result[2 * i] = kHexChars[data[i] >> 4];
    result[2 * i + 1] = kHexChars[data[i] & 0xF];
  }
  return result;
}

bool HexStringToBytes(const std::string& input, std::vector<uint8_t>* output) {
  if (input.empty() || input.size() % 2 != 0)
    return false;
  for (size_t i = 0; i < input.size(); i += 2) {
    uint8_t high, low;
    if (!HexDigitValue(input[i], &high) || !HexDigitValue(input[i + 1], &low))
      return false;
    output->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

}  // namespace base
