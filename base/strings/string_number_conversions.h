// Numbers to and from their text forms. Every text-to-number function returns whether the whole text was a
// well-formed number in range, and always writes its output, also when it returns false:
//  - leading whitespace is skipped but makes the result false (" 42" gives 42 and false);
//  - one '+' or '-' may come first; a '-' makes the unsigned parsers fail at once with output 0;
//  - the hexadecimal parsers skip a "0x" or "0X" prefix after the sign when a digit position follows it;
//  - a character that is not a digit ends the parse with the value of the digits before it ("12a" gives 12
//    and false);
//  - a value out of range gives the type's maximum (or minimum) and false.
// Narrow whitespace is tab, LF, VT, FF, CR and space; wide whitespace is what the C runtime's iswspace says.
#ifndef BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
#define BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

// Decimal text: a '-' before negative values, no '+', no leading zeros, no grouping.
std::string IntToString(int value);
std::wstring IntToString16(int value);
std::string UintToString(unsigned value);
std::wstring UintToString16(unsigned value);
std::string Int64ToString(int64_t value);
std::string Uint64ToString(uint64_t value);
std::wstring Uint64ToString16(uint64_t value);

// The shortest text that reads back to the same double, in the layout of fp::g_fmt (".5", "1e+21", "-0",
// "Infinity", "NaN").
std::string DoubleToString(double value);

// Decimal parsers.
bool StringToInt(StringPiece input, int* output);
bool StringToUint(StringPiece input, unsigned* output);
bool StringToUint(StringPiece16 input, unsigned* output);
bool StringToUint64(StringPiece input, uint64_t* output);

// Hexadecimal parsers ('0'-'9', 'a'-'f', 'A'-'F'). HexStringToInt reads the bits of an int: "80000000" is
// out of range (0x7FFFFFFF and false), "-80000000" is the minimum.
bool HexStringToInt(StringPiece input, int* output);
bool HexStringToUInt(StringPiece input, uint32_t* output);
bool HexStringToUInt64(StringPiece input, uint64_t* output);

// Reads the whole text with the correctly rounded parser (fp::strtod): an optional sign, digits with an
// optional '.', an optional exponent, or "inf", "infinity", "nan". False for an empty text, leading
// whitespace, anything after the number (an embedded NUL too) and a range error; *output is written in every
// case (+-infinity or 0 after a range error, which also leaves ERANGE in errno; otherwise errno is kept).
bool StringToDouble(StringPiece input, double* output);

// 2 x size upper-case hexadecimal digits, the high nibble of each byte first.
std::string HexEncode(const void* bytes, size_t size);

// Appends the bytes of a text of hexadecimal digit pairs to *output (which callers pass empty). False for an
// empty text, an odd length or a character that is not a hexadecimal digit; the bytes before the bad pair
// stay appended.
bool HexStringToBytes(const std::string& input, std::vector<uint8_t>* output);

}  // namespace base

#endif  // BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
