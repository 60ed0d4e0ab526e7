#include "desktop/launcher/installer/service/utils.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/shortcut.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

TEST(ServiceUtilsTest, IsValidPath) {
  const std::wstring longest = L"C:\\" + std::wstring(244, L'a');
  ASSERT_EQ(247u, longest.size());
  struct Case {
    std::wstring path;
    bool valid;
  } const cases[] = {
      {L"C:", true},
      {L"C:\\", true},
      {L"C:\\Program Files\\Zorvi", true},
      {L"C:/Program Files/Zorvi/", true},
      {L"relative\\folder", true},
      {longest, true},
      {longest + L"a", false},  // 248 characters
      {L"", false},
      {L"\\\\srv\\share\\", true},
      {L"\\\\srv\\share\\Zorvi\\app", true},
      {L"\\\\srv\\share", false},  // a bare share without its closing separator
      {L"\\\\srv\\", false},
      {L"\\\\srv", false},
      {L"\\\\\\share\\", false},  // no server name
      {L"\\\\s?v\\share\\", false},
      {L"C:\\con.txt", false},
      {L"C:\\nul.txt", false},
      {L"C:\\NuL", false},
      {L"C:\\Lpt1.log\\x", false},
      {L"C:\\com4", false},
      {L"C:\\com5", true},
      {L"C:\\console", true},
      {L"C:\\cons.txt", true},
      {L"C:\\nul1", true},
      {L"C:\\folder.", false},
      {L"C:\\folder.\\x", false},
      {L"C:\\.folder", true},
      {L"C:\\what?", false},
      {L"?:\\x", false},
      {L"C:\\a\\b:c", false},
      {L"C:\\a<b", false},
      {L"C:\\a|b", false},
      {L"C:\\a*", false},
      {L"C:\\a\"b", false},
      {L"C:\\tab\there", false},
      {std::wstring(L"C:\\nul\0byte", 11), false},
      {L"C:\\caf\u00e9 \u65e5\u672c", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.valid, IsValidPath(base::FilePath(c.path))) << base::WideToUTF8(c.path);
}

std::vector<std::string>* g_log_lines = nullptr;

bool CaptureLogLine(int, const char*, int, size_t message_start, const std::string& text) {
  if (g_log_lines)
    g_log_lines->push_back(text.substr(message_start));
  return true;
}

// Collects the log lines written while it lives.
class ScopedLogCapture {
 public:
  ScopedLogCapture() {
    g_log_lines = &lines_;
    logging::SetLogMessageHandler(&CaptureLogLine);
  }
  ~ScopedLogCapture() {
    logging::SetLogMessageHandler(nullptr);
    g_log_lines = nullptr;
  }
  bool Contains(const std::string& text) const {
    for (const std::string& line : lines_) {
      if (line.find(text) != std::string::npos)
        return true;
    }
    return false;
  }

 private:
  std::vector<std::string> lines_;
};

class FileIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    data_ = base::FilePath(test_support::TestDataDir()).Append(L"identity");
    std::string inodes;
    ASSERT_TRUE(base::ReadFileToString(data_.DirName().Append(L"identity.txt"), &inodes));
    inodes_ = test_support::ParseNameValueLines(inodes);
    ASSERT_EQ(4u, inodes_.size());
  }
  void TearDown() override { CoUninitialize(); }

  base::FilePath data_;
  std::map<std::string, std::string> inodes_;  // file name (or "." for the folder) to its inode number
};

