// Helpers of the file tests, built on Win32 alone so that the file layer is not tested with itself.
#ifndef BASE_FILES_FILE_TEST_UTIL_H_
#define BASE_FILES_FILE_TEST_UTIL_H_

#include <windows.h>

#include <cstddef>
#include <string>

#include "base/files/file_path.h"
#include "testing/test_support.h"

namespace file_test {

// A folder of its own for one test (under the temporary folder, or under `parent`), removed with everything
// in it when the holder goes.
class ScopedTestDir {
 public:
  ScopedTestDir();
  explicit ScopedTestDir(const std::wstring& parent);
  ScopedTestDir(const ScopedTestDir&) = delete;
  ScopedTestDir& operator=(const ScopedTestDir&) = delete;
  ~ScopedTestDir();

  const base::FilePath& path() const { return path_; }
  base::FilePath Append(const std::wstring& component) const { return path_.Append(component); }

 private:
  base::FilePath path_;
};

using test_support::RemoveTree;
bool WriteText(const base::FilePath& path, const std::string& contents);
// The contents, or "<missing>" when the file cannot be read.
std::string ReadText(const base::FilePath& path);
bool Exists(const base::FilePath& path);
bool IsFolder(const base::FilePath& path);
DWORD Attributes(const base::FilePath& path);
// The SHA-256 digest of the bytes in lower-case hex, as sha256sum prints it.
std::string Sha256Hex(const void* data, size_t size);

}  // namespace file_test

#endif  // BASE_FILES_FILE_TEST_UTIL_H_
