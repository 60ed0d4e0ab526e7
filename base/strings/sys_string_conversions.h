// Conversions through the Windows code-page converter (MultiByteToWideChar / WideCharToMultiByte with flags 0):
// invalid input is treated however the system converter treats it. Texts must be shorter than 2^31 units.
#ifndef BASE_STRINGS_SYS_STRING_CONVERSIONS_H_
#define BASE_STRINGS_SYS_STRING_CONVERSIONS_H_

#include <cstdint>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Code page 65001 (UTF-8).
std::wstring SystemUTF8ToWide(StringPiece utf8);
std::string SystemWideToUTF8(const std::wstring& wide);

// Any code page the system knows; an unknown one gives an empty result.
std::wstring SystemMultiByteToWide(StringPiece mb, uint32_t code_page);
std::string SystemWideToMultiByte(const std::wstring& wide, uint32_t code_page);

}  // namespace base

#endif  // BASE_STRINGS_SYS_STRING_CONVERSIONS_H_
