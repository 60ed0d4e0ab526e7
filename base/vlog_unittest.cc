#include "base/vlog.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "base/logging.h"
#include "testing/test_support.h"

namespace logging {
namespace {

TEST(VlogInfoTest, ModuleAndPathPatterns) {
  int min_log_level = 0;
  VlogInfo info("", "foo=2,bar/*=3", &min_log_level);
  EXPECT_EQ(2, info.GetVlogLevel("c:\\src\\foo.cc"));
  EXPECT_EQ(2, info.GetVlogLevel("c:\\src\\foo-inl.h"));
  EXPECT_EQ(2, info.GetVlogLevel("/work/src/foo.cc"));
  EXPECT_EQ(3, info.GetVlogLevel("bar\\baz.cc"));  // '/' in the pattern matches a backslash
  EXPECT_EQ(3, info.GetVlogLevel("bar/x/y.cc"));
  EXPECT_EQ(0, info.GetVlogLevel("c:\\src\\bar\\baz.cc"));  // a path pattern matches the whole path only
  EXPECT_EQ(0, info.GetVlogLevel("c:\\src\\food.cc"));
  min_log_level = -4;  // the pointer is read on every call
  EXPECT_EQ(4, info.GetVlogLevel("c:\\src\\other.cc"));
  EXPECT_EQ(2, info.GetVlogLevel("c:\\src\\foo.cc"));
}

TEST(VlogInfoTest, FirstMatchingPatternWins) {
  int min_log_level = 0;
  VlogInfo info("", "f*=1,foo=5,*/x/*=7", &min_log_level);
  EXPECT_EQ(1, info.GetVlogLevel("a\\foo.cc"));
  EXPECT_EQ(7, info.GetVlogLevel("a\\x\\bar.cc"));
  EXPECT_EQ(1, info.GetVlogLevel("a\\x\\fa.cc"));
}

TEST(VlogInfoTest, VSetsTheMinimumLevel) {
  int min_log_level = 0;
  VlogInfo info("1", "", &min_log_level);
  EXPECT_EQ(-1, min_log_level);
  EXPECT_EQ(1, info.GetVlogLevel("any\\file.cc"));

  int unparsed = 0;
  VlogInfo not_a_number("x1", "", &unparsed);
  EXPECT_EQ(0, unparsed);
  int untouched = 2;
  VlogInfo empty("", "", &untouched);
  EXPECT_EQ(2, untouched);
  EXPECT_EQ(-2, empty.GetVlogLevel("a.cc"));
}

// A negative "v" must not silence fatal messages, and the most negative value must not overflow.
TEST(VlogInfoTest, NegativeVStopsAtFatal) {
  int min_log_level = 0;
  VlogInfo info("-2", "", &min_log_level);
  EXPECT_EQ(2, min_log_level);
  VlogInfo clamped("-9", "", &min_log_level);
  EXPECT_EQ(LOG_FATAL, min_log_level);
  VlogInfo extreme("-2147483648", "", &min_log_level);
  EXPECT_EQ(LOG_FATAL, min_log_level);
  VlogInfo largest("2147483647", "", &min_log_level);
  EXPECT_EQ(-INT_MAX, min_log_level);
  EXPECT_EQ(INT_MAX, largest.GetVlogLevel("a.cc"));
}

TEST(VlogInfoTest, LevelsFromPartialParses) {
  int min_log_level = -5;
  // "3x" gives 3; "x" gives 0; "c" has no '=' and "=4" no key: both leave empty patterns, which match a
  // file whose module name is empty.
  VlogInfo info("", "a=3x, b==x ,c,=4,d=-2", &min_log_level);
  EXPECT_EQ(3, info.GetVlogLevel("src\\a.cc"));
  EXPECT_EQ(0, info.GetVlogLevel("src\\b.cc"));
  EXPECT_EQ(0, info.GetVlogLevel("src\\.cc"));
  EXPECT_EQ(-2, info.GetVlogLevel("src\\d.cc"));
  EXPECT_EQ(5, info.GetVlogLevel("src\\c.cc"));
}

TEST(MatchVlogPatternTest, Wildcards) {
  EXPECT_TRUE(MatchVlogPattern("abc", "a*c"));
  EXPECT_TRUE(MatchVlogPattern("ac", "a*c"));
  EXPECT_FALSE(MatchVlogPattern("ab", "a*c"));
  EXPECT_FALSE(MatchVlogPattern("", "?"));
  EXPECT_TRUE(MatchVlogPattern("", ""));
  EXPECT_TRUE(MatchVlogPattern("", "*"));
  EXPECT_TRUE(MatchVlogPattern("", "**"));
  EXPECT_FALSE(MatchVlogPattern("a", ""));
  EXPECT_TRUE(MatchVlogPattern("a\\b", "a/b"));
  EXPECT_TRUE(MatchVlogPattern("a/b", "a\\b"));
  EXPECT_FALSE(MatchVlogPattern("a_b", "a/b"));
  EXPECT_TRUE(MatchVlogPattern("abcbc", "*bc"));
  EXPECT_TRUE(MatchVlogPattern("x/y", "x?y"));
  EXPECT_FALSE(MatchVlogPattern("abc", "ab"));
  // Many stars before a part that never matches: answered at once, not after trying every way to share the
  // string among them.
  std::string stars;
  for (int i = 0; i < 20; ++i)
    stars += "*?";
  EXPECT_FALSE(MatchVlogPattern(std::string(70, 'a') + "/b.cc", stars + "/x"));
}

// Random patterns checked against Python's fnmatch (run on Linux by the area's setup script): each line of
// the data file is "pattern<TAB>string<TAB>0|1".
TEST(MatchVlogPatternTest, AgreesWithFnmatch) {
  const std::wstring data_dir = test_support::TestDataDir();
  ASSERT_FALSE(data_dir.empty());
  std::string contents;
  ASSERT_TRUE(test_support::ReadFileBytes(data_dir + L"\\vlog\\patterns.txt", &contents));
  std::istringstream lines(contents);
  std::string line;
  int checked = 0;
  while (std::getline(lines, line)) {
    const size_t first_tab = line.find('\t');
    const size_t second_tab = line.find('\t', first_tab + 1);
    ASSERT_NE(std::string::npos, second_tab) << line;
    const std::string pattern = line.substr(0, first_tab);
    const std::string text = line.substr(first_tab + 1, second_tab - first_tab - 1);
    const bool expected = line.substr(second_tab + 1) == "1";
    EXPECT_EQ(expected, MatchVlogPattern(text, pattern)) << "pattern '" << pattern << "' string '" << text << "'";
    ++checked;
  }
  EXPECT_GE(checked, 2000);
}

}  // namespace
}  // namespace logging
