#include "base/strings/string_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/strings/allocation_counter_test_util.h"

namespace base {
namespace {

// ---------------------------------------------------------------------------------------------------------
// IsStringASCII: the word-at-a-time scan must see a non-ASCII unit wherever it sits relative to the 8-byte
// boundaries: in the unaligned head, in a four-word block, in a single word or in the tail.

template <typename Char>
void CheckEveryPositionAndAlignment(const std::vector<Char>& non_ascii_units) {
  constexpr size_t kMaxLength = 80;
  constexpr size_t kMaxOffset = 16;
  std::vector<Char> buffer(kMaxOffset + kMaxLength, static_cast<Char>('a'));
  for (size_t offset = 0; offset < kMaxOffset; ++offset) {
    for (size_t length = 0; length <= kMaxLength; ++length) {
      const Char* text = buffer.data() + offset;
      ASSERT_TRUE(IsStringASCII(BasicStringPiece<std::basic_string<Char>>(text, length)))
          << "offset " << offset << " length " << length;
      for (size_t position = 0; position < length; ++position) {
        for (Char unit : non_ascii_units) {
          buffer[offset + position] = unit;
          ASSERT_FALSE(IsStringASCII(BasicStringPiece<std::basic_string<Char>>(text, length)))
              << "offset " << offset << " length " << length << " position " << position << " unit "
              << static_cast<unsigned>(unit);
          buffer[offset + position] = static_cast<Char>('a');
        }
      }
      // A non-ASCII unit just outside the text must not count.
      if (offset + length < buffer.size()) {
        buffer[offset + length] = non_ascii_units[0];
        ASSERT_TRUE(IsStringASCII(BasicStringPiece<std::basic_string<Char>>(text, length)));
        buffer[offset + length] = static_cast<Char>('a');
      }
    }
  }
}

TEST(IsStringASCIITest, NarrowFindsAHighByteAtEveryPositionAndAlignment) {
  CheckEveryPositionAndAlignment<char>({'\x80', '\xFF', '\xC3'});
}

TEST(IsStringASCIITest, WideFindsANonASCIIUnitAtEveryPositionAndAlignment) {
  // 0x0100 and 0x8000 have bit 7 clear: only the high byte of the unit gives them away.
  CheckEveryPositionAndAlignment<wchar_t>({L'\x0080', L'\x0100', L'\x8000', L'\xFFFF', L'\x00FF'});
}

TEST(IsStringASCIITest, AllASCIIValuesAndEmptyText) {
  std::string all;
  for (int c = 0; c < 0x80; ++c)
    all.push_back(static_cast<char>(c));
  EXPECT_TRUE(IsStringASCII(all));
  EXPECT_TRUE(IsStringASCII(std::wstring(all.begin(), all.end())));
  EXPECT_TRUE(IsStringASCII(StringPiece()));
  EXPECT_TRUE(IsStringASCII(std::wstring()));
}

// ---------------------------------------------------------------------------------------------------------
// Trimming.

TEST(TrimTest, TrimWhitespaceResults) {
  std::wstring output = L"unchanged";
  EXPECT_EQ(TRIM_ALL, TrimWhitespace(L"  ", TRIM_ALL, &output));
  EXPECT_EQ(L"", output);
  output = L"unchanged";
  EXPECT_EQ(TRIM_NONE, TrimWhitespace(L"", TRIM_ALL, &output));
  EXPECT_EQ(L"", output);
  EXPECT_EQ(TRIM_NONE, TrimWhitespace(L" a", TRIM_TRAILING, &output));
  EXPECT_EQ(L" a", output);
  EXPECT_EQ(TRIM_LEADING, TrimWhitespace(L" a", TRIM_ALL, &output));
  EXPECT_EQ(L"a", output);
  EXPECT_EQ(TRIM_TRAILING, TrimWhitespace(L" a\t", TRIM_TRAILING, &output));
  EXPECT_EQ(L" a", output);
  EXPECT_EQ(TRIM_ALL, TrimWhitespace(L"\r\n a b \n", TRIM_ALL, &output));
  EXPECT_EQ(L"a b", output);
  EXPECT_EQ(TRIM_NONE, TrimWhitespace(L" a ", TRIM_NONE, &output));
  EXPECT_EQ(L" a ", output);
  // Only whitespace, one end asked: the output is empty and the asked end is reported.
  EXPECT_EQ(TRIM_LEADING, TrimWhitespace(L" \t ", TRIM_LEADING, &output));
  EXPECT_EQ(L"", output);
}

TEST(TrimTest, TrimWhitespaceUsesExactlyTheTwentyFiveUnits) {
  const std::wstring set = kWhitespaceWide;
  ASSERT_EQ(25u, set.size());
  for (wchar_t unit = 1; unit < 0x3100; ++unit) {
    const bool expected = set.find(unit) != std::wstring::npos;
    std::wstring output;
    const std::wstring input = std::wstring(1, unit) + L"x" + std::wstring(1, unit);
    EXPECT_EQ(expected ? TRIM_ALL : TRIM_NONE, TrimWhitespace(input, TRIM_ALL, &output)) << static_cast<unsigned>(unit);
  }
  // Look-alikes that are not in the set.
  std::wstring output;
  EXPECT_EQ(TRIM_NONE, TrimWhitespace(L"\x200B" L"a" L"\xFEFF", TRIM_ALL, &output));
}

TEST(TrimTest, TrimWhitespaceASCIIKeepsHighBytes) {
  std::string output;
  EXPECT_EQ(TRIM_ALL, TrimWhitespaceASCII("\x0B\x0C x \r\n", TRIM_ALL, &output));
  EXPECT_EQ("x", output);
  EXPECT_EQ(TRIM_NONE, TrimWhitespaceASCII("\x85x\xA0", TRIM_ALL, &output));
  EXPECT_EQ("\x85x\xA0", output);
}

TEST(TrimTest, OutputMayBeTheInput) {
  std::string text = "--ab--";
  EXPECT_EQ(TRIM_ALL, TrimString(text, "-", TRIM_ALL, &text));
  EXPECT_EQ("ab", text);
  text = "----";
  EXPECT_EQ(TRIM_TRAILING, TrimString(text, "-", TRIM_TRAILING, &text));
  EXPECT_EQ("", text);
  std::wstring wide = L" x ";
  EXPECT_EQ(TRIM_ALL, TrimWhitespace(wide, TRIM_ALL, &wide));
  EXPECT_EQ(L"x", wide);
}

TEST(TrimTest, TrimStringWithSets) {
  std::string output;
  EXPECT_EQ(TRIM_ALL, TrimString("abcxcba", "abc", TRIM_ALL, &output));
  EXPECT_EQ("x", output);
  EXPECT_EQ(TRIM_LEADING, TrimString("abcxcba", "ab", TRIM_LEADING, &output));
  EXPECT_EQ("cxcba", output);
  EXPECT_EQ(TRIM_NONE, TrimString("xyz", "", TRIM_ALL, &output));
  EXPECT_EQ("xyz", output);
  EXPECT_EQ(TRIM_TRAILING, TrimString("\xE9x\xE9", "\xE9", TRIM_TRAILING, &output));
  EXPECT_EQ("\xE9x", output);
  std::wstring wide;
  EXPECT_EQ(TRIM_ALL, TrimString(std::wstring(L"\"quoted\""), L"\"", TRIM_ALL, &wide));
  EXPECT_EQ(L"quoted", wide);
}

TEST(TrimTest, TrimStringPieceIsASubView) {
  const StringPiece input("  ab  ");
  const StringPiece all = TrimStringPiece(input, " ", TRIM_ALL);
  EXPECT_EQ("ab", all);
  EXPECT_EQ(input.data() + 2, all.data());
  EXPECT_EQ("ab  ", TrimStringPiece(input, " ", TRIM_LEADING));
  EXPECT_EQ("  ab", TrimStringPiece(input, " ", TRIM_TRAILING));
  EXPECT_EQ(input, TrimStringPiece(input, " ", TRIM_NONE));
  EXPECT_TRUE(TrimStringPiece("    ", " ", TRIM_ALL).empty());
  EXPECT_TRUE(TrimStringPiece("    ", " ", TRIM_TRAILING).empty());
  EXPECT_TRUE(TrimStringPiece("    ", " ", TRIM_LEADING).empty());
  EXPECT_TRUE(TrimStringPiece("", " ", TRIM_ALL).empty());
  EXPECT_EQ(L"a", TrimStringPiece(StringPiece16(L"\x3000" L"a\x00A0"), kWhitespaceWide, TRIM_ALL));
}

// ---------------------------------------------------------------------------------------------------------
// CollapseWhitespace.

TEST(CollapseWhitespaceTest, RunsBecomeOneSpace) {
  EXPECT_EQ("a b c", CollapseWhitespace("  a \t\x0B b\x0C\x0C c  ", false));
  EXPECT_EQ("a b", CollapseWhitespace("a \r\n b", false));
  EXPECT_EQ("", CollapseWhitespace("", false));
  EXPECT_EQ("", CollapseWhitespace(" \t ", false));
  EXPECT_EQ("abc", CollapseWhitespace("abc", true));
}

TEST(CollapseWhitespaceTest, LineBreakRunsVanishWithTheOption) {
  EXPECT_EQ("ab", CollapseWhitespace("a \r\n b", true));
  EXPECT_EQ("a b", CollapseWhitespace("a \t b", true));
  EXPECT_EQ("x", CollapseWhitespace("x\n", true));
  EXPECT_EQ("y", CollapseWhitespace("\r\ny", true));
  EXPECT_EQ("", CollapseWhitespace(" ", true));
  EXPECT_EQ("a bc", CollapseWhitespace("a b\nc", true));
  EXPECT_EQ("ab c", CollapseWhitespace(" a\n\nb  c\r", true));
}

TEST(CollapseWhitespaceTest, HighBytesAreText) {
  EXPECT_EQ("\x85 \xA0", CollapseWhitespace("\x85  \xA0", false));
  EXPECT_EQ("\xC2\x85", CollapseWhitespace("\xC2\x85", true));
  EXPECT_EQ("\xC2\xA0x", CollapseWhitespace(" \xC2\xA0x ", true));
}

// ---------------------------------------------------------------------------------------------------------
// Case.

TEST(CaseTest, OnlyLettersAToZChange) {
  std::string all;
  for (int c = 0; c < 256; ++c)
    all.push_back(static_cast<char>(c));
  const std::string lower = ToLowerASCII(all);
  const std::string upper = ToUpperASCII(all);
  ASSERT_EQ(256u, lower.size());
  ASSERT_EQ(256u, upper.size());
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c), lower[c]) << c;
    EXPECT_EQ(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c), upper[c]) << c;
  }
  EXPECT_EQ(L'\x00C0', ToLowerASCII(L'\x00C0'));  // no Latin-1 folding
  EXPECT_EQ(L'\x0130', ToLowerASCII(L'\x0130'));
}

