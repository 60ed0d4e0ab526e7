#include "desktop/launcher/installer/status.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/shortcut.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/settings_test_util.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// The folders testdata/stage_installations.sh laid out.
base::FilePath Staged(const std::wstring& relative) {
  return test::TestDataFile(L"staged").Append(relative);
}

void MakeShortcut(const base::FilePath& link, const base::FilePath& target) {
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  ASSERT_TRUE(base::win::CreateOrUpdateShortcutLink(link, properties, base::win::ShortcutWriteMode::CreateAlways))
      << link.value();
}

class StatusTest : public test::InstallerMainThreadTest {
 protected:
  // The report of the status of `path`, with the log's reason (the line that follows "Initializing status").
  test::Report Examine(const base::FilePath& path, bool replace_kadro_installation, std::string* reason) {
    test_support::ScopedLogCapture log;
    Status status(replace_kadro_installation);
    status.Initialize(path);
    const std::vector<test_support::ScopedLogCapture::Line> lines = log.lines();
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i].text.rfind("Initializing status: ", 0) == 0)
        *reason = lines[i + 1].text;
    }
    log_text_ = log.Text();
    return test::StatusReport(status);
  }

  std::string log_text_;
};

// How a path is classified, and what an installation in it is found to be, for the staged folders. An
// installation's shortcuts and pin are found wherever they lead, through a hard link made with ln included (by
// file identity); a shortcut to an earlier launcher is to be made again. testdata_check.sh reads the links with
// lnkinfo.
TEST_F(StatusTest, ClassifiesPathsAndReadsInstallations) {
  // The earlier engine's log names its desktop shortcut, which reaches the branded launcher: an earlier target.
  MakeShortcut(Staged(L"kadro_links\\desktop.lnk"), Staged(L"kadro\\zorvi.exe"));
  const base::FilePath linked = Staged(L"linked");
  // The same file as install\launcher.exe (testdata_setup.sh checked that with stat).
  const base::FilePath hard_link = linked.Append(L"elsewhere\\launcher.exe");
  MakeShortcut(linked.Append(L"links\\desktop.lnk"), hard_link);
  MakeShortcut(linked.Append(L"links\\start_menu.lnk"), linked.Append(L"install\\zorvi.exe"));
  MakeShortcut(linked.Append(L"links\\quick_launch.lnk"), linked.Append(L"elsewhere\\other.exe"));
  const base::FilePath pin = linked.Append(L"pins\\Zorvi.lnk");
  MakeShortcut(pin, hard_link);
  ASSERT_TRUE(base::PathService::Override(base::kTaskbarPins, linked.Append(L"pins")));
  ASSERT_TRUE(base::PathService::Override(base::kStartMenu, linked.Append(L"start_menu")));
  const base::FilePath deep = Staged(L"deep");
  // 248 characters are one too many for a folder the installer accepts.
  const std::wstring long_name(247 - deep.value().size() - 1, L'x');

  struct Case {
    base::FilePath path;
    bool replace_kadro_installation;
    std::string reason;
    test::Report expected;
  };
  const Case cases[] = {
      {base::FilePath(), false, "Path is empty", {{"valid_install_path", "0"}}},
      {base::FilePath(L"relative\\folder"), false, "Path is relative", {{"valid_install_path", "0"}}},
      {deep.Append(long_name + L"y"), false, "Path is not a valid Win32 path", {{"valid_install_path", "0"}}},
      {deep.Append(long_name), false, "Path is valid",
       {{"valid_install_path", "1"}, {"valid_parent_folder", deep.AsUTF8()}}},
      {Staged(L"file.txt"), false, "Path is a file path", {{"valid_install_path", "0"}}},
      {Staged(L"file.txt\\sub\\folder"), false, "Path is child of a file (invalid)", {{"valid_install_path", "0"}}},
      {deep.Append(L"a\\b\\c"), false, "Path is valid",
       {{"valid_install_path", "1"}, {"valid_parent_folder", deep.AsUTF8()}, {"existing_installation", "0"}}},
      {Staged(L"traces"), false, "Path is a folder",
       {{"valid_install_path", "1"},
        {"valid_parent_folder", Staged(L"traces").AsUTF8()},
        {"existing_installation", "0"},
        {"existing_installation_traces", "1"}}},
      // A copy-only log that records a machine-wide key describes an installation for all users.
      {Staged(L"copy_only_hklm"), false, "Path is a folder",
       {{"existing_installation", "1"}, {"log.copy_only", "0"}, {"log.all_users", "1"}}},
      // Saved choices: a single-profile value that is not a boolean is unknown; the profile's Local State names
      // the language; the stored experiments are the folder's own.
      {Staged(L"prefs_yes"), false, "Path is a folder",
       {{"existing_installation", "1"},
        {"single_profile", "-1"},
        {"import_browser_data", "0"},
        {"enable_stats", "1"},
        {"language", "de"},
        {"welcome_url", "https://welcome.zorvi.example/first"},
        {"tracking_data", "partner=zorvi-test&campaign=42"},
        {"profile_path", Staged(L"prefs_yes_profile").AsUTF8()},
        {"experiment.installer-experiment-test", "1"},
        {"experiment.installer-ui-stats", "0"},
        {"old_product_type", "-1"}}},
      // The earlier engine: its stages run as for an installation (the shortcut to its branded launcher is
      // found), its ini is read instead of the preferences, and only the replace switch lets it count.
      {Staged(L"kadro"), false, "Path is a folder",
       {{"existing_installation", "0"},
        {"kadro_installation", "1"},
        {"desktop_shortcut_exists", "1"},
        {"recreate_desktop_shortcut", "1"},
        {"old_product_type", "2"},
        {"single_profile", "1"},
        {"language", "nb"},
        {"import_browser_data", "-1"}}},
      {Staged(L"kadro"), true, "Path is a folder",
       {{"existing_installation", "1"}, {"kadro_installation", "1"}, {"single_profile", "1"}}},
      {linked.Append(L"install"), false, "Path is a folder",
       {{"existing_installation", "1"},
        {"desktop_shortcut_exists", "1"},
        {"recreate_desktop_shortcut", "0"},
        {"start_menu_shortcut_exists", "1"},
        {"recreate_start_menu_shortcut", "1"},
        {"quick_launch_shortcut_exists", "0"},
        {"pinned_shortcut_path", pin.AsUTF8()},
        {"recreate_pinned_shortcut", "0"},
        {"temporary_shortcut_folder_exists", "1"},
        {"temporary_shortcut_folder", linked.Append(L"start_menu\\Zorvi Software").AsUTF8()}}},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.path.AsUTF8() + (test_case.replace_kadro_installation ? " (replace)" : ""));
    std::string reason;
    const test::Report report = Examine(test_case.path, test_case.replace_kadro_installation, &reason);
    EXPECT_EQ(test_case.reason, reason) << log_text_;
    EXPECT_EQ(test_case.path.AsUTF8(), report.at("path"));
    for (const auto& [name, value] : test_case.expected)
      EXPECT_EQ(value, report.at(name)) << name << "\n" << log_text_;
  }

  // No drive A on this machine: walking up ends at its root.
  if (GetLogicalDrives() & 1)
    GTEST_SKIP() << "this machine has a drive A";
  std::string reason;
  EXPECT_EQ("0", Examine(base::FilePath(L"A:\\Zorvi nightly"), false, &reason).at("valid_install_path"));
  EXPECT_EQ("Path is a root folder that's not valid (probably invalid drive letter)", reason);
}

}  // namespace
}  // namespace zorvi::installer