// The file index is the inode number that stat reports; a hard link and another spelling of the path are the
// same file, another file is not.
TEST_F(FileIdentityTest, IdentityIsTheInode) {
  BY_HANDLE_FILE_INFORMATION target;
  ASSERT_TRUE(GetFileIdentity(data_.Append(L"target.exe"), &target));
  struct Case {
    std::wstring path;
    const char* inode_of;
    bool same_as_target;
  } const cases[] = {
      {L"target.exe", "target.exe", true},
      {L"TARGET.EXE", "target.exe", true},
      {L"hard link.exe", "hard link.exe", true},
      {L"other.exe", "other.exe", false},
      {L".", ".", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(base::WideToUTF8(c.path));
    BY_HANDLE_FILE_INFORMATION identity;
    ASSERT_TRUE(GetFileIdentity(c.path == L"." ? data_ : data_.Append(c.path), &identity));
    const uint64_t index = (static_cast<uint64_t>(identity.nFileIndexHigh) << 32) | identity.nFileIndexLow;
    EXPECT_EQ(inodes_[c.inode_of], base::Uint64ToString(index));
    EXPECT_EQ(c.same_as_target, IsSameFileIdentity(identity, target));
  }
  BY_HANDLE_FILE_INFORMATION missing;
  EXPECT_FALSE(GetFileIdentity(data_.Append(L"missing.exe"), &missing));
}

// Pins and shortcuts that point at the target through a hard link are found only through its identity; one
// that cannot be resolved is logged and passed over.
TEST_F(FileIdentityTest, ShortcutsAndPinsMatchByPathOrIdentity) {
  test_support::ScopedTestFolder scoped_pins(L"pins");
  const base::FilePath pins(scoped_pins.path());
  ASSERT_TRUE(base::PathService::Override(base::kTaskbarPins, pins));
  const base::FilePath target = data_.Append(L"target.exe");
  const base::FilePath hard_link_pin = pins.Append(L"hard link.lnk");
  const base::FilePath other_pin = pins.Append(L"other.lnk");
  for (const auto& [link, link_target] : {std::pair(hard_link_pin, data_.Append(L"hard link.exe")),
                                          std::pair(other_pin, data_.Append(L"other.exe"))}) {
    base::win::ShortcutProperties properties;
    properties.set_target(link_target);
    ASSERT_TRUE(base::win::CreateOrUpdateShortcutLink(link, properties, base::win::ShortcutWriteMode::CreateAlways));
  }
  const std::string garbage = "not a shell link";
  const base::FilePath broken_pin = pins.Append(L"broken.lnk");
  ASSERT_EQ(static_cast<int>(garbage.size()), base::WriteFile(broken_pin, garbage.data(), static_cast<int>(garbage.size())));
  BY_HANDLE_FILE_INFORMATION identity;
  ASSERT_TRUE(GetFileIdentity(target, &identity));

  struct ShortcutCase {
    base::FilePath shortcut;
    std::wstring target;
    bool with_identity;
    bool matches;
  } const shortcut_cases[] = {
      {hard_link_pin, data_.Append(L"HARD LINK.EXE").value(), false, true},
      {hard_link_pin, target.value(), false, false},
      {hard_link_pin, target.value(), true, true},
      {other_pin, target.value(), true, false},
      {broken_pin, target.value(), true, false},
      {pins.Append(L"missing.lnk"), target.value(), true, false},
      {base::FilePath(), target.value(), true, false},
  };
  for (const ShortcutCase& c : shortcut_cases) {
    SCOPED_TRACE(c.shortcut.AsUTF8() + " -> " + base::WideToUTF8(c.target));
    EXPECT_EQ(c.matches, TestShortcut(c.shortcut, base::FilePath(c.target), c.with_identity ? &identity : nullptr));
  }

  ScopedLogCapture log;
  EXPECT_EQ(hard_link_pin, FindTaskbarPin(target, &identity));
  EXPECT_TRUE(log.Contains("Couldn't resolve shortcut at " + broken_pin.AsUTF8()));
  EXPECT_EQ(base::FilePath(), FindTaskbarPin(target, nullptr));
  EXPECT_EQ(other_pin, FindTaskbarPin(data_.Append(L"OTHER.exe"), nullptr));

  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(base::kTaskbarPins, pins.Append(L"absent"), true, false));
  EXPECT_EQ(base::FilePath(), FindTaskbarPin(target, &identity));
  EXPECT_TRUE(log.Contains("Couldn't find path to taskbar pins."));
}

