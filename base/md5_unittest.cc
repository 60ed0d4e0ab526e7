#include "base/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "base/hash_test_util.h"

namespace base {
namespace {

std::string MD5Hex(const std::string& data) {
  MD5Digest digest;
  MD5Sum(data.data(), data.size(), &digest);
  return ToHex(digest.a, sizeof(digest.a));
}

TEST(MD5Test, MatchesMd5sumOnFilesFromEmptyToTenMebibytes) {
  const std::vector<HashOracleEntry> entries = ReadHashOracle(L"MD5SUMS");
  ASSERT_GE(entries.size(), 50u) << "the setup script's oracle list is missing";
  size_t largest = 0;
  for (const HashOracleEntry& entry : entries) {
    EXPECT_EQ(entry.expected_hex, MD5Hex(entry.contents)) << entry.file_name;
    largest = std::max(largest, entry.contents.size());
  }
  EXPECT_EQ(10u << 20, largest);
}

TEST(MD5Test, DigestDependsOnlyOnTheBytesNotTheirAlignment) {
  // The block loop reads words from arbitrary addresses; every offset must give the same digest.
  const std::vector<HashOracleEntry> entries = ReadHashOracle(L"MD5SUMS");
  for (const HashOracleEntry& entry : entries) {
    if (entry.contents.size() < 100 || entry.contents.size() > 5000)
      continue;
    for (size_t offset = 1; offset < 8; ++offset) {
      std::string shifted(offset, '\0');
      shifted += entry.contents;
      MD5Digest digest;
      MD5Sum(shifted.data() + offset, entry.contents.size(), &digest);
      EXPECT_EQ(entry.expected_hex, ToHex(digest.a, sizeof(digest.a))) << entry.file_name << " at " << offset;
    }
  }
}

TEST(MD5Test, StandardTestSuite) {
  // The test suite printed in the standard's appendix.
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", MD5Hex(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", MD5Hex("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", MD5Hex("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", MD5Hex("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", MD5Hex("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            MD5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            MD5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

TEST(MD5Test, NullPointerWithZeroLengthIsTheEmptyDigest) {
  MD5Digest digest;
  MD5Sum(nullptr, 0, &digest);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", ToHex(digest.a, sizeof(digest.a)));
}

}  // namespace
}  // namespace base
