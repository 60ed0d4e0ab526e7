#include "base/path_service.h"

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_util.h"
#include "base/scoped_temp_folder_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace base {
namespace {

// Where wine's own tools say the folders are (testdata_setup.sh): key to Windows path.
std::map<int, FilePath> ReadOracle() {
  std::map<int, FilePath> oracle;
  std::string text;
  if (!test_support::ReadFileBytes(test_support::TestDataDir() + L"\\path_service\\oracle.txt", &text))
    return oracle;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos)
      oracle[std::stoi(line.substr(0, tab))] = FilePath(UTF8ToWide(line.substr(tab + 1)));
  }
  return oracle;
}

FilePath GetOrEmpty(int key) {
  FilePath path;
  if (!PathService::Get(key, &path))
    return FilePath();
  return path;
}

// Paths compare without regard to case, as the file system does.
::testing::AssertionResult SamePath(const FilePath& expected, const FilePath& actual) {
  if (FilePath::CompareIgnoreCase(expected.value(), actual.value()) == 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected \"" << expected.value() << "\", got \"" << actual.value() << "\"";
}

TEST(PathServiceTest, KeysMatchWhatTheSystemToolsSay) {
  const std::map<int, FilePath> oracle = ReadOracle();
  ASSERT_EQ(17u, oracle.size());
  for (const auto& [key, expected] : oracle)
    EXPECT_TRUE(SamePath(expected, GetOrEmpty(key))) << "key " << key;
}

TEST(PathServiceTest, DerivedKeysFollowTheirBase) {
  const std::map<int, FilePath> oracle = ReadOracle();
  ASSERT_FALSE(oracle.empty());
  const FilePath app_data = oracle.at(kAppData);
  EXPECT_TRUE(SamePath(app_data.Append(L"Microsoft\\Internet Explorer\\Quick Launch"), GetOrEmpty(kUserQuickLaunch)));
  EXPECT_TRUE(SamePath(app_data.Append(L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar"),
                       GetOrEmpty(kTaskbarPins)));
  EXPECT_EQ(GetOrEmpty(kExeFile).DirName(), GetOrEmpty(kExeDir));
  EXPECT_TRUE(SamePath(oracle.at(kExeFile).DirName(), GetOrEmpty(kExeDir)));
  // Linked into the test program itself, this module is the executable.
  EXPECT_EQ(GetOrEmpty(kExeFile), GetOrEmpty(kModuleFile));
  EXPECT_EQ(GetOrEmpty(kExeDir), GetOrEmpty(kModuleDir));
}

// The system folder is where the loader found kernel32.dll.
TEST(PathServiceTest, SystemFolderHoldsTheLoadedKernel) {
  wchar_t kernel32[MAX_PATH];
  const DWORD length = GetModuleFileNameW(GetModuleHandleW(L"kernel32.dll"), kernel32, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_TRUE(SamePath(FilePath(std::wstring(kernel32, length)).DirName(), GetOrEmpty(kSystemDir)));
  EXPECT_TRUE(SamePath(GetOrEmpty(kWindowsDir), GetOrEmpty(kSystemDir).DirName()));
}

// In a DLL, the module keys name the DLL and the executable keys the program that loaded it.
TEST(PathServiceTest, ModuleKeysInADll) {
  const std::wstring dll_path = test_support::ExecutableDir() + L"\\path_service_test_dll.dll";
  HMODULE dll = LoadLibraryW(dll_path.c_str());
  ASSERT_TRUE(dll);
  using GetPathFunction = bool (*)(int, wchar_t*, size_t);
  auto get_path = reinterpret_cast<GetPathFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "TestDllGetPath")));
  ASSERT_TRUE(get_path);
  wchar_t buffer[1024];
  ASSERT_TRUE(get_path(kModuleFile, buffer, 1024));
  EXPECT_TRUE(SamePath(FilePath(dll_path), FilePath(buffer)));
  ASSERT_TRUE(get_path(kModuleDir, buffer, 1024));
  EXPECT_TRUE(SamePath(FilePath(test_support::ExecutableDir()), FilePath(buffer)));
  ASSERT_TRUE(get_path(kExeFile, buffer, 1024));
  EXPECT_TRUE(SamePath(ReadOracle().at(kExeFile), FilePath(buffer)));
  FreeLibrary(dll);
}

