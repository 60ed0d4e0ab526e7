#include "base/strings/utf_string_conversions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <type_traits>

#include "base/strings/sys_string_conversions.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "testing/test_support.h"

namespace base {
namespace {

// Units as hexadecimal, for readable failures.
template <typename String>
std::string Hex(const String& units) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (auto unit : units) {
    const unsigned value = static_cast<std::make_unsigned_t<typename String::value_type>>(unit);
    for (int shift = static_cast<int>(sizeof(unit)) * 8 - 4; shift >= 0; shift -= 4)
      hex.push_back(kDigits[(value >> shift) & 0xF]);
    hex.push_back(' ');
  }
  return hex;
}

constexpr wchar_t kFFFD = 0xFFFD;

// ---------------------------------------------------------------------------------------------------------
// Ill-formed UTF-8: one U+FFFD for a lead byte (0xC0-0xFD) with the continuation bytes it announces, one for
// every other stray byte. The rows include every difference between the grouping of the ICU decoder that is
// linked and the grouping this program keeps.

struct IllFormedCase {
  const char* input;
  const wchar_t* expected;
};

const IllFormedCase kIllFormedCases[] = {
    // Overlong, surrogate and out-of-range forms, each one replacement.
    {"\xE0\x80\x80", L"\xFFFD"},
    {"\xED\xA0\x80", L"\xFFFD"},
    {"\xED\xBF\xBF", L"\xFFFD"},
    {"\xC0\x80", L"\xFFFD"},
    {"\xC1\xBF", L"\xFFFD"},
    {"\xF0\x80\x80\x80", L"\xFFFD"},
    {"\xF4\x90\x80\x80", L"\xFFFD"},
    {"\xF5\x80\x80\x80", L"\xFFFD"},
    {"\xF7\xBF\xBF\xBF" "A", L"\xFFFD" L"A"},
    // Five- and six-byte forms.
    {"\xF8\x88\x80\x80\x80", L"\xFFFD"},
    {"\xFB\xBF\xBF\xBF\xBF" "A", L"\xFFFD" L"A"},
    {"\xFC\x84\x80\x80\x80\x80", L"\xFFFD"},
    {"\xFD\xBF" "A", L"\xFFFD" L"A"},
    // A lead takes at most the continuation bytes it announces; the rest are stray.
    {"\xC0\x80\x80", L"\xFFFD\xFFFD"},
    {"\xE0\x80\x80\x80", L"\xFFFD\xFFFD"},
    {"\xFC\x80\x80\x80\x80\x80\x80", L"\xFFFD\xFFFD"},
    // Truncated sequences: the lead and the continuation bytes present.
    {"A\xC3", L"A\xFFFD"},
    {"\xE2\x82", L"\xFFFD"},
    {"\xE2\x82" "A", L"\xFFFD" L"A"},
    {"\xF0\x9F\x98", L"\xFFFD"},
    {"\xF0\x9F\x98" "\xF0\x9F\x98\x80", L"\xFFFD\xD83D\xDE00"},
    {"\xE0\x80" "A", L"\xFFFD" L"A"},
    // A new lead ends the previous sequence.
    {"\xC3\xC3\xA9", L"\xFFFD\x00E9"},
    {"\xE2\xE2\x82\xAC", L"\xFFFD\x20AC"},
    // Stray bytes one by one.
    {"\x80" "A", L"\xFFFD" L"A"},
    {"\xBF\x80", L"\xFFFD\xFFFD"},
    {"\xFE\xFF", L"\xFFFD\xFFFD"},
    {"\xFE\x80", L"\xFFFD\xFFFD"},
    // Valid neighbours survive.
    {"a\xED\xA0\x80" "b\xC3\xA9", L"a\xFFFD" L"b\x00E9"},
    // Noncharacters are valid code points.
    {"\xEF\xBF\xBE\xEF\xBF\xBF", L"\xFFFE\xFFFF"},
    {"\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
};

TEST(UTF8ToWideTest, IllFormedInputTable) {
  for (const IllFormedCase& test : kIllFormedCases) {
    EXPECT_EQ(Hex(std::wstring(test.expected)), Hex(UTF8ToWide(test.input))) << "input " << Hex(std::string(test.input));
  }
}

TEST(UTF8ToWideTest, EdgeCases) {
  EXPECT_EQ(std::wstring(L"A") + kFFFD, UTF8ToWide("\x41\xC3"));
  EXPECT_EQ(std::wstring(1, kFFFD), UTF8ToWide("\xE0\x80\x80"));
  EXPECT_EQ(std::wstring(1, kFFFD), UTF8ToWide("\xED\xA0\x80"));
  EXPECT_EQ(std::wstring(1, kFFFD) + L"A", UTF8ToWide("\x80\x41"));
  EXPECT_EQ(L"\xD83D\xDE00", UTF8ToWide("\xF0\x9F\x98\x80"));
  EXPECT_EQ(L"", UTF8ToWide(""));
  EXPECT_EQ(L"", UTF8ToWide(StringPiece()));
  // NUL is a character like any other.
  EXPECT_EQ(std::wstring(L"a\0\x00E9", 3), UTF8ToWide(StringPiece("a\0\xC3\xA9", 4)));
}

TEST(WideToUTF8Test, EdgeCases) {
  EXPECT_EQ("\xEF\xBF\xBD\x41", WideToUTF8(std::wstring(L"\xD800" L"A")));
  EXPECT_EQ("\xF0\x9F\x98\x80", WideToUTF8(L"\xD83D\xDE00"));
  EXPECT_EQ("", WideToUTF8(L""));
  EXPECT_EQ("", WideToUTF8(std::wstring()));
  // Unpaired surrogates anywhere, each alone.
  EXPECT_EQ("\xEF\xBF\xBD", WideToUTF8(L"\xDC00"));
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", WideToUTF8(L"\xDE00\xD83D"));
  EXPECT_EQ("a\xEF\xBF\xBD", WideToUTF8(L"a\xDBFF"));
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80", WideToUTF8(L"\xD800\xD800\xD83D\xDE00"));
  // Both overloads agree.
  const std::wstring owned = L"x\x00E9\x20AC";
  EXPECT_EQ(WideToUTF8(StringPiece16(owned)), WideToUTF8(owned));
  EXPECT_EQ("x\xC3\xA9\xE2\x82\xAC", WideToUTF8(owned));
}

TEST(ASCIIConversionTest, UnitByUnit) {
  EXPECT_EQ(L"abc\x7F", ASCIIToUTF16("abc\x7F"));
  EXPECT_EQ("abc\x7F", UTF16ToASCII(L"abc\x7F"));
  EXPECT_EQ(L"", ASCIIToUTF16(""));
  EXPECT_EQ("", UTF16ToASCII(L""));
  EXPECT_EQ(std::wstring(L"a\0b", 3), ASCIIToUTF16(StringPiece("a\0b", 3)));
}

// ---------------------------------------------------------------------------------------------------------
// The single-code-point steps.

TEST(ReadUnicodeCharacterTest, LeavesTheIndexOnTheLastByteConsumed) {
  struct Case {
    const char* input;
    int32_t length;
    bool valid;
    uint32_t code_point;
    int32_t last_index;
  } cases[] = {
      {"A", 1, true, 0x41, 0},
      {"\xC3\xA9", 2, true, 0xE9, 1},
      {"\xE2\x82\xAC", 3, true, 0x20AC, 2},
      {"\xF0\x9F\x98\x80", 4, true, 0x1F600, 3},
      {"\xE0\x80\x80", 3, false, 0, 2},
      {"\xED\xA0\x80", 3, false, 0, 2},
      {"\xF4\x90\x80\x80", 4, false, 0, 3},
      {"\xFC\x84\x80\x80\x80\x80", 6, false, 0, 5},
      {"\xC3", 1, false, 0, 0},
      {"\x80\x80", 2, false, 0, 0},
      {"\xFF\x80", 2, false, 0, 0},
      // The length bounds the read even when more bytes follow in memory.
      {"\xE2\x82\xAC", 2, false, 0, 1},
  };
  for (const auto& c : cases) {
    int32_t index = 0;
    uint32_t code_point = 0;
    EXPECT_EQ(c.valid, ReadUnicodeCharacter(c.input, c.length, &index, &code_point)) << Hex(std::string(c.input));
    EXPECT_EQ(c.last_index, index) << Hex(std::string(c.input));
    if (c.valid) {
      EXPECT_EQ(c.code_point, code_point) << Hex(std::string(c.input));
    }
  }
}

TEST(ReadUnicodeCharacterTest, WideSurrogates) {
  const wchar_t text[] = L"\xD83D\xDE00\xD800" L"A\xDC00";
  int32_t index = 0;
  uint32_t code_point = 0;
  EXPECT_TRUE(ReadUnicodeCharacter(text, 5, &index, &code_point));
  EXPECT_EQ(0x1F600u, code_point);
  EXPECT_EQ(1, index);
  index = 2;
  EXPECT_FALSE(ReadUnicodeCharacter(text, 5, &index, &code_point));
  EXPECT_EQ(2, index);  // the unit after a lone lead is read on its own
  index = 4;
  EXPECT_FALSE(ReadUnicodeCharacter(text, 5, &index, &code_point));
  EXPECT_EQ(4, index);
  index = 0;
  EXPECT_FALSE(ReadUnicodeCharacter(text, 1, &index, &code_point));  // the trail lies beyond the length
  EXPECT_EQ(0, index);
}

TEST(WriteUnicodeCharacterTest, EncodingBoundaries) {
  struct Case {
    uint32_t code_point;
    const char* utf8;
    size_t utf16_units;
  } cases[] = {
      {0x0, "", 1},  // NUL: the literal is empty, the expected bytes are one 0
      {0x7F, "\x7F", 1},
      {0x80, "\xC2\x80", 1},
      {0x7FF, "\xDF\xBF", 1},
      {0x800, "\xE0\xA0\x80", 1},
      {0xFFFF, "\xEF\xBF\xBF", 1},
      {0x10000, "\xF0\x90\x80\x80", 2},
      {0x10FFFF, "\xF4\x8F\xBF\xBF", 2},
  };
  for (const auto& c : cases) {
    std::string utf8;
    const std::string expected = c.code_point == 0 ? std::string(1, '\0') : std::string(c.utf8);
    EXPECT_EQ(expected.size(), WriteUnicodeCharacter(c.code_point, &utf8));
    EXPECT_EQ(Hex(expected), Hex(utf8));
    std::wstring utf16;
    EXPECT_EQ(c.utf16_units, WriteUnicodeCharacter(c.code_point, &utf16));
    EXPECT_EQ(Hex(SystemUTF8ToWide(expected)), Hex(utf16));
  }
}

// ---------------------------------------------------------------------------------------------------------
// Differential test against the Windows converter on well-formed text.

// A random code point of 1 to 4 UTF-8 bytes (never a surrogate), weighted so that every length is common.
uint32_t RandomCodePoint(std::mt19937* random) {
  switch ((*random)() % 4) {
    case 0:
      return (*random)() % 0x80;
    case 1:
      return 0x80 + (*random)() % (0x800 - 0x80);
    case 2: {
      uint32_t code_point = 0x800 + (*random)() % (0x10000 - 0x800 - 0x800);
      return code_point >= 0xD800 ? code_point + 0x800 : code_point;
    }
    default:
      return 0x10000 + (*random)() % (0x110000 - 0x10000);
  }
}

// UTF-16 built by hand from code points, independently of the code under test.
void AppendUTF16(uint32_t code_point, std::wstring* out) {
  if (code_point < 0x10000) {
    out->push_back(static_cast<wchar_t>(code_point));
  } else {
    code_point -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (code_point >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF)));
  }
}

