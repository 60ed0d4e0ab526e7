// A folder of its own for one test.
#ifndef BASE_SCOPED_TEMP_FOLDER_TEST_UTIL_H_
#define BASE_SCOPED_TEMP_FOLDER_TEST_UTIL_H_

#include <string>

#include "base/files/file_path.h"

namespace base {

// A fresh folder under the temporary folder, named from `prefix`, removed with everything in it when the
// holder goes. A folder that cannot be made is reported as a test failure.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::wstring& prefix);
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;
  ~ScopedTempFolder();

  bool created() const { return created_; }
  const FilePath& path() const { return path_; }

 private:
  FilePath path_;
  bool created_;
};

}  // namespace base

#endif  // BASE_SCOPED_TEMP_FOLDER_TEST_UTIL_H_
