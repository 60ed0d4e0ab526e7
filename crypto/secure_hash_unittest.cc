#include "crypto/secure_hash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>
#include <string>

#include <openssl/sha.h>

#include "base/logging.h"
#include "testing/test_support.h"

// Deleting a hash object copies its bytes first, so that a test can see what destruction left in memory.
namespace {
const void* g_watched_block = nullptr;
size_t g_watched_size = 0;
std::string g_watched_contents;

void ReleaseBlock(void* block) {
  if (block && block == g_watched_block) {
    g_watched_contents.assign(static_cast<const char*>(block), g_watched_size);
    g_watched_block = nullptr;
  }
  free(block);
}
}  // namespace

void operator delete(void* block) noexcept {
  ReleaseBlock(block);
}
void operator delete(void* block, size_t) noexcept {
  ReleaseBlock(block);
}

namespace crypto {
namespace {

std::string ToHex(const unsigned char* bytes, size_t length) {
  std::string hex;
  for (size_t i = 0; i < length; ++i) {
    hex += "0123456789abcdef"[bytes[i] >> 4];
    hex += "0123456789abcdef"[bytes[i] & 15];
  }
  return hex;
}

struct OracleFile {
  std::string expected_hex;
  std::string name;
  std::string contents;
};

std::vector<OracleFile> ReadOracle() {
  std::vector<OracleFile> files;
  const std::wstring folder = test_support::TestDataDir() + L"\\sha256\\";
  std::string list;
  if (!test_support::ReadFileBytes(folder + L"SHA256SUMS", &list))
    return files;
  std::istringstream lines(list);
  OracleFile file;
  while (lines >> file.expected_hex >> file.name) {
    if (!test_support::ReadFileBytes(folder + std::wstring(file.name.begin(), file.name.end()), &file.contents))
      return {};
    files.push_back(file);
  }
  return files;
}

std::string FinishHex(SecureHash* hash) {
  unsigned char digest[32];
  hash->Finish(digest, sizeof(digest));
  return ToHex(digest, sizeof(digest));
}

TEST(SecureHashTest, Sha256MatchesSha256sumWhateverThePieces) {
  const std::vector<OracleFile> files = ReadOracle();
  ASSERT_EQ(21u, files.size()) << "the setup script's oracle list is missing";
  for (const OracleFile& file : files) {
    std::unique_ptr<SecureHash> whole = SecureHash::Create(SecureHash::SHA256);
    ASSERT_TRUE(whole);
    whole->Update(file.contents.data(), file.contents.size());
    EXPECT_EQ(file.expected_hex, FinishHex(whole.get())) << file.name;

    // Uneven pieces, growing, so that every buffered length meets the block boundary.
    std::unique_ptr<SecureHash> pieces = SecureHash::Create(SecureHash::SHA256);
    for (size_t offset = 0, piece = 1; offset < file.contents.size(); piece = piece * 2 + 1) {
      const size_t length = std::min(piece, file.contents.size() - offset);
      pieces->Update(file.contents.data() + offset, length);
      offset += length;
    }
    EXPECT_EQ(file.expected_hex, FinishHex(pieces.get())) << file.name;
  }
}

TEST(SecureHashTest, CloneContinuesIndependently) {
  const std::vector<OracleFile> files = ReadOracle();
  for (const OracleFile& file : files) {
    if (file.contents.size() < 2 || file.contents.size() > (1 << 20))
      continue;
    const size_t half = file.contents.size() / 2;
    std::unique_ptr<SecureHash> original = SecureHash::Create(SecureHash::SHA256);
    original->Update(file.contents.data(), half);
    std::unique_ptr<SecureHash> clone = original->Clone();
    ASSERT_TRUE(clone);
    EXPECT_EQ(32u, clone->GetHashLength());
    clone->Update(file.contents.data() + half, file.contents.size() - half);
    // The original goes on with other data; the clone's result must not notice.
    original->Update("x", 1);
    EXPECT_EQ(file.expected_hex, FinishHex(clone.get())) << file.name;
    EXPECT_NE(file.expected_hex, FinishHex(original.get())) << file.name;
  }
}

TEST(SecureHashTest, FinishWritesAtMostTheDigestLength) {
  const std::vector<OracleFile> files = ReadOracle();
  ASSERT_FALSE(files.empty());
  const OracleFile& file = files.front();

  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update(file.contents.data(), file.contents.size());
  unsigned char shorter[17];
  memset(shorter, 0xee, sizeof(shorter));
  hash->Finish(shorter, 16);
  EXPECT_EQ(file.expected_hex.substr(0, 32), ToHex(shorter, 16));
  EXPECT_EQ(0xee, shorter[16]);

  hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update(file.contents.data(), file.contents.size());
  unsigned char longer[64];
  memset(longer, 0xee, sizeof(longer));
  hash->Finish(longer, sizeof(longer));
  EXPECT_EQ(file.expected_hex, ToHex(longer, 32));
  EXPECT_EQ(std::string(32, '\xee'), std::string(reinterpret_cast<char*>(longer) + 32, 32));
}

std::string* g_logged = nullptr;
bool CaptureLog(int severity, const char*, int, size_t message_start, const std::string& text) {
  *g_logged += std::to_string(severity) + ":" + text.substr(message_start);
  return true;
}

TEST(SecureHashTest, UnknownAlgorithmGivesNullAndLogsAnError) {
  std::string logged;
  g_logged = &logged;
  logging::SetLogMessageHandler(&CaptureLog);
  std::unique_ptr<SecureHash> hash = SecureHash::Create(static_cast<SecureHash::Algorithm>(1));
  logging::SetLogMessageHandler(nullptr);
  g_logged = nullptr;
  EXPECT_EQ(nullptr, hash);
  EXPECT_EQ(std::to_string(logging::LOG_ERROR) + ":NOT IMPLEMENTED\n", logged);
}

TEST(SecureHashTest, DestructionWipesTheContext) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update("some secret", 11);
  // The object is the interface's vtable pointer followed by the context; a started context is not all zero.
  g_watched_block = hash.get();
  constexpr size_t kContextSize = sizeof(SHA256_CTX);
  g_watched_size = sizeof(void*) + kContextSize;
  std::string before(static_cast<const char*>(g_watched_block) + sizeof(void*), kContextSize);
  EXPECT_NE(std::string(kContextSize, '\0'), before);
  hash.reset();
  ASSERT_EQ(sizeof(void*) + kContextSize, g_watched_contents.size()) << "the object was not freed through delete";
  EXPECT_EQ(std::string(kContextSize, '\0'), g_watched_contents.substr(sizeof(void*)));
}

}  // namespace
}  // namespace crypto
