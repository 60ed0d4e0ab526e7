#include "base/strings/pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

TEST(WildcardMatchTest, StarAndQuestionMark) {
  for (const char* pattern : {"a*", "*c", "a?c", "*", "ab?c", "abc*", "abc", "?abc", "a*b*c", "**", "*?*", "a?b?c?"})
    EXPECT_TRUE(WildcardMatch("abc", pattern)) << pattern;
  for (const char* pattern : {"a?", "b*", "", "ab", "abcd", "*d", "a*d", "?", "??"})
    EXPECT_FALSE(WildcardMatch("abc", pattern)) << pattern;
}

TEST(WildcardMatchTest, EmptyText) {
  EXPECT_TRUE(WildcardMatch("", ""));
  EXPECT_TRUE(WildcardMatch("", "*"));
  EXPECT_TRUE(WildcardMatch("", "?*?"));
  EXPECT_FALSE(WildcardMatch("", "a"));
  EXPECT_FALSE(WildcardMatch("", "\\*"));
  EXPECT_FALSE(WildcardMatch("a", ""));
}

TEST(WildcardMatchTest, Escapes) {
  EXPECT_TRUE(WildcardMatch("a*b", "a\\*b"));
  EXPECT_FALSE(WildcardMatch("axb", "a\\*b"));
  EXPECT_TRUE(WildcardMatch("a?", "a\\?"));
  EXPECT_FALSE(WildcardMatch("ab", "a\\?"));
  EXPECT_TRUE(WildcardMatch("a\\b", "a\\\\b"));
  EXPECT_TRUE(WildcardMatch("xyz", "\\x*"));  // an escaped ordinary character is that character
  EXPECT_FALSE(WildcardMatch("a*", "a\\"));
  EXPECT_TRUE(WildcardMatch("disabled-by-default-x", "disabled-by-default-*"));
  EXPECT_TRUE(WildcardMatch("cat*egory", "cat\\*e*"));
  EXPECT_FALSE(WildcardMatch("catXegory", "cat\\*e*"));
}

TEST(WildcardMatchTest, DepthLimit) {
  const std::string sixteen(16, 'x');
  const std::string seventeen(17, 'x');
  EXPECT_TRUE(WildcardMatch(sixteen, std::string(16, '?')));
  EXPECT_FALSE(WildcardMatch(seventeen, std::string(17, '?')));
  // Runs of '*' count once.
  EXPECT_TRUE(WildcardMatch(seventeen, std::string(40, '*')));
}

TEST(WildcardMatchTest, CodePoints) {
  // '?' takes a whole character, not a byte.
  EXPECT_TRUE(WildcardMatch("\xC3\xA9t\xC3\xA9", "?t?"));
  EXPECT_TRUE(WildcardMatch("\xF0\x9F\x98\x80", "?"));
  EXPECT_TRUE(WildcardMatch("a\xE2\x82\xAC" "b", "a*b"));
  EXPECT_TRUE(WildcardMatch("\xE2\x82\xAC", "\xE2\x82\xAC"));
  EXPECT_FALSE(WildcardMatch("\xE2\x82\xAC", "\xE2\x82\xAD"));
}

TEST(WildcardMatchTest, IllFormedTextNeverMatchesALiteral) {
  EXPECT_FALSE(WildcardMatch("\xC3", "\xC3"));
  EXPECT_FALSE(WildcardMatch("\xE0\x80\x80", "\xE0\x80\x80"));
  EXPECT_FALSE(WildcardMatch("a\x80", "a\x80"));
  EXPECT_TRUE(WildcardMatch("a\x80", "a*"));
  EXPECT_TRUE(WildcardMatch("\xFF\xFEz", "*z"));
  EXPECT_TRUE(WildcardMatch("\xC3", "?"));
}

}  // namespace
}  // namespace base
