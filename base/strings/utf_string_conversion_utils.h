// The code-point steps under the UTF conversions: reading one code point from UTF-8 or UTF-16 units and
// appending one in either encoding.
#ifndef BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include <unicode/utf8.h>

namespace base {

// Below 0x110000 and not a surrogate.
inline bool IsValidCodepoint(uint32_t code_point) {
  return code_point < 0xD800u || (code_point >= 0xE000u && code_point <= 0x10FFFFu);
}

// Reads the code point that starts at `*char_index` (which must be below `src_len`) and leaves `*char_index` on
// the last unit consumed. False, with `*code_point_out` holding no valid code point, for an ill-formed
// sequence: in UTF-8 the lead byte (0xC0-0xFD) and the continuation bytes directly after it, at most as many
// as it announces, are consumed together; any other stray byte alone. In UTF-16 an unpaired surrogate alone.
// (Inline, like the rest of this header: the conversion loops run them once per code point.)
namespace internal {

// How many continuation bytes a lead byte of 0xC0-0xFD announces (the pre-RFC 3629 scheme of up to six bytes).
inline int32_t AnnouncedTrailBytes(uint8_t lead) {
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

}  // namespace internal

inline bool ReadUnicodeCharacter(const char* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out) {
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
    // ICU ends an ill-formed sequence at its longest valid prefix, which can make several errors of what the
    // lead byte announced as one sequence. Take the lead and the continuation bytes it announces as one.
    next = start + 1;
    for (int32_t trail = internal::AnnouncedTrailBytes(lead);
         trail > 0 && next < src_len && U8_IS_TRAIL(bytes[next]); --trail)
      ++next;
  }
  *char_index = next - 1;
  *code_point_out = static_cast<uint32_t>(code_point);
  return IsValidCodepoint(*code_point_out);
}

inline bool ReadUnicodeCharacter(const wchar_t* src, int32_t src_len, int32_t* char_index, uint32_t* code_point) {
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

// Encode a code point into `out`, which has room for 4 bytes or 2 units; return how many were written.
inline size_t EncodeUTF8(uint32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  size_t count;
  if (code_point <= 0x7FF) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    count = 2;
  } else if (code_point <= 0xFFFF) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    count = 3;
  } else {
    out[0] = static_cast<char>(0xF0 | (code_point >> 18));
    out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    count = 4;
  }
  out[count - 1] = static_cast<char>(0x80 | (code_point & 0x3F));
  return count;
}
inline size_t EncodeUTF16(uint32_t code_point, wchar_t* out) {
  if (code_point < 0x10000) {
    out[0] = static_cast<wchar_t>(code_point);
    return 1;
  }
  out[0] = static_cast<wchar_t>((code_point >> 10) + 0xD7C0);
  out[1] = static_cast<wchar_t>(0xDC00 | (code_point & 0x3FF));
  return 2;
}

// Append a code point (1 to 4 bytes, or 1 or 2 units) and return how many units were appended.
size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output);
size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output);

// Clear `output` and reserve a first guess of the converted length: the source length when it starts with
// ASCII, else three bytes per unit (to UTF-8) or half a unit per byte (to UTF-16).
void PrepareForUTF8Output(const wchar_t* src, size_t src_len, std::string* output);
void PrepareForUTF16Output(const char* src, size_t src_len, std::wstring* output);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_
