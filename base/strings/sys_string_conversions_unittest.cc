#include "base/strings/sys_string_conversions.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

TEST(SysStringConversionsTest, UTF8RoundTrip) {
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::wstring wide = L"A\x00E9\x20AC\xD83D\xDE00";
  EXPECT_EQ(wide, SystemUTF8ToWide(utf8));
  EXPECT_EQ(utf8, SystemWideToUTF8(wide));
  EXPECT_EQ(L"", SystemUTF8ToWide(""));
  EXPECT_EQ("", SystemWideToUTF8(L""));
  // NUL inside the text is converted, not a terminator.
  EXPECT_EQ(std::wstring(L"a\0b", 3), SystemUTF8ToWide(StringPiece("a\0b", 3)));
}

TEST(SysStringConversionsTest, CodePages) {
  // Windows-1252: 0x80 is the euro sign, 0xE9 e-acute.
  EXPECT_EQ(L"\x20AC\x00E9", SystemMultiByteToWide("\x80\xE9", 1252));
  EXPECT_EQ("\x80\xE9", SystemWideToMultiByte(L"\x20AC\x00E9", 1252));
  // Windows-1251: Cyrillic.
  EXPECT_EQ(L"\x0416", SystemMultiByteToWide("\xC6", 1251));
  EXPECT_EQ("\xC6", SystemWideToMultiByte(L"\x0416", 1251));
  // Shift-JIS (932): a double-byte character.
  EXPECT_EQ(L"\x3042", SystemMultiByteToWide("\x82\xA0", 932));
  EXPECT_EQ("\x82\xA0", SystemWideToMultiByte(L"\x3042", 932));
}

TEST(SysStringConversionsTest, UnknownCodePageGivesEmptyResult) {
  EXPECT_EQ(L"", SystemMultiByteToWide("abc", 12345));
  EXPECT_EQ("", SystemWideToMultiByte(L"abc", 12345));
}

}  // namespace
}  // namespace base
