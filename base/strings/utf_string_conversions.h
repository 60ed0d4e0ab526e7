// Conversions between UTF-8 narrow text and UTF-16 wide text. They never fail: ill-formed input becomes
// U+FFFD. Texts must be shorter than 2^31 units.
#ifndef BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

#include <string>

#include "base/strings/string_piece.h"

namespace base {

std::wstring UTF8ToWide(StringPiece utf8);
std::string WideToUTF8(StringPiece16 wide);

// Wide text is UTF-16 on this platform: the same conversions under their encoding names.
inline std::wstring UTF8ToUTF16(StringPiece utf8) {
  return UTF8ToWide(utf8);
}
inline std::string UTF16ToUTF8(StringPiece16 utf16) {
  return WideToUTF8(utf16);
}

// Widens or narrows ASCII text unit by unit (each unit of UTF16ToASCII keeps its low byte). The input must be
// ASCII.
std::wstring ASCIIToUTF16(StringPiece ascii);
std::string UTF16ToASCII(StringPiece16 utf16);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
