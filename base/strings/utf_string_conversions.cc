#include "base/strings/utf_string_conversions.h"

#include <cstdint>
#include <type_traits>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// The decoding loops count in signed 32 bits.
int32_t CheckedLength(size_t length) {
  CHECK(length <= static_cast<size_t>(INT32_MAX));
  return static_cast<int32_t>(length);
}

inline size_t Encode(uint32_t code_point, wchar_t* out) {
  return EncodeUTF16(code_point, out);
}
inline size_t Encode(uint32_t code_point, char* out) {
  return EncodeUTF8(code_point, out);
}

// Decodes every code point of `src` and appends it in the output's encoding; ill-formed input gives U+FFFD.
// ASCII units are copied without decoding. Output gathers in a stack chunk that is appended a chunk at a time,
// so the loop writes plain memory (through a local cursor: stores through a char pointer could alias any
// member) instead of growing the string unit by unit.
template <typename SrcChar, typename DestString>
void ConvertUnicode(const SrcChar* src, size_t src_len, DestString* output) {
  using Unit = std::make_unsigned_t<SrcChar>;
  using DestChar = typename DestString::value_type;
  constexpr size_t kChunkUnits = 2048;
  constexpr size_t kMaxUnitsPerCodePoint = 4;
  const int32_t length = CheckedLength(src_len);
  DestChar chunk[kChunkUnits];
  DestChar* out = chunk;
  DestChar* const flush_at = chunk + kChunkUnits - kMaxUnitsPerCodePoint;
  for (int32_t i = 0; i < length; ++i) {
    if (out > flush_at) {
      output->append(chunk, static_cast<size_t>(out - chunk));
      out = chunk;
    }
    const Unit unit = static_cast<Unit>(src[i]);
    if (unit < 0x80) {
      *out++ = static_cast<DestChar>(unit);
      continue;
    }
    uint32_t code_point;
    if (!ReadUnicodeCharacter(src, length, &i, &code_point))
      code_point = kReplacementCharacter;
    out += Encode(code_point, out);
  }
  output->append(chunk, static_cast<size_t>(out - chunk));
}

}  // namespace

std::wstring UTF8ToWide(StringPiece utf8) {
  if (IsStringASCII(utf8))
    return std::wstring(utf8.begin(), utf8.end());
  std::wstring result;
  PrepareForUTF16Output(utf8.data(), utf8.size(), &result);
  ConvertUnicode(utf8.data(), utf8.size(), &result);
  return result;
}

std::string WideToUTF8(StringPiece16 wide) {
  if (IsStringASCII(wide))
    return std::string(wide.begin(), wide.end());
  std::string result;
  PrepareForUTF8Output(wide.data(), wide.size(), &result);
  ConvertUnicode(wide.data(), wide.size(), &result);
  return result;
}

std::wstring ASCIIToUTF16(StringPiece ascii) {
  DCHECK(IsStringASCII(ascii));
  std::wstring result(ascii.size(), L'\0');
  for (size_t i = 0; i < ascii.size(); ++i)
    result[i] = static_cast<unsigned char>(ascii[i]);  // never sign-extended, whatever the input
  return result;
}

std::string UTF16ToASCII(StringPiece16 utf16) {
  DCHECK(IsStringASCII(utf16));
  std::string result(utf16.size(), '\0');
  for (size_t i = 0; i < utf16.size(); ++i)
    result[i] = static_cast<char>(utf16[i]);
  return result;
}

}  // namespace base
