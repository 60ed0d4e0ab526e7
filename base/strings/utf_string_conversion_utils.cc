#include "base/strings/utf_string_conversion_utils.h"

namespace base {

size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output) {
  char bytes[4];
  const size_t count = EncodeUTF8(code_point, bytes);
  output->append(bytes, count);
  return count;
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output) {
  wchar_t units[2];
  const size_t count = EncodeUTF16(code_point, units);
  output->append(units, count);
  return count;
}

void PrepareForUTF8Output(const wchar_t* src, size_t src_len, std::string* output) {
  output->clear();
  if (src_len == 0)
    return;
  output->reserve(static_cast<uint16_t>(src[0]) < 0x80 ? src_len : src_len * 3);
}

void PrepareForUTF16Output(const char* src, size_t src_len, std::wstring* output) {
  output->clear();
  if (src_len == 0)
    return;
  output->reserve(static_cast<uint8_t>(src[0]) < 0x80 ? src_len : src_len / 2);
}

}  // namespace base
