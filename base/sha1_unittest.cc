#include "base/sha1.h"

#include <gtest/gtest.h>

#include <string>

#include "base/hash_test_util.h"

namespace base {
namespace {

std::string Sha1Hex(internal::Sha1BlockFunction transform, const std::string& data) {
  unsigned char hash[kSHA1Length];
  internal::SHA1HashBytesWith(transform, reinterpret_cast<const unsigned char*>(data.data()), data.size(), hash);
  return ToHex(hash, sizeof(hash));
}

std::string Sha1Hex(const std::string& data) {
  unsigned char hash[kSHA1Length];
  SHA1HashBytes(reinterpret_cast<const unsigned char*>(data.data()), data.size(), hash);
  return ToHex(hash, sizeof(hash));
}

class Sha1TransformTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && !internal::ProcessorHasShaInstructions())
      GTEST_SKIP() << "this processor has no SHA instructions";
  }
  internal::Sha1BlockFunction transform() const {
    return GetParam() ? &internal::Sha1BlocksWithShaInstructions : &internal::Sha1BlocksPortable;
  }
};

TEST_P(Sha1TransformTest, MatchesSha1sumOnFilesFromEmptyToTenMebibytes) {
  const std::vector<HashOracleEntry> entries = ReadHashOracle(L"SHA1SUMS");
  ASSERT_GE(entries.size(), 50u) << "the setup script's oracle list is missing";
  for (const HashOracleEntry& entry : entries)
    EXPECT_EQ(entry.expected_hex, Sha1Hex(transform(), entry.contents)) << entry.file_name;
}

TEST_P(Sha1TransformTest, StandardExamples) {
  // The examples of the standard's appendices.
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", Sha1Hex(transform(), "abc"));
  EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1",
            Sha1Hex(transform(), "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", Sha1Hex(transform(), std::string(1000000, 'a')));
}

INSTANTIATE_TEST_SUITE_P(Transforms, Sha1TransformTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ShaInstructions" : "Portable";
                         });

TEST(Sha1Test, DefaultTransformMatchesSha1sum) {
  const std::vector<HashOracleEntry> entries = ReadHashOracle(L"SHA1SUMS");
  ASSERT_GE(entries.size(), 50u);
  for (const HashOracleEntry& entry : entries)
    EXPECT_EQ(entry.expected_hex, Sha1Hex(entry.contents)) << entry.file_name;
}

TEST(Sha1Test, NullPointerWithZeroLengthIsTheEmptyDigest) {
  unsigned char hash[kSHA1Length];
  SHA1HashBytes(nullptr, 0, hash);
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", ToHex(hash, sizeof(hash)));
}

TEST(Sha1Test, OfStringIsTheDigestsFirstEightBytesLittleEndian) {
  // sha1sum's digest of the oracle file "abc.bin" gives the bytes; the value reads them lowest first.
  for (const HashOracleEntry& entry : ReadHashOracle(L"SHA1SUMS")) {
    uint64_t expected = 0;
    for (int i = 7; i >= 0; --i)
      expected = (expected << 8) | std::stoul(entry.expected_hex.substr(2 * i, 2), nullptr, 16);
    EXPECT_EQ(expected, Sha1OfString(entry.contents)) << entry.file_name;
  }
  EXPECT_EQ(0x6a810647363e99a9u, Sha1OfString("abc"));
}

}  // namespace
}  // namespace base