TEST(UTFConversionDifferentialTest, MatchesWindowsConverterOnRandomValidText) {
  std::mt19937 random(0x5EED);
  constexpr int kStrings = 100000;
  for (int i = 0; i < kStrings; ++i) {
    std::wstring wide;
    const int characters = static_cast<int>(random() % 24);
    // Every tenth text is ASCII, which takes the fast path.
    const bool ascii = i % 10 == 0;
    for (int c = 0; c < characters; ++c)
      AppendUTF16(ascii ? random() % 0x80 : RandomCodePoint(&random), &wide);

    const std::string windows_utf8 = SystemWideToUTF8(wide);
    const std::string utf8 = WideToUTF8(wide);
    ASSERT_EQ(Hex(windows_utf8), Hex(utf8)) << "string " << i;
    const std::wstring windows_wide = SystemUTF8ToWide(utf8);
    ASSERT_EQ(Hex(wide), Hex(windows_wide)) << "string " << i;
    ASSERT_EQ(Hex(windows_wide), Hex(UTF8ToWide(utf8))) << "string " << i;
  }
}

TEST(UTFConversionDifferentialTest, EveryCodePointMatchesWindowsConverter) {
  // All valid code points in one text, in runs that cross every encoding-length boundary.
  std::wstring wide;
  for (uint32_t code_point = 0; code_point < 0x110000; ++code_point) {
    if (code_point < 0xD800 || code_point > 0xDFFF)
      AppendUTF16(code_point, &wide);
  }
  const std::string utf8 = WideToUTF8(wide);
  EXPECT_TRUE(SystemWideToUTF8(wide) == utf8);
  EXPECT_TRUE(wide == UTF8ToWide(utf8));
}