// A link on a path is found wherever it lies, the path itself included; what does not exist is not examined. The
// folders of a path without one are held: none can be renamed meanwhile (on Windows: wine renames a folder held
// without delete sharing all the same). Resolving follows the links. (The link is a Linux symbolic link, which wine
// shows as a reparse point.)
TEST_F(FileIdentityTest, LinksOnAPathAreFoundAndTheOthersHeld) {
  const base::FilePath links = data_.DirName().Append(L"links");
  const base::FilePath link = links.Append(L"to_folder");
  const struct {
    const wchar_t* path;
    bool hold_path;
    bool link_free;
  } cases[] = {
      {L"folder\\sub", true, true},          {L"folder\\missing\\deeper", true, true},
      {L"to_folder", true, false},           {L"to_folder", false, false},
      {L"to_folder\\sub", true, false},      {L"to_folder\\missing", true, false},
      {L"folder\\..\\to_folder\\", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(base::WideToUTF8(c.path));
    std::string problem;
    EXPECT_EQ(c.link_free, LinkFreePath().Hold(links.Append(c.path), c.hold_path, &problem)) << problem;
    EXPECT_EQ(c.link_free ? "" : link.AsUTF8() + " is a link (a reparse point)", problem);
  }
  {
    LinkFreePath held;
    std::string problem;
    ASSERT_TRUE(held.Hold(links.Append(L"folder\\sub"), true, &problem)) << problem;
    const bool moved = MoveFileW(links.Append(L"folder").value().c_str(), links.Append(L"moved").value().c_str());
    const DWORD error = GetLastError();
    if (moved) {
      ASSERT_TRUE(MoveFileW(links.Append(L"moved").value().c_str(), links.Append(L"folder").value().c_str()));
    }
    if (!test_support::IsRunningUnderWine()) {
      EXPECT_FALSE(moved);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
    }
  }
  const base::FilePath resolved = GetResolvedPath(links.Append(L"folder\\sub"));
  ASSERT_FALSE(resolved.empty());
  EXPECT_EQ(resolved, GetResolvedPath(link.Append(L"sub")));
  EXPECT_EQ(resolved, GetResolvedPath(links.Append(L"FOLDER\\SUB.")));
  EXPECT_TRUE(GetResolvedPath(links.Append(L"missing")).empty());
}

// The names the shell's own variables give.
TEST(ServiceUtilsTest, UserNamesMatchTheShell) {
  struct Case {
    bool domain_form;
    const wchar_t* shell_text;
  } const cases[] = {
      {false, L"%USERNAME%"},
      {true, L"%USERDOMAIN%\\%USERNAME%"},
  };
  for (const Case& c : cases) {
    DWORD exit_code = 1;
    std::string output;
    ASSERT_TRUE(test_support::RunProcess(std::wstring(L"cmd.exe /c echo ") + c.shell_text, &exit_code, &output));
    ASSERT_EQ(0u, exit_code);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
      output.pop_back();
    std::wstring name;
    ASSERT_TRUE(GetCurrentUserName(c.domain_form, &name));
    EXPECT_EQ(output, base::WideToUTF8(name)) << base::WideToUTF8(c.shell_text);
  }
}

TEST(ServiceUtilsTest, KernelObjectNamesNameUsableObjects) {
  const std::wstring folder = L"C:\\Users\\" + test_support::UniqueName(L"obj") + L"\\AppData\\Zorvi";
  struct Case {
    std::wstring base;
    bool global;
    std::wstring expected;
  } const cases[] = {
      {L"ZorviInstaller/PackageReady", false, L"Local\\ZorviInstaller/PackageReady/C:/Users/"},
      {L"Zorvi/Installer", true, L"Global\\Zorvi/Installer/C:/Users/"},
      {L"Zorvi\\Installer", true, L"Global\\Zorvi/Installer/C:/Users/"},
  };
  for (const Case& c : cases) {
    const std::wstring name = GetInstallerKernelObjectName(folder, c.base, c.global);
    SCOPED_TRACE(base::WideToUTF8(name));
    EXPECT_EQ(0u, name.rfind(c.expected, 0));
    EXPECT_EQ(std::wstring::npos, name.find(L'\\', name.find(L'\\') + 1));
    test_support::ScopedTestHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event.valid()) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  }
}

TEST(ServiceUtilsTest, UserProgramFilesFolderIsBelowLocalApplicationData) {
  base::FilePath folder;
  if (!GetUserProgramFilesFolder(&folder) && test_support::IsRunningUnderWine())
    GTEST_SKIP() << "wine does not know FOLDERID_UserProgramFiles (SHGetKnownFolderPath gives E_INVALIDARG)";
  base::FilePath local_app_data;
  ASSERT_TRUE(base::PathService::Get(base::kLocalAppData, &local_app_data));
  EXPECT_EQ(local_app_data.Append(L"Programs"), folder);
  EXPECT_TRUE(base::DirectoryExists(folder));
}

}  // namespace
}  // namespace zorvi::installer
