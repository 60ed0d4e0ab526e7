#include "desktop/launcher/installer/service/own_executable.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/path_service.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// Held, the running program's own file can be neither renamed nor opened for writing (wine enforces share modes as
// Windows does), while reading it, as a start of the program does, still works; the held mapping is its bytes.
TEST(OwnExecutableTest, HeldFileCannotBeRenamedOrWritten) {
  ASSERT_TRUE(HoldOwnExecutable());
  base::FilePath path;
  ASSERT_TRUE(base::PathService::Get(base::kExeFile, &path));
  std::string bytes;
  ASSERT_TRUE(test_support::ReadFileBytes(path.value(), &bytes));
  const base::MemoryMappedFile* held = HeldOwnExecutable();
  ASSERT_TRUE(held);
  ASSERT_EQ(bytes.size(), held->length());
  EXPECT_EQ(0, std::memcmp(bytes.data(), held->data(), bytes.size()));

  const std::wstring aside = path.value() + L".aside";
  const bool renamed = MoveFileExW(path.value().c_str(), aside.c_str(), 0);
  const DWORD rename_error = GetLastError();
  if (renamed)
    MoveFileExW(aside.c_str(), path.value().c_str(), 0);  // back, for the rest of the run
  EXPECT_FALSE(renamed);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), rename_error);
  const HANDLE writer = CreateFileW(path.value().c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
  const DWORD write_error = GetLastError();
  if (writer != INVALID_HANDLE_VALUE)
    CloseHandle(writer);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), write_error);
}

}  // namespace
}  // namespace zorvi::installer
