#include "desktop/launcher/installer/records/installation_info.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/json/json_writer.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/install_log_test_util.h"
#include "desktop/launcher/installer/records/registered_command.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

constexpr char kBranding[] =
    R"({"product_name": "Zorvi", "file_name_base": "zorvi", "default_profile_path_template": "%s"})";

void UseProfileTemplate(const std::string& profile_template) {
  std::string branding = kBranding;
  base::ReplaceFirstSubstringAfterOffset(&branding, 0, "%s", profile_template);
  SetBrandingTextForTesting(branding);
}

// The running installer belongs to the installation above its version folder when only that one holds the
// launcher.
TEST(InstallationInfoTest, InstanceFindsTheInstallationOfItsExecutable) {
  test_support::ScopedTestFolder staging(L"InfoStaged");
  const base::FilePath root(staging.path());
  struct Case {
    const wchar_t* child_folder;            // below the root, where the program runs from
    std::vector<const wchar_t*> launchers;  // folders below the root holding launcher.exe
    const wchar_t* install_folder;          // the answer, below the root
  } const cases[] = {
      {L"install\\39.0.2234.0", {L"install"}, L"install"},
      {L"install", {L"install"}, L"install"},
      {L"both\\39.0.2234.0", {L"both", L"both\\39.0.2234.0"}, L"both\\39.0.2234.0"},
      {L"none\\39.0.2234.0", {}, L"none\\39.0.2234.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(base::WideToUTF8(c.child_folder));
    const base::FilePath folder = root.Append(c.child_folder);
    ASSERT_TRUE(base::CreateDirectory(folder));
    for (const wchar_t* launcher_folder : c.launchers)
      ASSERT_TRUE(test_support::WriteFileBytes(root.Append(launcher_folder).Append(L"launcher.exe").value(), ""));
    const std::string profile = "C:\\Profiles\\<USERNAME>\\" + base::WideToUTF8(c.install_folder);
    base::DictionaryValue prefs;
    prefs.SetString("profile_path", profile);
    std::string json;
    ASSERT_TRUE(base::JsonWriter::Write(prefs, &json));
    const base::FilePath prefs_file = root.Append(c.install_folder).Append(L"installer_prefs.json");
    ASSERT_TRUE(test_support::WriteFileBytes(prefs_file.value(), json));
    const base::FilePath child = folder.Append(L"installation_info_test_child.exe");
    ASSERT_TRUE(base::CopyFile(test::TestProgram(L"installation_info_test_child.exe"), child));

    std::map<std::string, std::string> report;
    std::string error;
    ASSERT_TRUE(test::RunReportingChild(L"\"" + child.value() + L"\"", &report, &error)) << error;
    EXPECT_EQ(root.Append(c.install_folder).AsUTF8(), report["install_folder"]);
    EXPECT_EQ(profile, report["profile_path"]) << "read from the installation's own preferences";
    EXPECT_EQ("1", report["one_instance"]);
  }
}

// Profile folders by the installation's preferences, against what wine's command interpreter says the user's
// name and application-data folder are.
TEST(InstallationInfoTest, ProfileFolders) {
  UseProfileTemplate("Zorvi {InternalStream}/User Data");
  const std::wstring user = test::EchoVariable(L"USERNAME");
  const std::wstring app_data = test::EchoVariable(L"APPDATA");
  ASSERT_FALSE(user.empty() || app_data.empty() || user[0] == L'%');
  test_support::ScopedTestFolder staging(L"InfoProfiles");
  const base::FilePath install(staging.path());
  // Answers are written with {install}, {user} and {appdata}; "-" means false.
  struct Case {
    const char* prefs;  // null: no installer_prefs.json
    const char* single_profile_folder;
    const char* profile;                  // GetProfilePath without the flag
    const char* parent_of_user_folders;  // with it
  } const cases[] = {
      {nullptr, "-", "{appdata}\\Zorvi Nightly\\User Data", "{appdata}\\Zorvi Nightly\\User Data"},
      {R"({"single_profile": true})", "{install}\\profile", "{install}\\profile\\data", "{install}\\profile\\data"},
      {R"({"single_profile": "yes"})", "-", "{appdata}\\Zorvi Nightly\\User Data",
       "{appdata}\\Zorvi Nightly\\User Data"},
      {R"({"single_profile": true, "profile_path": "C:\\Users\\<USERNAME>"})", "{install}\\profile",
       "{install}\\profile\\data", "{install}\\profile\\data"},
      {R"({"profile_path": "C:\\Users\\<USERNAME>\\Z"})", "-", "C:\\Users\\{user}\\Z", "C:\\Users\\{user}\\Z"},
      {R"({"profile_path": "C:\\Users\\<USERNAME>"})", "-", "C:\\Users\\{user}", "C:\\Users"},
      {R"({"profile_path": "C:\\Users\\<USERNAME>\\"})", "-", "C:\\Users\\{user}\\", "C:\\Users"},
      {R"({"profile_path": "D:/Data/<USERNAME>/Profile"})", "-", "D:/Data/{user}/Profile",
       "D:/Data/{user}/Profile"},
      {R"({"profile_path": "C:\\<USERNAME>\\<USERNAME>"})", "-", "C:\\{user}\\<USERNAME>", "C:\\{user}\\<USERNAME>"},
      {R"({"profile_path": "C:\\Shared\\Profile"})", "-", "C:\\Shared\\Profile", "C:\\Shared\\Profile"},
  };
  const auto expand = [&](const char* answer) {
    std::string text = answer;
    base::ReplaceSubstringsAfterOffset(&text, 0, "{install}", install.AsUTF8());
    base::ReplaceSubstringsAfterOffset(&text, 0, "{user}", base::WideToUTF8(user));
    base::ReplaceSubstringsAfterOffset(&text, 0, "{appdata}", base::WideToUTF8(app_data));
    return base::UTF8ToWide(text);
  };
  const base::FilePath prefs_file = install.Append(L"installer_prefs.json");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefs ? c.prefs : "no installer_prefs.json");
    base::DeleteFile(prefs_file, false);
    if (c.prefs) {
      ASSERT_TRUE(test_support::WriteFileBytes(prefs_file.value(), c.prefs));
    }
    FolderInstallationInfo info(install);
    base::FilePath path;
    const bool single = info.GetSingleProfileFolder(&path);
    EXPECT_EQ(std::string(c.single_profile_folder) != "-", single);
    EXPECT_EQ(single, info.IsSingleProfile());
    if (single) {
      EXPECT_EQ(expand(c.single_profile_folder), path.value());
    }
    ASSERT_TRUE(info.GetProfilePath(&path, false));
    EXPECT_EQ(expand(c.profile), path.value());
    ASSERT_TRUE(info.GetProfilePath(&path, true));
    EXPECT_EQ(expand(c.parent_of_user_folders), path.value());
  }
  base::FilePath path;
  EXPECT_FALSE(FolderInstallationInfo(base::FilePath()).GetProfilePath(&path, false)) << "no installation folder";
}

