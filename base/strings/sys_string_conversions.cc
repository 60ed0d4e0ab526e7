#include "base/strings/sys_string_conversions.h"

#include <windows.h>

#include "base/logging.h"

namespace base {

namespace {

// The system converter takes 32-bit lengths.
int CheckedLength(size_t length) {
  CHECK(length <= static_cast<size_t>(INT_MAX));
  return static_cast<int>(length);
}

}  // namespace

std::wstring SystemUTF8ToWide(StringPiece utf8) {
  return SystemMultiByteToWide(utf8, CP_UTF8);
}

std::string SystemWideToUTF8(const std::wstring& wide) {
  return SystemWideToMultiByte(wide, CP_UTF8);
}

std::wstring SystemMultiByteToWide(StringPiece mb, uint32_t code_page) {
  if (mb.empty())
    return std::wstring();
  const int mb_length = CheckedLength(mb.size());
  const int wide_length = MultiByteToWideChar(code_page, 0, mb.data(), mb_length, nullptr, 0);
  if (wide_length == 0)
    return std::wstring();
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(code_page, 0, mb.data(), mb_length, wide.data(), wide_length);
  return wide;
}

std::string SystemWideToMultiByte(const std::wstring& wide, uint32_t code_page) {
  if (wide.empty())
    return std::string();
  const int wide_length = CheckedLength(wide.size());
  const int mb_length = WideCharToMultiByte(code_page, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (mb_length == 0)
    return std::string();
  std::string mb(static_cast<size_t>(mb_length), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), wide_length, mb.data(), mb_length, nullptr, nullptr);
  return mb;
}

}  // namespace base
