#include "base/files/file_test_util.h"

#include <memory>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "crypto/secure_hash.h"
#include "testing/test_support.h"

namespace file_test {

namespace {

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring folder(temp, length);
  while (!folder.empty() && folder.back() == L'\\')
    folder.pop_back();
  return folder;
}

}  // namespace

ScopedTestDir::ScopedTestDir() : ScopedTestDir(TempFolder()) {}

ScopedTestDir::ScopedTestDir(const std::wstring& parent)
    : path_(parent + L"\\" + test_support::UniqueName(L"ft")) {
  RemoveTree(path_.value());
  CreateDirectoryW(path_.value().c_str(), nullptr);
}

ScopedTestDir::~ScopedTestDir() { RemoveTree(path_.value()); }

bool WriteText(const base::FilePath& path, const std::string& contents) {
  return test_support::WriteFileBytes(path.value(), contents);
}

std::string ReadText(const base::FilePath& path) {
  std::string contents;
  if (!test_support::ReadFileBytes(path.value(), &contents))
    return "<missing>";
  return contents;
}

bool Exists(const base::FilePath& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const base::FilePath& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD Attributes(const base::FilePath& path) { return GetFileAttributesW(path.value().c_str()); }

std::string Sha256Hex(const void* data, size_t size) {
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  hash->Update(data, size);
  unsigned char digest[32];
  hash->Finish(digest, sizeof(digest));
  return base::ToLowerASCII(base::HexEncode(digest, sizeof(digest)));
}

}  // namespace file_test
