#include "base/win/native_library.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

std::wstring CurrentDirectory() {
  wchar_t current[MAX_PATH + 1];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, current);
  return std::wstring(current, length);
}

// A folder holding a copy of the test DLL and, optionally, its dependency beside it.
class NativeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    folder_ = std::wstring(temp, length) + test_support::UniqueName(L"nl");
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    library_ = folder_ + L"\\library.dll";
    ASSERT_TRUE(CopyFileW((test_support::ExecutableDir() + L"\\native_library_test_dll.dll").c_str(),
                          library_.c_str(), FALSE));
    saved_directory_ = CurrentDirectory();
  }
  void TearDown() override {
    SetCurrentDirectoryW(saved_directory_.c_str());
    DeleteFileW(library_.c_str());
    DeleteFileW(Dependency().c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring Dependency() const { return folder_ + L"\\zorvi_beside_dependency.dll"; }
  void AddDependency() {
    ASSERT_TRUE(CopyFileW((test_support::ExecutableDir() + L"\\native_library_dependency_test_dll.dll").c_str(),
                          Dependency().c_str(), FALSE));
  }

  std::wstring folder_;
  std::wstring library_;
  std::wstring saved_directory_;
};

TEST_F(NativeLibraryTest, DependenciesBesideTheLibraryAreFound) {
  AddDependency();
  // The system alone does not look beside the library.
  HMODULE plain = LoadLibraryW(library_.c_str());
  if (plain)
    FreeLibrary(plain);
  EXPECT_EQ(nullptr, plain) << "the dependency was found without the folder change";

  uint32_t error = 12345;
  HMODULE module = LoadNativeLibrary(FilePath(library_), &error);
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(12345u, error) << "no error on success";
  EXPECT_EQ(saved_directory_, CurrentDirectory());
  using ValueFunction = int (*)();
  auto value = reinterpret_cast<ValueFunction>(reinterpret_cast<void*>(GetProcAddress(module, "NativeLibraryTestValue")));
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(42, value());
  EXPECT_NE(nullptr, GetModuleHandleW(L"zorvi_beside_dependency.dll"));
  FreeLibrary(module);
}

TEST_F(NativeLibraryTest, FailureReportsTheErrorAndRestoresTheDirectory) {
  // Without its dependency the library's initialisation fails.
  uint32_t error = 0;
  EXPECT_EQ(nullptr, LoadNativeLibrary(FilePath(library_), &error));
  EXPECT_EQ(static_cast<uint32_t>(ERROR_DLL_INIT_FAILED), error);
  EXPECT_EQ(saved_directory_, CurrentDirectory());
  EXPECT_EQ(nullptr, LoadNativeLibrary(FilePath(folder_ + L"\\missing.dll"), &error));
  EXPECT_EQ(static_cast<uint32_t>(ERROR_MOD_NOT_FOUND), error);
  EXPECT_EQ(saved_directory_, CurrentDirectory());
  // A folder that cannot be made current: the load is still tried.
  EXPECT_EQ(nullptr, LoadNativeLibrary(FilePath(folder_ + L"\\none\\missing.dll"), nullptr));
  EXPECT_EQ(saved_directory_, CurrentDirectory());
}

TEST_F(NativeLibraryTest, ScopedLibraryFindsFunctionsAndFreesTheModule) {
  AddDependency();
  {
    ScopedNativeLibrary library{FilePath(library_)};
    ASSERT_TRUE(library.is_valid());
    EXPECT_NE(nullptr, library.GetFunctionPointer("NativeLibraryTestValue"));
    EXPECT_EQ(nullptr, library.GetFunctionPointer("NoSuchFunction"));
    EXPECT_EQ(library.get(), GetModuleHandleW(library_.c_str()));
  }
  EXPECT_EQ(nullptr, GetModuleHandleW(library_.c_str())) << "the module was not freed";
  EXPECT_EQ(nullptr, GetModuleHandleW(L"zorvi_beside_dependency.dll"));
}

TEST_F(NativeLibraryTest, FailedHolderAsksTheSystemNothing) {
  ScopedNativeLibrary library{FilePath(folder_ + L"\\missing.dll")};
  EXPECT_FALSE(library.is_valid());
  // GetProcAddress with no module would search the executable and set the last error.
  SetLastError(0xC0FFEE);
  EXPECT_EQ(nullptr, library.GetFunctionPointer("main"));
  EXPECT_EQ(0xC0FFEEu, GetLastError());
}

TEST_F(NativeLibraryTest, ResetAndRelease) {
  AddDependency();
  ScopedNativeLibrary library(LoadNativeLibrary(FilePath(library_), nullptr));
  ASSERT_TRUE(library.is_valid());
  HMODULE module = library.Release();
  EXPECT_FALSE(library.is_valid());
  EXPECT_EQ(module, GetModuleHandleW(library_.c_str()));
  library.Reset(module);
  library.Reset(module);  // the same module again is kept
  EXPECT_EQ(module, GetModuleHandleW(library_.c_str()));
  library.Reset(nullptr);
  EXPECT_EQ(nullptr, GetModuleHandleW(library_.c_str()));
}

}  // namespace
}  // namespace win
}  // namespace base