// ---------------------------------------------------------------------------------------------------------
// A 1 MiB text in many scripts, made and encoded on the Linux side: both directions reproduce the other
// encoding byte for byte.

TEST(UTFConversionRoundTripTest, MixedScriptMegabyte) {
  const std::wstring data_dir = test_support::TestDataDir();
  ASSERT_FALSE(data_dir.empty());
  std::string utf8, utf16_bytes;
  ASSERT_TRUE(test_support::ReadFileBytes(data_dir + L"\\text\\mixed_script.utf8", &utf8));
  ASSERT_TRUE(test_support::ReadFileBytes(data_dir + L"\\text\\mixed_script.utf16le", &utf16_bytes));
  ASSERT_GE(utf8.size(), 1u << 20);
  ASSERT_EQ(0u, utf16_bytes.size() % 2);
  const std::wstring utf16(reinterpret_cast<const wchar_t*>(utf16_bytes.data()), utf16_bytes.size() / 2);

  const std::wstring wide = UTF8ToWide(utf8);
  ASSERT_EQ(utf16.size(), wide.size());
  EXPECT_TRUE(wide == utf16);
  const std::string back = WideToUTF8(wide);
  ASSERT_EQ(utf8.size(), back.size());
  EXPECT_TRUE(back == utf8);
}

}  // namespace
}  // namespace base
