#include "base/strings/string_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace base {
namespace {

using Strings = std::vector<std::string>;

TEST(SplitStringTest, EmptyPiecesKeptOrDropped) {
  EXPECT_EQ((Strings{"", "a", "", "b", ""}), SplitString(",a,,b,", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"a", "b"}), SplitString(",a,,b,", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ((Strings{"", ""}), SplitString(",", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings{}, SplitString(",", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
}

TEST(SplitStringTest, EmptyInputGivesNoPieces) {
  EXPECT_TRUE(SplitString("", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL).empty());
  EXPECT_TRUE(SplitString(L"", L",", TRIM_WHITESPACE, SPLIT_WANT_ALL).empty());
  EXPECT_TRUE(SplitStringPiece("", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL).empty());
}

TEST(SplitStringTest, Trimming) {
  EXPECT_EQ((Strings{"a", "b"}), SplitString(" a , b ", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{" a ", " b "}), SplitString(" a , b ", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  // A piece of whitespace only is empty after trimming.
  EXPECT_EQ((Strings{"a", "", "b"}), SplitString("a, \t ,b", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"a", "b"}), SplitString("a, \t ,b", ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
  // Narrow trimming is ASCII only: a UTF-8 no-break space stays.
  EXPECT_EQ((Strings{"\xC2\xA0" "a"}), SplitString(" \xC2\xA0" "a ", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  // Wide trimming uses the whole wide set.
  EXPECT_EQ((std::vector<std::wstring>{L"en", L"de"}),
            SplitString(L"\x3000" L"en\x00A0,\x2003" L"de\n", L",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
}

TEST(SplitStringTest, SeveralSeparators) {
  EXPECT_EQ((Strings{"a", "b", "c"}), SplitString("a b,c", ", ", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"a", "", "b"}), SplitString("a, b", ", ", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"a,b"}), SplitString("a,b", "", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((std::vector<std::wstring>{L"1", L"2", L"3"}),
            SplitString(L"1\r\n2\n3", L"\r\n", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
  // Separators are compared as bytes, high ones included.
  EXPECT_EQ((Strings{"x", "y"}), SplitString("x\xFFy", "\xFF\x80", KEEP_WHITESPACE, SPLIT_WANT_ALL));
}

TEST(SplitStringPieceTest, PiecesPointIntoTheInput) {
  const std::string input = "one, two,,three";
  const std::vector<StringPiece> pieces = SplitStringPiece(input, ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY);
  ASSERT_EQ(3u, pieces.size());
  EXPECT_EQ("one", pieces[0]);
  EXPECT_EQ(input.data(), pieces[0].data());
  EXPECT_EQ("two", pieces[1]);
  EXPECT_EQ(input.data() + 5, pieces[1].data());
  EXPECT_EQ("three", pieces[2]);
}

TEST(KeyValuePairsTest, ItemsWithoutDelimiterLeaveEmptyPairs) {
  StringPairs pairs = {{"stale", "pair"}};
  EXPECT_FALSE(SplitStringIntoKeyValuePairs("a=1, b==2 ,c,=3", '=', ',', &pairs));
  const StringPairs expected = {{"a", "1"}, {"b", "2"}, {"", ""}, {"", "3"}};
  EXPECT_EQ(expected, pairs);
}

TEST(KeyValuePairsTest, ModuleListAndEdgeCases) {
  StringPairs pairs;
  EXPECT_TRUE(SplitStringIntoKeyValuePairs("foo=1,bar*=2", '=', ',', &pairs));
  EXPECT_EQ((StringPairs{{"foo", "1"}, {"bar*", "2"}}), pairs);
  EXPECT_TRUE(SplitStringIntoKeyValuePairs("", '=', ',', &pairs));
  EXPECT_TRUE(pairs.empty());
  EXPECT_TRUE(SplitStringIntoKeyValuePairs(" , ,", '=', ',', &pairs));
  EXPECT_TRUE(pairs.empty());
  // A key with delimiters and nothing after them: the key stays, the value is empty, and it fails.
  EXPECT_FALSE(SplitStringIntoKeyValuePairs("k==,x=y", '=', ',', &pairs));
  EXPECT_EQ((StringPairs{{"k", ""}, {"x", "y"}}), pairs);
  // Only the first run of delimiters separates; later ones belong to the value; key and value are not trimmed.
  EXPECT_TRUE(SplitStringIntoKeyValuePairs("a = b=c", '=', ';', &pairs));
  EXPECT_EQ((StringPairs{{"a ", " b=c"}}), pairs);
}

TEST(KeyValuePairsTest, AppendStringKeyValue) {
  StringPairs pairs;
  EXPECT_FALSE(AppendStringKeyValue("novalue", ':', &pairs));
  EXPECT_TRUE(AppendStringKeyValue("k::v", ':', &pairs));
  EXPECT_FALSE(AppendStringKeyValue("k:", ':', &pairs));
  EXPECT_EQ((StringPairs{{"", ""}, {"k", "v"}, {"k", ""}}), pairs);
}

}  // namespace
}  // namespace base
