#include "base/strings/utf_string_conversions.h"

#include <cstdint>

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

// Decodes every code point of `src` and appends it in the output's encoding; ill-formed input gives U+FFFD.
template <typename SrcChar, typename DestString>
void ConvertUnicode(const SrcChar* src, size_t src_len, DestString* output) {
  const int32_t length = CheckedLength(src_len);
  for (int32_t i = 0; i < length; ++i) {
    uint32_t code_point;
    if (!ReadUnicodeCharacter(src, length, &i, &code_point))
      code_point = kReplacementCharacter;
    WriteUnicodeCharacter(code_point, output);
  }
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
