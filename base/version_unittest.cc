#include "base/version.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(VersionTest, ValidTexts) {
  EXPECT_EQ(std::vector<uint32_t>({1}), Version("1").components());
  EXPECT_EQ(std::vector<uint32_t>({0}), Version("0").components());
  EXPECT_EQ(std::vector<uint32_t>({1, 2, 3, 4}), Version("1.2.3.4").components());
  EXPECT_EQ(std::vector<uint32_t>({1, 2}), Version("1.02").components());
  EXPECT_EQ(std::vector<uint32_t>({10, 0, 0, 0}), Version("10.0.0.0").components());
  EXPECT_EQ(std::vector<uint32_t>({4294967295u, 0}), Version("4294967295.000").components());
  EXPECT_TRUE(Version("39.0.2234.0").IsValid());
}

TEST(VersionTest, InvalidTexts) {
  EXPECT_FALSE(Version().IsValid());
  for (const char* text : {"", "01.2", "00", "1..2", "1.2.", ".1", " 1", "1 ", "+1", "1.+2", "-1", "1.-2", "1.a",
                           "4294967296", "1.4294967296", "1,2", ".", "1.2 .3", "0x1", "1.0x2", "\t1"}) {
    const Version version(text);
    EXPECT_FALSE(version.IsValid()) << '"' << text << '"';
    EXPECT_TRUE(version.components().empty()) << '"' << text << '"';
  }
  // An embedded NUL ends nothing: the whole string is the text.
  EXPECT_FALSE(Version(std::string("1\0" "2", 3)).IsValid());
}

TEST(VersionTest, ParseKeepsEarlierPiecesOnFailure) {
  std::vector<uint32_t> parsed;
  EXPECT_FALSE(ParseVersionNumbers("7.8.x.9", &parsed));
  EXPECT_EQ(std::vector<uint32_t>({7, 8}), parsed);
  parsed.clear();
  EXPECT_TRUE(ParseVersionNumbers("52.0.2716.0", &parsed));
  EXPECT_EQ(std::vector<uint32_t>({52, 0, 2716, 0}), parsed);
}

int Compare(const char* a, const char* b) {
  const Version left(a), right(b);
  EXPECT_TRUE(left.IsValid()) << a;
  EXPECT_TRUE(right.IsValid()) << b;
  return left.CompareTo(right);
}

TEST(VersionTest, Ordering) {
  EXPECT_EQ(0, Compare("1.0.0", "1"));
  EXPECT_EQ(0, Compare("1", "1.0.0"));
  EXPECT_EQ(1, Compare("1.0.1", "1"));
  EXPECT_EQ(-1, Compare("1", "1.0.1"));
  EXPECT_EQ(-1, Compare("1.2", "1.10"));
  EXPECT_EQ(1, Compare("2", "1.9.9"));
  EXPECT_EQ(0, Compare("1.02", "1.2"));
  EXPECT_EQ(1, Compare("4294967295", "4294967294.4294967295"));
  EXPECT_EQ(-1, Compare("2234.0", "2234.0.0.1"));
}

// Reference parser: the grammar as a regular expression, and each number no larger than 32 bits.
bool ReferenceParse(const std::string& text, std::vector<uint32_t>* numbers) {
  static const std::regex kGrammar("(0|[1-9][0-9]*)(\\.[0-9]+)*");
  if (!std::regex_match(text, kGrammar))
    return false;
  numbers->clear();
  uint64_t value = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      numbers->push_back(static_cast<uint32_t>(value));
      value = 0;
      continue;
    }
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > 0xFFFFFFFFu)
      return false;
  }
  return true;
}

TEST(VersionTest, ParsingAgreesWithTheGrammar) {
  std::mt19937 random(2024);
  const std::string alphabet = "0000111229..+- a";
  size_t valid = 0;
  for (int i = 0; i < 50000; ++i) {
    std::string text;
    const int length = static_cast<int>(random() % 12);
    for (int c = 0; c < length; ++c)
      text += alphabet[random() % alphabet.size()];
    if (i % 10 == 0)
      text += "4294967295" + std::string(random() % 2, '9');
    std::vector<uint32_t> expected;
    const bool expected_ok = ReferenceParse(text, &expected);
    const Version version(text);
    ASSERT_EQ(expected_ok, version.IsValid()) << '"' << text << '"';
    if (expected_ok) {
      ASSERT_EQ(expected, version.components()) << '"' << text << '"';
    }
    valid += expected_ok;
  }
  EXPECT_GT(valid, 2000u);
}

// Reference order: drop trailing zero components, then compare lexicographically (a prefix is lower).
int ReferenceCompare(std::vector<uint32_t> a, std::vector<uint32_t> b) {
  while (!a.empty() && a.back() == 0)
    a.pop_back();
  while (!b.empty() && b.back() == 0)
    b.pop_back();
  if (a == b)
    return 0;
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end()) ? -1 : 1;
}

TEST(VersionTest, OrderingAgreesWithTrailingZerosIgnored) {
  std::mt19937 random(99);
  auto make = [&random] {
    std::string text = std::to_string(random() % 3);
    const int extra = static_cast<int>(random() % 5);
    for (int c = 0; c < extra; ++c) {
      text += '.';
      text += std::to_string(random() % 3 == 0 ? random() % 3 : 0);
    }
    return text;
  };
  int outcomes[3] = {0, 0, 0};
  for (int i = 0; i < 20000; ++i) {
    const Version a(make()), b(make());
    ASSERT_TRUE(a.IsValid() && b.IsValid());
    const int expected = ReferenceCompare(a.components(), b.components());
    ASSERT_EQ(expected, a.CompareTo(b));
    ASSERT_EQ(-expected, b.CompareTo(a));
    ++outcomes[expected + 1];
  }
  EXPECT_GT(outcomes[0], 1000);
  EXPECT_GT(outcomes[1], 1000);
  EXPECT_GT(outcomes[2], 1000);
}

}  // namespace
}  // namespace base