TEST(CaseTest, LowerCaseEqualsASCII) {
  EXPECT_TRUE(LowerCaseEqualsASCII(L"HeLLo", "hello"));
  EXPECT_TRUE(LowerCaseEqualsASCII(L"", ""));
  EXPECT_FALSE(LowerCaseEqualsASCII(L"hello", "hell"));
  EXPECT_FALSE(LowerCaseEqualsASCII(L"hell", "hello"));
  EXPECT_FALSE(LowerCaseEqualsASCII(L"\x00C9", "\xC3\xA9"));
  // A unit whose low byte is a letter is still a different unit.
  EXPECT_FALSE(LowerCaseEqualsASCII(L"\x0141", "a"));
  // A non-ASCII narrow byte never equals a sign-extended wide unit.
  EXPECT_FALSE(LowerCaseEqualsASCII(L"\xFFE9", "\xE9"));
  EXPECT_TRUE(LowerCaseEqualsASCII(L"\x00E9", "\xE9"));
}

TEST(CaseTest, StartsWithAndEndsWith) {
  EXPECT_TRUE(StartsWith("javascript:x", "javascript:", CompareCase::SENSITIVE));
  EXPECT_FALSE(StartsWith("JavaScript:x", "javascript:", CompareCase::SENSITIVE));
  EXPECT_TRUE(StartsWith("JavaScript:x", "javascript:", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(StartsWith("java", "javascript:", CompareCase::INSENSITIVE_ASCII));
  EXPECT_TRUE(StartsWith("", "", CompareCase::SENSITIVE));
  EXPECT_TRUE(StartsWith("abc", "", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(StartsWith("\xC3\xA9", "\xC3\x89", CompareCase::INSENSITIVE_ASCII));
  EXPECT_TRUE(StartsWith(L"Program Files", L"PROGRAM", CompareCase::INSENSITIVE_ASCII));

  EXPECT_TRUE(EndsWith(L"setup.EXE", L".exe", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(EndsWith(L"setup.EXE", L".exe", CompareCase::SENSITIVE));
  EXPECT_TRUE(EndsWith(L"setup.exe", L".exe", CompareCase::SENSITIVE));
  EXPECT_FALSE(EndsWith(L"exe", L".exe", CompareCase::SENSITIVE));
  EXPECT_TRUE(EndsWith(L"x", L"", CompareCase::SENSITIVE));
  EXPECT_FALSE(EndsWith(L"\x00C4", L"\x00E4", CompareCase::INSENSITIVE_ASCII));
}

TEST(CaseTest, UnknownCompareCaseAnswersFalse) {
  const CompareCase bogus = static_cast<CompareCase>(2);
  EXPECT_FALSE(StartsWith("abc", "a", bogus));
  EXPECT_FALSE(StartsWith(L"abc", L"a", bogus));
  EXPECT_FALSE(EndsWith(L"abc", L"c", bogus));
}

// ---------------------------------------------------------------------------------------------------------
// Joining and replacing.

TEST(JoinStringTest, SeparatorsOnlyBetweenParts) {
  EXPECT_EQ("", JoinString(std::vector<std::string>(), ","));
  EXPECT_EQ("a", JoinString({"a"}, ","));
  EXPECT_EQ("a, b, , c", JoinString({"a", "b", "", "c"}, ", "));
  EXPECT_EQ(",", JoinString({"", ""}, ","));
  EXPECT_EQ("ab", JoinString({"a", "b"}, ""));
  EXPECT_EQ(L"x\\y\\z", JoinString(std::vector<std::wstring>{L"x", L"y", L"z"}, L"\\"));
}

TEST(ReplaceCharsTest, ReplacementIsNotRescanned) {
  std::string output;
  EXPECT_TRUE(ReplaceChars("a\nb\r\nc\n", "\n", "\r\n", &output));
  EXPECT_EQ("a\r\nb\r\r\nc\r\n", output);
  EXPECT_TRUE(ReplaceChars("a-b_c", "-_", "--", &output));
  EXPECT_EQ("a--b--c", output);
  EXPECT_TRUE(ReplaceChars("xx", "x", "", &output));
  EXPECT_EQ("", output);
  EXPECT_FALSE(ReplaceChars("abc", "xyz", "!", &output));
  EXPECT_EQ("abc", output);
  std::string text = "a/b/c";
  EXPECT_TRUE(ReplaceChars(text, "/", "\\", &text));
  EXPECT_EQ("a\\b\\c", text);
  EXPECT_FALSE(ReplaceChars(text, "/", "\\", &text));
  EXPECT_EQ("a\\b\\c", text);
}

TEST(ReplaceSubstringTest, FirstAfterOffset) {
  std::string text = "aaa";
  ReplaceFirstSubstringAfterOffset(&text, 1, "a", "bc");
  EXPECT_EQ("abca", text);
  ReplaceFirstSubstringAfterOffset(&text, 10, "a", "x");
  EXPECT_EQ("abca", text);
  ReplaceFirstSubstringAfterOffset(&text, 0, "zz", "x");
  EXPECT_EQ("abca", text);
  ReplaceFirstSubstringAfterOffset(&text, 0, "bc", "");
  EXPECT_EQ("aa", text);
}

TEST(ReplaceSubstringTest, AllAfterOffsetEdgeCases) {
  std::string text = "{a}{a}";
  ReplaceSubstringsAfterOffset(&text, 0, "{a}", "long");
  EXPECT_EQ("longlong", text);
  text = "{a}{a}";
  ReplaceSubstringsAfterOffset(&text, 0, "{a}", "");
  EXPECT_EQ("", text);
  text = "aaaa";
  ReplaceSubstringsAfterOffset(&text, 0, "aa", "b");  // non-overlapping, left to right
  EXPECT_EQ("bb", text);
  text = "aaa";
  ReplaceSubstringsAfterOffset(&text, 0, "aa", "xyz");
  EXPECT_EQ("xyza", text);
  text = "abab";
  ReplaceSubstringsAfterOffset(&text, 1, "ab", "X");
  EXPECT_EQ("abX", text);
  text = "abab";
  ReplaceSubstringsAfterOffset(&text, 99, "ab", "X");
  EXPECT_EQ("abab", text);
  text = "abc";
  ReplaceSubstringsAfterOffset(&text, 0, "", "X");  // an empty pattern changes nothing
  EXPECT_EQ("abc", text);
  text = "x.y.z";
  ReplaceSubstringsAfterOffset(&text, 0, ".", "::");
  EXPECT_EQ("x::y::z", text);
  text = "1ab2ab3";
  ReplaceSubstringsAfterOffset(&text, 0, "ab", "cd");
  EXPECT_EQ("1cd2cd3", text);
}

// The obvious quadratic replacement, as the reference for the in-place one.
std::string ReferenceReplace(const std::string& text, size_t offset, const std::string& find,
                             const std::string& replace) {
  std::string result = text.substr(0, std::min(offset, text.size()));
  size_t read = result.size();
  while (read < text.size()) {
    const size_t match = text.find(find, read);
    if (match == std::string::npos)
      break;
    result.append(text, read, match - read);
    result.append(replace);
    read = match + find.size();
  }
  if (read < text.size())
    result.append(text, read, std::string::npos);
  return result;
}

TEST(ReplaceSubstringTest, AllAfterOffsetMatchesReferenceOnRandomInput) {
  std::mt19937 random(7);
  auto random_text = [&random](size_t max_length) {
    std::string text(random() % (max_length + 1), 'a');
    for (char& c : text)
      c = "aab"[random() % 3];
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string text = random_text(24);
    std::string find = random_text(3);
    if (find.empty())
      find.push_back('a');
    const std::string replace = random_text(5);
    const size_t offset = random() % 6;
    std::string actual = text;
    ReplaceSubstringsAfterOffset(&actual, offset, find, replace);
    ASSERT_EQ(ReferenceReplace(text, offset, find, replace), actual)
        << "text " << text << " find " << find << " replace " << replace << " offset " << offset;
  }
}

TEST(ReplaceSubstringTest, AllocatesAtMostOnce) {
  std::string text;
  for (int i = 0; i < 5000; ++i)
    text += "<x>";
  const std::string original = text;
  {
    test_support::ScopedAllocationCounter counter;
    ReplaceSubstringsAfterOffset(&text, 0, "x", "long replacement");
    EXPECT_LE(counter.count(), 1u);
  }
  EXPECT_EQ(ReferenceReplace(original, 0, "x", "long replacement"), text);
  {
    test_support::ScopedAllocationCounter counter;
    ReplaceSubstringsAfterOffset(&text, 0, "long replacement", "y");
    ReplaceSubstringsAfterOffset(&text, 0, "<", "[");
    EXPECT_EQ(0u, counter.count());
  }
  EXPECT_EQ(ReferenceReplace(ReferenceReplace(original, 0, "x", "y"), 0, "<", "["), text);
}

// ---------------------------------------------------------------------------------------------------------
// Placeholders.

TEST(ReplaceStringPlaceholdersTest, MissingAndEscapedPlaceholders) {
  std::vector<size_t> offsets;
  EXPECT_EQ("a--$--", ReplaceStringPlaceholders("$1-$3-$$-$x-$", {"a", "b"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{0, 2}), offsets);
  EXPECT_EQ("$$x", ReplaceStringPlaceholders("$$$x", {}, nullptr));
  EXPECT_EQ("$", ReplaceStringPlaceholders("$$", {}, nullptr));
  EXPECT_EQ("", ReplaceStringPlaceholders("$0", {"zero"}, nullptr));
  EXPECT_EQ("", ReplaceStringPlaceholders("", {"a"}, nullptr));
}

TEST(ReplaceStringPlaceholdersTest, OffsetsAreInPlaceholderOrderAndAppended) {
  std::vector<size_t> offsets = {99};
  EXPECT_EQ("yx", ReplaceStringPlaceholders("$2$1", {"x", "y"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{99, 1, 0}), offsets);
  offsets.clear();
  // A repeated placeholder: the later occurrence comes first.
  EXPECT_EQ("A-B-A", ReplaceStringPlaceholders("$1-$2-$1", {"A", "B"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{4, 0, 2}), offsets);
}

TEST(ReplaceStringPlaceholdersTest, NinePlaceholdersAndWideForm) {
  const std::vector<std::string> subst = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "ten"};
  EXPECT_EQ("987654321", ReplaceStringPlaceholders("$9$8$7$6$5$4$3$2$1", subst, nullptr));
  EXPECT_EQ("10", ReplaceStringPlaceholders("$10", subst, nullptr));  // one digit: "$1" then '0'
  EXPECT_EQ("api/prefs/?product=zorvi&version=1.2",
            ReplaceStringPlaceholders("api/prefs/?product=$1&version=$2", {"zorvi", "1.2"}, nullptr));
  EXPECT_EQ(L"t1\n\td1\n\nt2\n\td2\n\n\n\t",
            ReplaceStringPlaceholders(L"$1\n\t$2\n\n$3\n\t$4\n\n$5\n\t$6",
                                      std::vector<std::wstring>{L"t1", L"d1", L"t2", L"d2"}, nullptr));
  std::vector<size_t> offsets;
  EXPECT_EQ(L"$x\x00E9", ReplaceStringPlaceholders(L"$$x$1$", std::vector<std::wstring>{L"\x00E9"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{2}), offsets);
}

// ---------------------------------------------------------------------------------------------------------
// strlcpy.

TEST(StrlcpyTest, CutsAndTerminates) {
  char buffer[8];
  std::memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(6u, strlcpy(buffer, "abcdef", 4));
  EXPECT_STREQ("abc", buffer);
  EXPECT_EQ('z', buffer[4]);

  std::memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(3u, strlcpy(buffer, "abc", 4));  // exactly fits
  EXPECT_STREQ("abc", buffer);

  std::memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(4u, strlcpy(buffer, "abcd", 4));  // one too long
  EXPECT_STREQ("abc", buffer);

  std::memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(5u, strlcpy(buffer, "hello", 0));  // size 0 writes nothing
  EXPECT_EQ('z', buffer[0]);

  EXPECT_EQ(0u, strlcpy(buffer, "", 1));
  EXPECT_EQ('\0', buffer[0]);
  EXPECT_EQ(2u, strlcpy(buffer, "ab", 1));
  EXPECT_EQ('\0', buffer[0]);
}

}  // namespace
}  // namespace base
