// Escaping of UTF-8 text for JSON string literals, shared by the JSON writer and the trace output.
#ifndef BASE_JSON_STRING_ESCAPE_H_
#define BASE_JSON_STRING_ESCAPE_H_

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Appends `str` to `dest` escaped for a JSON string literal, in double quotes when `put_in_quotes`. Besides
// the quote, the backslash and control characters, '<', U+2028 and U+2029 are escaped so that the output can
// sit inside a script block. Ill-formed UTF-8 is written as U+FFFD and makes the result false; the rest of
// the text is still written. `str` must be shorter than 2^31 bytes.
bool EscapeJsonStringImpl(const StringPiece& str, bool put_in_quotes, std::string* dest);

}  // namespace base

#endif  // BASE_JSON_STRING_ESCAPE_H_