// The profile folder is deleted with all its contents when the browser is uninstalled with its data: a template
// that names no folder below the application-data folder gives no profile path at all.
TEST(InstallationInfoTest, TemplatesNamingNoFolderBelowAppDataGiveNoProfile) {
  const std::wstring app_data = test::EchoVariable(L"APPDATA");
  test_support::ScopedTestFolder staging(L"InfoTemplates");
  const base::FilePath install(staging.path());
  struct Case {
    const char* profile_template;
    const char* profile;  // below the application-data folder; null: none
  } const cases[] = {
      {"Zorvi/{InternalStream}", "Zorvi\\Nightly"},
      {"./Zorvi", ".\\Zorvi"},
      {"", nullptr},
      {"/", nullptr},
      {".", nullptr},
      {"./", nullptr},
      {"../Local", nullptr},
      {"Zorvi/../..", nullptr},
      {"C:/Elsewhere", nullptr},
      {"C:Relative", nullptr},
      {"//server/share/Zorvi", nullptr},
      {"/Rooted", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile_template);
    UseProfileTemplate(c.profile_template);
    FolderInstallationInfo info(install);
    base::FilePath path(L"unchanged");
    EXPECT_EQ(c.profile != nullptr, info.GetProfilePathFromTemplate(&path));
    EXPECT_EQ(c.profile != nullptr, info.GetProfilePath(&path, true));
    if (c.profile) {
      EXPECT_EQ(app_data + L"\\" + base::UTF8ToWide(c.profile), path.value());
    }
  }
}

