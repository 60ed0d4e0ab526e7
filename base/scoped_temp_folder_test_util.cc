#include "base/scoped_temp_folder_test_util.h"

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "testing/test_support.h"

namespace base {

ScopedTempFolder::ScopedTempFolder(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = FilePath(std::wstring(temp) + test_support::UniqueName(prefix));
  created_ = ::CreateDirectoryW(path_.value().c_str(), nullptr) != FALSE;
  EXPECT_TRUE(created_) << "cannot make " << path_.value();
}

ScopedTempFolder::~ScopedTempFolder() {
  DeleteFile(path_, true);
}

}  // namespace base