TEST(PathServiceTest, CurrentDirectoryIsNeverCached) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  FilePath before;
  ASSERT_TRUE(PathService::Get(kCurrentDir, &before));
  FilePath now;
  {
    const test_support::ScopedCurrentFolder current(folder.path().value());
    EXPECT_TRUE(PathService::Get(kCurrentDir, &now));
    EXPECT_TRUE(SamePath(folder.path(), now));
    // And it cannot be overridden: an override would never be consulted.
    EXPECT_FALSE(PathService::OverrideAndCreateIfNeeded(kCurrentDir, before, true, false));
  }
  EXPECT_TRUE(PathService::Get(kCurrentDir, &now));
  EXPECT_TRUE(SamePath(before, now));
}

TEST(PathServiceTest, UnknownKeyFailsAndLeavesTheOutput) {
  FilePath path(L"untouched");
  EXPECT_FALSE(PathService::Get(500, &path));
  EXPECT_EQ(L"untouched", path.value());
  EXPECT_FALSE(PathService::Get(1002, &path));
  EXPECT_FALSE(PathService::Get(2016, &path));
  EXPECT_EQ(L"untouched", path.value());
}

TEST(PathServiceTest, OverrideOfABaseKeyMovesTheKeysBuiltOnIt) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  // Cache the answers first: the override must clear them.
  const FilePath old_quick_launch = GetOrEmpty(kUserQuickLaunch);
  ASSERT_FALSE(old_quick_launch.empty());
  ASSERT_FALSE(GetOrEmpty(kTaskbarPins).empty());
  ASSERT_TRUE(PathService::OverrideAndCreateIfNeeded(kAppData, folder.path(), true, false));
  EXPECT_EQ(folder.path(), GetOrEmpty(kAppData));
  EXPECT_EQ(folder.path().Append(L"Microsoft\\Internet Explorer\\Quick Launch"), GetOrEmpty(kUserQuickLaunch));
  EXPECT_EQ(folder.path().Append(L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar"),
            GetOrEmpty(kTaskbarPins));
}

TEST(PathServiceTest, OverrideCreatesTheFolderAndItsParents) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  const FilePath nested = folder.path().Append(L"a\\b\\c");
  ASSERT_FALSE(DirectoryExists(nested));
  EXPECT_TRUE(PathService::Override(1002, nested));
  EXPECT_TRUE(DirectoryExists(nested));
  EXPECT_EQ(nested, GetOrEmpty(1002));

  // Without `create` nothing is made, and the override holds all the same.
  const FilePath missing = folder.path().Append(L"missing");
  EXPECT_TRUE(PathService::OverrideAndCreateIfNeeded(2016, missing, true, false));
  EXPECT_FALSE(PathExists(missing));
  EXPECT_EQ(missing, GetOrEmpty(2016));
}

TEST(PathServiceTest, OverrideFailsWhenTheFolderCannotBeMade) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  const FilePath file = folder.path().Append(L"a file");
  ASSERT_TRUE(test_support::WriteFileBytes(file.value(), "x"));
  EXPECT_FALSE(PathService::Override(2017, file.Append(L"below")));
  FilePath path;
  EXPECT_FALSE(PathService::Get(2017, &path));
}

TEST(PathServiceTest, RelativeOverrideIsMadeAbsolute) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  {
    const test_support::ScopedCurrentFolder current(folder.path().value());
    ASSERT_TRUE(PathService::Override(2018, FilePath(L"sub\\..\\data")));
  }
  EXPECT_TRUE(SamePath(folder.path().Append(L"data"), GetOrEmpty(2018)));
  EXPECT_TRUE(DirectoryExists(folder.path().Append(L"data")));
}

// A provider's answer that goes through ".." is given in its absolute form.
TEST(PathServiceTest, AnswerWithParentReferenceIsMadeAbsolute) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  ASSERT_TRUE(PathService::OverrideAndCreateIfNeeded(kAppData, folder.path().Append(L"x\\.."), true, false));
  EXPECT_EQ(folder.path().Append(L"x\\.."), GetOrEmpty(kAppData));  // overrides are kept as given
  EXPECT_TRUE(SamePath(folder.path().Append(L"Microsoft\\Internet Explorer\\Quick Launch"),
                       GetOrEmpty(kUserQuickLaunch)));
}