// The status log is read once, or never when one is given; the preferences are only ever read.
TEST(InstallationInfoTest, StatusLogAndPreferencesAreOnlyRead) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  UseProfileTemplate("Zorvi");
  test_support::ScopedTestFolder staging(L"InfoLog");
  const base::FilePath install(staging.path());
  const base::FilePath log_file = install.Append(kInstallLogFileName);
  const std::string prefs = R"({"profile_path": "C:\\P\\<USERNAME>", "single_profile": false})";
  ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"installer_prefs.json").value(), prefs));
  const InstallLog first = MakeNonAsciiInstallLog(install);
  InstallLog second = first;
  second.version = "13.0";

  {
    FolderInstallationInfo info(install);
    EXPECT_EQ(L"Zorvi nightly", info.display_name());
    info.LoadInstallLog();
    EXPECT_TRUE(info.install_log_loaded());
    EXPECT_TRUE(info.install_log() == InstallLog()) << "a missing file leaves the log empty";
    ASSERT_TRUE(SaveInstallLog(first, log_file));
    info.LoadInstallLog();
    EXPECT_TRUE(info.install_log() == InstallLog()) << "read once only";
  }
  {
    FolderInstallationInfo info(install);
    info.LoadInstallLog();
    EXPECT_TRUE(info.install_log() == first);
    ASSERT_TRUE(SaveInstallLog(second, log_file));
    info.LoadInstallLog();
    EXPECT_TRUE(info.install_log() == first);
  }
  {
    FolderInstallationInfo info(install, first);
    EXPECT_TRUE(info.install_log_loaded());
    info.LoadInstallLog();
    EXPECT_TRUE(info.install_log() == first) << "the given log stands for the file";
    base::FilePath path;
    EXPECT_FALSE(info.IsSingleProfile());
    EXPECT_TRUE(info.GetProfilePath(&path, true));
  }
  std::string after;
  ASSERT_TRUE(base::ReadFileToString(install.Append(L"installer_prefs.json"), &after));
  EXPECT_EQ(prefs, after);
  std::vector<std::wstring> names;
  base::FileEnumerator files(install, false, base::FileEnumerator::FILES);
  for (base::FilePath file = files.Next(); !file.empty(); file = files.Next())
    names.push_back(file.BaseName().value());
  EXPECT_EQ((std::vector<std::wstring>{L"installation_status.xml", L"installer_prefs.json"}), names);
  CoUninitialize();
}

