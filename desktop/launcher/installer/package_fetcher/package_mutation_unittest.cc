// Mutated payload files and archives, 10,000 in all: each read or unpacking ends with a result, nothing is
// read outside the file, and nothing is written outside the unpack folder. The mutations are made from fixed
// seeds, so every run sees the same files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/package_fetcher/lzma_util.h"
#include "desktop/launcher/installer/package_fetcher/package_signature.h"
#include "desktop/launcher/installer/package_fetcher/package_test_util.h"
#include "desktop/launcher/installer/package_fetcher/payload_reader.h"
#include "testing/test_support.h"

extern "C" {
#include "7zCrc.h"
}

namespace zorvi::installer {
namespace {

using package_test::DataPath;
using package_test::Exists;

constexpr int kShards = 10;
constexpr int kPayloadMutantsPerShard = 500;
constexpr int kArchiveMutantsPerShard = 500;

uint32_t Read32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

void Write32(std::string* bytes, size_t at, uint32_t value) {
  if (at + 4 <= bytes->size())
    std::memcpy(bytes->data() + at, &value, 4);
}

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : random_(seed) {}

  size_t Below(size_t limit) { return limit ? std::uniform_int_distribution<size_t>(0, limit - 1)(random_) : 0; }

  // A value that sits on a boundary of `length` more often than chance would have it.
  uint32_t InterestingValue(size_t length) {
    const uint32_t kValues[] = {0, 1, 3, 4, 6, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFE, 0xFFFFFFFF};
    switch (Below(3)) {
      case 0:
        return kValues[Below(std::size(kValues))];
      case 1:
        return static_cast<uint32_t>(length + Below(9)) - 4;
      default:
        return static_cast<uint32_t>(random_());
    }
  }

  // One to three of: flipped bytes, a 32-bit field set to a boundary value (at the places the readers look
  // when `hot` offsets are given), a cut, appended bytes, a removed range.
  std::string Mutate(std::string bytes, const std::vector<size_t>& hot) {
    for (size_t rounds = 1 + Below(3); rounds > 0 && !bytes.empty(); --rounds) {
      switch (Below(5)) {
        case 0:
          for (size_t flips = 1 + Below(8); flips > 0; --flips)
            bytes[Below(bytes.size())] ^= static_cast<char>(1 + Below(255));
          break;
        case 1: {
          const size_t at = !hot.empty() && Below(2) ? hot[Below(hot.size())] : Below(bytes.size());
          Write32(&bytes, at, InterestingValue(bytes.size()));
          break;
        }
        case 2:
          bytes.resize(Below(bytes.size()));
          break;
        case 3:
          for (size_t extra = 1 + Below(64); extra > 0; --extra)
            bytes.push_back(static_cast<char>(random_()));
          break;
        default: {
          const size_t at = Below(bytes.size());
          bytes.erase(at, 1 + Below(std::min<size_t>(64, bytes.size() - at)));
          break;
        }
      }
    }
    return bytes;
  }

 private:
  std::mt19937 random_;
};

// The offsets that a payload reader reads: the PE header offset, the Security directory, the trailer before the
// certificate table and at the end.
std::vector<size_t> PayloadHotSpots(const std::string& file) {
  std::vector<size_t> hot = {60, file.size() - 4};
  if (file.size() >= 64) {
    const uint32_t pe = Read32(file, 60);
    if (pe + 176ull <= file.size()) {
      hot.push_back(pe + 168);
      hot.push_back(pe + 172);
      const uint32_t security = Read32(file, pe + 168);
      if (security >= 4 && security <= file.size())
        hot.push_back(security - 4);
    }
  }
  return hot;
}

// A 7z file whose start header is made to agree with a mutated header again, so that the mutation reaches the
// header's parser instead of stopping at its CRC.
void FixHeaderCrcs(std::string* archive) {
  if (archive->size() < 32)
    return;
  uint64_t next_offset = 0, next_size = 0;
  std::memcpy(&next_offset, archive->data() + 12, 8);
  std::memcpy(&next_size, archive->data() + 20, 8);
  const uint64_t after_start_header = archive->size() - 32;
  if (next_offset > after_start_header || next_size > after_start_header - next_offset)
    return;
  Write32(archive, 28, CrcCalc(archive->data() + 32 + next_offset, next_size));
  Write32(archive, 8, CrcCalc(archive->data() + 12, 20));
}

// The files the mutants are made from; a missing one fails the test and is left out.
std::vector<std::string> ReadBases(const std::vector<std::wstring>& names) {
  std::vector<std::string> bases;
  for (const std::wstring& name : names) {
    std::string bytes;
    if (test_support::ReadFileBytes(DataPath(name).value(), &bytes))
      bases.push_back(bytes);
    else
      ADD_FAILURE() << "missing " << base::WideToUTF8(name);
  }
  return bases;
}

class MutationTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    logging::SetMinLogLevel(logging::LOG_FATAL);  // thousands of expected error lines
    CrcGenerateTable();
    // A folder per test: the shards and the two kinds run side by side.
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    sandbox_ = package_test::FreshOutputFolder(L"mutation\\" + base::UTF8ToWide(test.substr(0, test.find('/'))) +
                                               std::to_wstring(GetParam()));
  }
  void TearDown() override { logging::SetMinLogLevel(logging::LOG_INFO); }

  // Everything a run may leave: its input, its written payload, and the unpack folder.
  void ExpectNothingElseInSandbox(const std::string& what) {
    for (const std::wstring& name : package_test::ListFolder(sandbox_)) {
      EXPECT_TRUE(name == L"input" || name == L"written" || name == L"unpacked")
          << base::WideToUTF8(name) << " left beside the unpack folder by " << what;
    }
  }

  base::FilePath sandbox_;
};

