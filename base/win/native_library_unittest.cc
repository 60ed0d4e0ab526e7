#include "base/win/native_library.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
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

// A program run from a downloads folder, beside files a page dropped there under system DLLs' names: a bare
// name finds those files first, the system loader never does. A copy of the child program runs under a name of
// its own, for which wine searches as Windows does. Wine lacks "verifier.dll": the system loader then fails
// rather than take the planted file.
TEST(LoadSystemLibraryTest, FilesUnderSystemNamesBesideTheProgramAreNeverLoaded) {
  test_support::ScopedTestFolder folder(L"PlantedSystemNames");
  const std::wstring program_name = test_support::UniqueName(L"planted") + L".exe";
  const std::wstring program = folder.path() + L"\\" + program_name;
  ASSERT_TRUE(CopyFileW((test_support::ExecutableDir() + L"\\native_library_test_child.exe").c_str(),
                        program.c_str(), FALSE));
  const std::vector<std::wstring> names = {L"dbghelp", L"msftedit", L"verifier"};
  const test_support::ScopedPlantedLibraries planted(
      folder.path(), program_name, test_support::ExecutableDir() + L"\\native_library_dependency_test_dll.dll",
      names);
  wchar_t system_folder[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryW(system_folder, MAX_PATH));

  // Where each name came from, lower-case, by the way asked.
  auto load = [&](const std::wstring& way) {
    std::string output;
    DWORD exit_code = 1;
    EXPECT_TRUE(test_support::RunProcess(L"\"" + program + L"\" " + way + L" dbghelp.dll Msftedit.dll verifier.dll",
                                         &exit_code, &output));
    EXPECT_EQ(0u, exit_code) << output;
    std::vector<std::string> sources;
    for (const std::string& line : SplitString(output, "\n", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY))
      sources.push_back(ToLowerASCII(line));
    return sources;
  };
  const std::vector<std::string> by_name = load(L"by-name");
  const std::vector<std::string> from_system = load(L"system");

  const std::string planted_folder = ToLowerASCII(WideToUTF8(folder.path())) + "\\";
  const std::string system_prefix = ToLowerASCII(WideToUTF8(system_folder)) + "\\";
  ASSERT_EQ(names.size(), by_name.size());
  ASSERT_EQ(names.size(), from_system.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string file = WideToUTF8(names[i]) + ".dll";
    EXPECT_EQ(file + ": " + planted_folder + file, by_name[i]) << "the planted file is what a bare name finds";
    if (names[i] == L"verifier" && from_system[i] == file + ": error " + std::to_string(ERROR_MOD_NOT_FOUND))
      continue;
    EXPECT_EQ(file + ": " + system_prefix + file, from_system[i]);
  }
}

}  // namespace
}  // namespace win
}  // namespace base
