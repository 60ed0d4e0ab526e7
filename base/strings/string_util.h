// Whole-string helpers for narrow (bytes, ASCII or UTF-8) and wide (UTF-16) text: ASCII tests, trimming and
// collapsing whitespace, ASCII case mapping and comparison, prefix and suffix tests, joining, replacement,
// numbered placeholders and a bounded copy. No locale is consulted anywhere: case folding touches A-Z only.
#ifndef BASE_STRINGS_STRING_UTIL_H_
#define BASE_STRINGS_STRING_UTIL_H_

#include <cstddef>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

// Whitespace of wide text: exactly these 25 units (NUL-terminated).
extern const wchar_t kWhitespaceWide[];
// Whitespace of narrow text: tab, LF, VT, FF, CR and space (NUL-terminated). Bytes of 0x80 and above never
// count: in UTF-8 they belong to multi-byte characters.
extern const char kWhitespaceASCII[];

// Which ends a trim touches (asked) or touched (returned).
enum TrimPositions {
  TRIM_NONE = 0,
  TRIM_LEADING = 1 << 0,
  TRIM_TRAILING = 1 << 1,
  TRIM_ALL = TRIM_LEADING | TRIM_TRAILING,
};

// Comparisons given any other value answer false.
enum class CompareCase {
  SENSITIVE = 0,
  INSENSITIVE_ASCII = 1,
};

// ASCII case mapping of one unit: A-Z and a-z only, everything else unchanged.
inline char ToLowerASCII(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
inline wchar_t ToLowerASCII(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}
inline char ToUpperASCII(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}
inline wchar_t ToUpperASCII(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}

// Copies of narrow text with A-Z lowered, or a-z raised.
std::string ToLowerASCII(StringPiece str);
std::string ToUpperASCII(StringPiece str);

// True when every unit is below 0x80 (an empty text is ASCII).
bool IsStringASCII(StringPiece str);
bool IsStringASCII(StringPiece16 str);

// Removes the characters of `trim_chars` from the asked ends of `input` into `output` (which may be `input`).
// Returns the ends where something was removed; when every character is in the set the output is empty and
// the asked positions are returned.
TrimPositions TrimString(const std::string& input, StringPiece trim_chars, TrimPositions positions,
                         std::string* output);
TrimPositions TrimString(const std::wstring& input, StringPiece16 trim_chars, TrimPositions positions,
                         std::wstring* output);

// The same without copying: a sub-view of `input`.
StringPiece TrimStringPiece(StringPiece input, StringPiece trim_chars, TrimPositions positions);
StringPiece16 TrimStringPiece(StringPiece16 input, StringPiece16 trim_chars, TrimPositions positions);

// TrimString with the wide (Unicode) or the ASCII whitespace set.
TrimPositions TrimWhitespace(const std::wstring& input, TrimPositions positions, std::wstring* output);
TrimPositions TrimWhitespaceASCII(const std::string& input, TrimPositions positions, std::string* output);

// Drops leading and trailing ASCII whitespace and turns each inner run into one space; with
// `trim_sequences_with_line_breaks`, an inner run holding a CR or LF disappears entirely.
std::string CollapseWhitespace(const std::string& text, bool trim_sequences_with_line_breaks);

// True when `str`, lowered in ASCII, equals `lowercase_ascii` unit by unit.
bool LowerCaseEqualsASCII(StringPiece16 str, StringPiece lowercase_ascii);

// Prefix and suffix tests; an empty prefix or suffix matches.
bool StartsWith(StringPiece str, StringPiece search_for, CompareCase case_sensitivity);
bool StartsWith(StringPiece16 str, StringPiece16 search_for, CompareCase case_sensitivity);
bool EndsWith(StringPiece16 str, StringPiece16 search_for, CompareCase case_sensitivity);

// The parts with `separator` between each two; an empty vector gives an empty string.
std::string JoinString(const std::vector<std::string>& parts, StringPiece separator);
std::wstring JoinString(const std::vector<std::wstring>& parts, StringPiece16 separator);

// Copies `input` to `output` (which may be `input`) with every character of `replace_chars` replaced by
// `replace_with`; inserted text is not searched again. False when nothing was replaced.
bool ReplaceChars(const std::string& input, StringPiece replace_chars, const std::string& replace_with,
                  std::string* output);

// Replaces the first occurrence of `find_this` at or after `start_offset`, if any.
void ReplaceFirstSubstringAfterOffset(std::string* str, size_t start_offset, StringPiece find_this,
                                      StringPiece replace_with);

// Replaces every non-overlapping occurrence of `find_this` at or after `start_offset`, taken left to right.
// Linear in the length; allocates at most once (when the text grows).
void ReplaceSubstringsAfterOffset(std::string* str, size_t start_offset, StringPiece find_this,
                                  StringPiece replace_with);

// Expands "$1" to "$9" with the matching substitution (none: nothing), "$$..." to the run after the first '$'
// and drops '$' before any other character or at the end. When `offsets` is given, appends the output offset of
// each numbered placeholder, ordered by placeholder number (a repeated number: later occurrence first).
std::string ReplaceStringPlaceholders(StringPiece format_string, const std::vector<std::string>& subst,
                                      std::vector<size_t>* offsets);
std::wstring ReplaceStringPlaceholders(StringPiece16 format_string, const std::vector<std::wstring>& subst,
                                       std::vector<size_t>* offsets);

// Copies the NUL-terminated `src` into `dst` of `dst_size` bytes, always terminating it unless `dst_size` is 0.
// Returns strlen(src): a result >= dst_size means the copy was cut.
size_t strlcpy(char* dst, const char* src, size_t dst_size);

}  // namespace base

#endif  // BASE_STRINGS_STRING_UTIL_H_