TEST_P(MutationTest, PayloadFilesEndWithAResult) {
  const std::vector<std::string> originals = ReadBases(
      {L"mutation\\unsigned_full.exe", L"mutation\\signed_full_before_table.exe", L"mutation\\unsigned_tracking.exe"});
  ASSERT_EQ(3u, originals.size());
  Mutator mutator(1000 + GetParam());
  const base::FilePath input = sandbox_.Append(L"input");
  const base::FilePath written = sandbox_.Append(L"written");
  for (int i = 0; i < kPayloadMutantsPerShard; ++i) {
    const std::string& original = originals[i % originals.size()];
    const std::string mutant = mutator.Mutate(original, PayloadHotSpots(original));
    ASSERT_TRUE(test_support::WriteFileBytes(input.value(), mutant));
    SCOPED_TRACE(testing::Message() << "payload mutant " << i << " of shard " << GetParam());
    PayloadReader reader(input);
    const bool read = reader.ReadPayload();
    const std::string payload = reader.GetPayload();
    if (read && !reader.is_corrupted()) {
      EXPECT_LE(reader.payload_offset() + reader.payload_length() + 4, mutant.size());
      EXPECT_EQ(0, mutant.compare(reader.payload_offset(), payload.size(), payload)) << "bytes from inside the file";
    }
    if (read || reader.is_corrupted()) {
      EXPECT_EQ(!reader.is_corrupted(), reader.WritePayloadToFile(written));
    }
    if (i % 5 == 0) {
      bool has_signature = false;
      HasEmbeddedSignature(input, &has_signature);
    }
  }
  ExpectNothingElseInSandbox("a payload read");
}

TEST_P(MutationTest, ArchivesEndWithAResultInsideTheFolder) {
  const std::vector<std::string> originals =
      ReadBases({L"mutation\\small_plain_header.7z", L"mutation\\small_bcj.7z"});
  ASSERT_EQ(2u, originals.size());
  Mutator mutator(2000 + GetParam());
  const base::FilePath input = sandbox_.Append(L"input");
  const base::FilePath unpacked = sandbox_.Append(L"unpacked");
  int unpacked_fully = 0;
  for (int i = 0; i < kArchiveMutantsPerShard; ++i) {
    const std::string& original = originals[i % originals.size()];
    // The start header's fields are the hot spots; half the mutants get their CRCs made right again.
    std::string mutant = mutator.Mutate(original, {12, 16, 20, 24, original.size() - 8});
    if (mutator.Below(2))
      FixHeaderCrcs(&mutant);
    ASSERT_TRUE(test_support::WriteFileBytes(input.value(), mutant));
    SCOPED_TRACE(testing::Message() << "archive mutant " << i << " of shard " << GetParam());
    LzmaUtil unpacker;
    ASSERT_EQ(0u, unpacker.OpenArchive(input));
    const DWORD result = unpacker.UnPack(unpacked);
    unpacked_fully += result == 0;
    unpacker.CloseArchive();
    // Only an unpacking that got as far as making its folder can have written anything.
    if (Exists(unpacked)) {
      ExpectNothingElseInSandbox("an unpacking");
      ASSERT_TRUE(test_support::RemoveTree(unpacked.value()));
    }
  }
  ExpectNothingElseInSandbox("an unpacking");
  // Some mutants still unpack (a flipped byte in a name or a time), most do not.
  EXPECT_LT(unpacked_fully, kArchiveMutantsPerShard);
}

INSTANTIATE_TEST_SUITE_P(Shards, MutationTest, testing::Range(0, kShards));

}  // namespace
}  // namespace zorvi::installer
