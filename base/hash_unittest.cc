#include "base/hash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/hash_test_util.h"

namespace base {
namespace {

std::string SuperFastHashHex(const std::string& data) {
  char hex[9];
  snprintf(hex, sizeof(hex), "%08x", SuperFastHash(data.data(), static_cast<int>(data.size())));
  return hex;
}

TEST(SuperFastHashTest, MatchesThePublishedAlgorithm) {
  // Expected values come from an independent rendering of the published algorithm (testdata_setup.sh),
  // including tails of one to three bytes at and above 0x80.
  const std::vector<HashOracleEntry> entries = ReadHashOracle(L"SUPERFASTHASH");
  ASSERT_GE(entries.size(), 50u) << "the setup script's oracle list is missing";
  int negative_tails = 0;
  for (const HashOracleEntry& entry : entries) {
    EXPECT_EQ(entry.expected_hex, SuperFastHashHex(entry.contents)) << entry.file_name;
    negative_tails += entry.contents.size() % 4 != 0 && static_cast<signed char>(entry.contents.back()) < 0;
  }
  EXPECT_GE(negative_tails, 12);
}

TEST(SuperFastHashTest, EmptyNullAndNegativeLengthsGiveZero) {
  EXPECT_EQ(0u, SuperFastHash(nullptr, 0));
  EXPECT_EQ(0u, SuperFastHash(nullptr, 8));
  EXPECT_EQ(0u, SuperFastHash("abc", 0));
  EXPECT_EQ(0u, SuperFastHash("abc", -1));
  EXPECT_NE(0u, SuperFastHash("abc", 3));
}

TEST(SuperFastHashTest, ReadsOnlyTheGivenBytes) {
  const std::string data = "0123456789abcdef";
  for (int length = 1; length < 12; ++length) {
    std::string copy = data.substr(0, length) + std::string(8, '\x5a');
    EXPECT_EQ(SuperFastHash(data.data(), length), SuperFastHash(copy.data(), length)) << length;
  }
}

}  // namespace
}  // namespace base