TEST(PathServiceTest, TestDataOnlyWhenTheFolderExists) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  ASSERT_TRUE(PathService::OverrideAndCreateIfNeeded(kSourceRoot, folder.path(), true, false));
  FilePath path;
  EXPECT_FALSE(PathService::Get(kTestData, &path));
  const FilePath data = folder.path().Append(L"base\\test\\data");
  ASSERT_TRUE(CreateDirectory(data));
  EXPECT_TRUE(PathService::Get(kTestData, &path));
  EXPECT_EQ(data, path);
}

TEST(PathServiceTest, SourceRootIsTwoLevelsAboveTheExecutable) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  ASSERT_TRUE(PathService::OverrideAndCreateIfNeeded(kExeDir, folder.path().Append(L"out\\bin"), true, false));
  EXPECT_EQ(folder.path(), GetOrEmpty(kSourceRoot));
}

// Threads read derived keys while overrides of their base come in. Once the overrides have stopped, the
// derived key must follow the last one: an answer worked out from an older value may not linger in the cache.
TEST(PathServiceTest, ConcurrentReadersAndOverrides) {
  ScopedTempFolder folder(L"paths");
  ASSERT_TRUE(folder.created());
  const FilePath first = folder.path().Append(L"first"), second = folder.path().Append(L"second");
  ASSERT_TRUE(PathService::OverrideAndCreateIfNeeded(kAppData, first, true, false));
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        const FilePath pins = GetOrEmpty(kTaskbarPins);
        const FilePath base = pins.DirName().DirName().DirName().DirName().DirName();
        if (base != first && base != second)
          ++wrong;
      }
    });
  }
  for (int i = 1; i <= 2001; ++i)
    ASSERT_TRUE(PathService::OverrideAndCreateIfNeeded(kAppData, i % 2 ? second : first, true, false));
  stop = true;
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(second.Append(L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar"),
            GetOrEmpty(kTaskbarPins));
}

// The path service's answers in a child under another Windows version (testdata_check.sh checks with wine's
// relay trace which of these children asked the shell for the known folder).
class PathServiceVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsRunningUnderWine())
      GTEST_SKIP() << "switching the Windows version per program needs wine";
  }

  // Key to path ("" when it failed), and the version under "version".
  std::map<std::string, std::string> RunChild(const wchar_t* wine_version, const std::wstring& keys) {
    std::string output, error;
    if (!test_support::RunChildUnderWindowsVersion(L"path_service_test_child.exe", wine_version, false, keys,
                                                   &output, &error)) {
      ADD_FAILURE() << error;
    }
    return test_support::ParseNameValueLines(output);
  }
};

// Whether this system knows the application shortcuts folder at all.
bool SystemHasApplicationShortcuts() {
  const KNOWNFOLDERID folder_id = {0xA3918781, 0xE5F2, 0x4890, {0xB3, 0xD9, 0xA7, 0xE5, 0x43, 0x32, 0x32, 0x8C}};
  wchar_t* path = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(folder_id, 0, nullptr, &path);
  CoTaskMemFree(path);
  return SUCCEEDED(hr);
}

TEST_F(PathServiceVersionTest, ApplicationShortcutsOnlyFromWindows8) {
  const std::map<int, FilePath> oracle = ReadOracle();
  ASSERT_FALSE(oracle.empty());
  std::map<std::string, std::string> win7 = RunChild(L"win7", L"112 110 114");
  ASSERT_EQ("4", win7["version"]);
  EXPECT_EQ("", win7["112"]);
  EXPECT_TRUE(SamePath(oracle.at(kLocalAppData), FilePath(UTF8ToWide(win7["110"]))));

  std::map<std::string, std::string> win10 = RunChild(L"win10", L"112 110 114");
  ASSERT_GE(std::stoi(win10["version"]), 5);
  if (SystemHasApplicationShortcuts()) {
    // The known folder's documented place: under the local application data.
    EXPECT_TRUE(SamePath(oracle.at(kLocalAppData).Append(L"Microsoft\\Windows\\Application Shortcuts"),
                         FilePath(UTF8ToWide(win10["112"]))));
  } else {
    EXPECT_EQ("", win10["112"]) << "wine lacks FOLDERID_ApplicationShortcuts: the key must fail with the shell";
  }
  // The other keys do not depend on the version.
  EXPECT_EQ(win7["110"], win10["110"]);
  EXPECT_EQ(win7["114"], win10["114"]);
}

}  // namespace
}  // namespace base
