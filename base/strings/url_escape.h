#ifndef BASE_STRINGS_URL_ESCAPE_H_
#define BASE_STRINGS_URL_ESCAPE_H_

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// `text` with every byte percent-encoded ("%" and two upper-case hex digits) that is neither unreserved in a URL
// (letters, digits, "-", ".", "_", "~") nor one of `kept`. Nothing else is changed, so an escaped value never holds
// a blank or a quote.
std::string EscapeUrlText(StringPiece text, StringPiece kept);

}  // namespace base

#endif  // BASE_STRINGS_URL_ESCAPE_H_
