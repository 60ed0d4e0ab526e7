// The code-point steps under the UTF conversions: reading one code point from UTF-8 or UTF-16 units and
// appending one in either encoding.
#ifndef BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

// Below 0x110000 and not a surrogate.
inline bool IsValidCodepoint(uint32_t code_point) {
  return code_point < 0xD800u || (code_point >= 0xE000u && code_point <= 0x10FFFFu);
}

// Reads the code point that starts at `*char_index` (which must be below `src_len`) and leaves `*char_index` on
// the last unit consumed. False, with `*code_point_out` holding no valid code point, for an ill-formed
// sequence: in UTF-8 the lead byte (0xC0-0xFD) and the continuation bytes directly after it, at most as many
// as it announces, are consumed together; any other stray byte alone. In UTF-16 an unpaired surrogate alone.
bool ReadUnicodeCharacter(const char* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out);
bool ReadUnicodeCharacter(const wchar_t* src, int32_t src_len, int32_t* char_index, uint32_t* code_point);

// Appends a code point (1 to 4 bytes, or 1 or 2 units) and returns how many units were appended.
size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output);
size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output);

// Clear `output` and reserve a first guess of the converted length: the source length when it starts with
// ASCII, else three bytes per unit (to UTF-8) or half a unit per byte (to UTF-16).
void PrepareForUTF8Output(const wchar_t* src, size_t src_len, std::string* output);
void PrepareForUTF16Output(const char* src, size_t src_len, std::wstring* output);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_