TEST(InstallationInfoTest, RegisteredHandlers) {
  SetBrandingTextForTesting(R"({"file_name_base": "zorvi"})");
  const std::wstring id = test_support::UniqueName(L"zh");
  test_support::ScopedTestFolder staging(L"InfoHandlers");
  const base::FilePath install(staging.path());
  const std::wstring own = L"\"" + install.value() + L"\\launcher.exe\" -noautoupdate -- \"%1\"";
  const std::wstring own_upper = base::UTF8ToWide(base::ToUpperASCII(base::WideToUTF8(own)));
  const std::wstring own_exe_name = L"\"" + install.value() + L"\\zorvi.exe\" -- \"%1\"";
  const std::wstring other = L"\"C:\\Other Browser\\other.exe\" \"%1\"";

  test::ScopedAssociations associations;
  associations.SetClassCommand(id + L"Own", own);
  associations.SetClassCommand(id + L"Other", other);
  associations.SetClassCommand(id + L"Exe", own_exe_name);
  // Protocols: their own class.
  associations.SetClassCommand(id + L"p-own", own_upper);
  associations.SetClassCommand(id + L"p-chosen", own);
  associations.SetUserChoice(id + L"p-chosen", id + L"Other");
  associations.SetClassCommand(id + L"p-other", other);
  associations.SetClassCommand(id + L"p-exe", own_exe_name);
  // Extensions: the class their key names.
  associations.SetExtensionClass(L"." + id + L"e-own", id + L"Own");
  associations.SetExtensionClass(L"." + id + L"e-empty-choice", id + L"Own");
  associations.SetUserChoice(L"." + id + L"e-empty-choice", L"");
  associations.SetExtensionClass(L"." + id + L"e-chosen", id + L"Own");
  associations.SetUserChoice(L"." + id + L"e-chosen", id + L"Other");
  associations.SetUserChoice(L"." + id + L"e-unregistered-choice", id + L"Missing");

  struct Case {
    std::wstring name;
    const std::wstring* command;  // the user's command; null: none
    bool handler;
    bool handler_by_exe_name;
    const std::wstring* machine_command;
  } const cases[] = {
      {id + L"p-own", &own_upper, true, false, &own_upper},
      {id + L"p-chosen", &other, false, false, &own},
      {id + L"p-other", &other, false, false, &other},
      {id + L"p-exe", &own_exe_name, false, true, &own_exe_name},
      {id + L"p-unregistered", nullptr, false, false, nullptr},
      {L"." + id + L"e-own", &own, true, false, &own},
      {L"." + id + L"e-empty-choice", &own, true, false, &own},
      {L"." + id + L"e-chosen", &other, false, false, &own},
      {L"." + id + L"e-unregistered-choice", nullptr, false, false, nullptr},
      {L"." + id + L"e-unregistered", nullptr, false, false, nullptr},
  };
  FolderInstallationInfo info(install);
  for (const Case& c : cases) {
    SCOPED_TRACE(base::WideToUTF8(c.name));
    std::wstring command = L"unchanged";
    EXPECT_EQ(c.command != nullptr, GetRegisteredCommand(c.name, false, &command));
    if (c.command) {
      EXPECT_EQ(*c.command, command);
    }
    EXPECT_EQ(c.machine_command != nullptr, GetRegisteredCommand(c.name, true, &command));
    if (c.machine_command) {
      EXPECT_EQ(*c.machine_command, command);
    }
    EXPECT_EQ(c.handler, info.IsRegisteredHandler(c.name, false));
    EXPECT_EQ(c.handler_by_exe_name, info.IsRegisteredHandler(c.name, true));
  }

  // A user choice that cannot be read fails the lookup rather than guessing.
  const std::wstring locked = id + L"p-locked";
  associations.SetClassCommand(locked, own);
  associations.SetUserChoice(locked, id + L"Own");
  const std::wstring choice = L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\" + locked +
                              L"\\UserChoice";
  ASSERT_TRUE(test_support::SetRegistryKeyDacl(HKEY_CURRENT_USER, choice, L"D:P(D;;KA;;;WD)"));
  std::wstring command;
  EXPECT_FALSE(GetRegisteredCommand(locked, false, &command));
  EXPECT_FALSE(info.IsRegisteredHandler(locked, false));
  EXPECT_TRUE(GetRegisteredCommand(locked, true, &command)) << "the machine's view has no user choice";
  EXPECT_TRUE(test_support::SetRegistryKeyDacl(HKEY_CURRENT_USER, choice, L"D:(A;;KA;;;WD)"));
}

}  // namespace
}  // namespace zorvi::installer
