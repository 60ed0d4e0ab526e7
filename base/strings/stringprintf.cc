#include "base/strings/stringprintf.h"

#include <cwchar>
#include <memory>

namespace base {

namespace {

// The largest output, terminating NUL included, that is ever formatted.
constexpr size_t kMaxBufferUnits = 32 * 1024 * 1024;
constexpr size_t kStackBufferUnits = 1024;

int FormatOnce(char* buffer, size_t size, const char* format, va_list arguments) {
  return vsnprintf(buffer, size, format, arguments);
}

int FormatOnce(wchar_t* buffer, size_t size, const wchar_t* format, va_list arguments) {
  return vsnwprintf(buffer, size, format, arguments);
}

// Every call formats from its own copy of the argument list: a list that a formatter has walked cannot be
// walked again.
template <typename Char>
int FormatBounded(Char* buffer, size_t size, const Char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  int result = FormatOnce(buffer, size, format, copy);
  va_end(copy);
  if (result >= 0)
    return result;  // the whole length, whether or not it fitted
  // Some formatters report truncation as failure: ask for the length alone.
  va_copy(copy, arguments);
  result = FormatOnce(nullptr, 0, format, copy);
  va_end(copy);
  return result < 0 ? -1 : result;
}

template <typename String>
void DoStringAppendV(String* dst, const typename String::value_type* format, va_list ap) {
  using Char = typename String::value_type;
  Char stack_buffer[kStackBufferUnits];
  int result = FormatBounded(stack_buffer, kStackBufferUnits, format, ap);
  if (result < 0)
    return;
  if (static_cast<size_t>(result) < kStackBufferUnits) {
    dst->append(stack_buffer, static_cast<size_t>(result));
    return;
  }
  size_t length = static_cast<size_t>(result);
  for (;;) {
    const size_t size = length + 1;
    if (size > kMaxBufferUnits)
      return;
    std::unique_ptr<Char[]> heap_buffer(new Char[size]());
    result = FormatBounded(heap_buffer.get(), size, format, ap);
    if (result < 0)
      return;
    if (static_cast<size_t>(result) < size) {
      dst->append(heap_buffer.get(), static_cast<size_t>(result));
      return;
    }
    length = static_cast<size_t>(result);  // the arguments changed length between calls: try again
  }
}

}  // namespace

int BoundedVsnprintf(char* buffer, size_t size, const char* format, va_list arguments) {
  return FormatBounded(buffer, size, format, arguments);
}

void StringAppendV(std::string* dst, const char* format, va_list ap) {
  DoStringAppendV(dst, format, ap);
}

void StringAppendV(std::wstring* dst, const wchar_t* format, va_list ap) {
  DoStringAppendV(dst, format, ap);
}

std::string StringPrintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string result;
  StringAppendV(&result, format, ap);
  va_end(ap);
  return result;
}

std::wstring StringPrintf(const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::wstring result;
  StringAppendV(&result, format, ap);
  va_end(ap);
  return result;
}

const std::string& StringPrintfInto(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  dst->clear();
  StringAppendV(dst, format, ap);
  va_end(ap);
  return *dst;
}

void StringAppendF(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

}  // namespace base
