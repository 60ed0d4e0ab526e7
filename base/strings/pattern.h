// Wildcard matching of UTF-8 text: '*' matches any run of characters, '?' zero or one character, and a
// backslash makes the character after it literal. Patterns nest at most 16 wildcards deep; deeper gives false.
#ifndef BASE_STRINGS_PATTERN_H_
#define BASE_STRINGS_PATTERN_H_

#include "base/strings/string_piece.h"

namespace base {

bool WildcardMatch(StringPiece text, StringPiece pattern);

}  // namespace base

#endif  // BASE_STRINGS_PATTERN_H_
