#include "base/strings/utf_string_conversion_utils.h"

#include <unicode/utf8.h>

namespace base {

namespace {

// How many continuation bytes a lead byte of 0xC0-0xFD announces (the pre-RFC 3629 scheme, up to six bytes).
int32_t AnnouncedTrailBytes(uint8_t lead) {
  if (lead < 0xE0)
    return 1;
  if (lead < 0xF0)
    return 2;
  if (lead < 0xF8)
    return 3;
  if (lead < 0xFC)
    return 4;
  return 5;
}

}  // namespace

bool ReadUnicodeCharacter(const char* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(src);
  const int32_t start = *char_index;
  const uint8_t lead = bytes[start];
  if (lead < 0x80) {
    *code_point_out = lead;
    return true;
  }
  if (lead < 0xC0 || lead > 0xFD) {
    // A stray continuation byte, 0xFE or 0xFF: ill-formed on its own.
    *code_point_out = static_cast<uint32_t>(-1);
    return false;
  }

  int32_t next = start;
  UChar32 code_point;
  U8_NEXT(bytes, next, src_len, code_point);
  if (code_point < 0) {
    // ICU stops an ill-formed sequence at its maximal valid prefix, which can give several errors for what
    // the lead byte announced as one sequence. Take the lead and the continuation bytes it announces as one.
    next = start + 1;
    for (int32_t trail = AnnouncedTrailBytes(lead); trail > 0 && next < src_len && U8_IS_TRAIL(bytes[next]);
         --trail)
      ++next;
  }
  *char_index = next - 1;
  *code_point_out = static_cast<uint32_t>(code_point);
  return IsValidCodepoint(*code_point_out);
}

bool ReadUnicodeCharacter(const wchar_t* src, int32_t src_len, int32_t* char_index, uint32_t* code_point) {
  const uint32_t unit = static_cast<uint16_t>(src[*char_index]);
  if (unit < 0xD800u || unit > 0xDFFFu) {
    *code_point = unit;
    return true;
  }
  if (unit <= 0xDBFFu && *char_index + 1 < src_len) {
    const uint32_t trail = static_cast<uint16_t>(src[*char_index + 1]);
    if (trail >= 0xDC00u && trail <= 0xDFFFu) {
      *code_point = (unit << 10) + trail - 0x35FDC00u;
      ++*char_index;
      return true;
    }
  }
  *code_point = unit;  // an unpaired surrogate
  return false;
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output) {
  if (code_point < 0x80) {
    output->push_back(static_cast<char>(code_point));
    return 1;
  }
  char bytes[4];
  size_t count;
  if (code_point <= 0x7FF) {
    bytes[0] = static_cast<char>(0xC0 | (code_point >> 6));
    count = 2;
  } else if (code_point <= 0xFFFF) {
    bytes[0] = static_cast<char>(0xE0 | (code_point >> 12));
    bytes[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    count = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (code_point >> 18));
    bytes[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    count = 4;
  }
  bytes[count - 1] = static_cast<char>(0x80 | (code_point & 0x3F));
  output->append(bytes, count);
  return count;
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output) {
  if (code_point < 0x10000) {
    output->push_back(static_cast<wchar_t>(code_point));
    return 1;
  }
  output->push_back(static_cast<wchar_t>((code_point >> 10) + 0xD7C0));
  output->push_back(static_cast<wchar_t>(0xDC00 | (code_point & 0x3FF)));
  return 2;
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
