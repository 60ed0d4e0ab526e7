// printf-style formatting into owned strings, narrow and wide, in the C runtime's dialect: in wide formats %s
// takes a narrow argument and %ls a wide one, and the runtime's "%I64X", "%IX", "%Iu" and "%S" work too (which
// is why formats are not checked against the compiler's GNU dialect). Outputs below 1024 units cost no
// allocation beyond the destination. A formatting error, or an output of 33,554,432 units or more, appends
// nothing.
#ifndef BASE_STRINGS_STRINGPRINTF_H_
#define BASE_STRINGS_STRINGPRINTF_H_

#include <cstdarg>
#include <cstddef>
#include <string>

namespace base {

std::string StringPrintf(const char* format, ...);
std::wstring StringPrintf(const wchar_t* format, ...);

// Replaces the contents of *dst with the formatted text and returns *dst.
const std::string& StringPrintfInto(std::string* dst, const char* format, ...);

// Append the formatted text to *dst.
void StringAppendF(std::string* dst, const char* format, ...);
void StringAppendV(std::string* dst, const char* format, va_list ap);
void StringAppendV(std::wstring* dst, const wchar_t* format, va_list ap);

// Formats into buffer[0, size), always NUL-terminated when size > 0. Returns the length of the whole output
// (which did not fit when >= size), or -1 on a formatting error. `arguments` is not consumed.
int BoundedVsnprintf(char* buffer, size_t size, const char* format, va_list arguments);

}  // namespace base

#endif  // BASE_STRINGS_STRINGPRINTF_H_
