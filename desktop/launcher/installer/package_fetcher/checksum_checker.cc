#include "desktop/launcher/installer/package_fetcher/checksum_checker.h"

#include <cstdint>
#include <memory>

#include "base/files/file.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "crypto/secure_hash.h"

namespace zorvi::installer {

namespace {

// An empty file cannot be mapped, yet its checksum is well defined: tell it apart from one that cannot be read.
bool IsEmptyFile(const base::FilePath& path) {
  base::File file(path, base::FileFlags::Open | base::FileFlags::Read);
  return file.IsValid() && file.GetLength() == 0;
}

}  // namespace

bool ChecksumChecker::Check(const base::FilePath& path, const std::string& expected_checksum) {
  base::MemoryMappedFile mapped;
  std::string checksum;
  if (mapped.Initialize(path)) {
    checksum = ChecksumOf(mapped.data(), mapped.length());
  } else if (IsEmptyFile(path)) {
    checksum = ChecksumOf(nullptr, 0);
  } else {
    LOG(ERROR) << "Unable to read " << path.value();
    return false;
  }
  return checksum == expected_checksum;
}

std::string ChecksumChecker::ChecksumOf(const void* data, size_t size) {
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  hash->Update(data, size);
  uint8_t digest[32];
  hash->Finish(digest, sizeof(digest));
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * sizeof(digest));
  for (uint8_t byte : digest) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xF];
  }
  return text;
}

}  // namespace zorvi::installer
