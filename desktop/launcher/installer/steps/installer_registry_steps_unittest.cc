// The launcher and registry steps' outcomes that only a run in this process can stage (a failing operation, an
// uninstall entry that cannot be read, an earlier engine's installation), each run inside a registry sandbox of its
// own (ScopedRegistrySandbox), since the installation's keys are the same for every test; and which keys a status
// log may have deleted. The rows whole installations write, record and remove are proven end to end by
// installer_scenario_unittest.cc, checked from the registry files.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/install_log_test_util.h"
#include "desktop/launcher/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/steps/installer_registry.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {
namespace {

constexpr char kUninstallInformation[] = "Failed writing uninstallation information";

// The keys an earlier engine's edition (its word, or none) named its browser class and client with.
std::wstring ClassKey(const std::wstring& edition) {
  return L"Software\\Classes\\Kadro" + edition + L"HTML";
}
std::wstring ClientKey(const std::wstring& edition) {
  return L"Software\\Clients\\StartMenuInternet\\Kadro" + (edition.empty() ? L"" : L" " + edition);
}

// The run's last report before its termination, or its success.
std::string EndOf(const Lines& lines) {
  return lines.size() >= 2 && lines.back() == Recorder::TerminatedLine(false) ? lines[lines.size() - 2] : lines.back();
}

using InstallerRegistryStepsTest = InstallerRunTest;

// Bad input and refusals: the launcher missing from the package and an uninstall entry that cannot be written or
// placed end the run with its code and roll everything back; an entry of that name that cannot be read is taken, and
// the next name is used; a failing row of another kind, default-preference
// overrides that do not parse and tracking data that is not there are skipped with a warning. And where the
// launcher takes the browser's executable's place, also in an upgrade whose clean-up of the earlier engine's log
// removed the launcher's copy there, and in an autoupdate that takes an earlier engine's installation over, whose
// clean-up reads the earlier log's product placeholders as its edition word ("{Product}" the word, "{SPProduct}" a
// blank and the word, or nothing for an edition without a word).
TEST_F(InstallerRegistryStepsTest, LauncherAndRegistryStepOutcomes) {
  static std::wstring g_failing_key;
  SetOperationFaultHookForTesting([](const Operation* operation, const std::wstring& target) {
    return dynamic_cast<const ChangeRegValueOperation*>(operation) && target == g_failing_key;
  });
  MakePackage({.data_files = 1, .root_files = false});
  std::string launcher;
  ASSERT_TRUE(test_support::ReadFileBytes(package_->folder().Append(L"launcher.exe").value(), &launcher));
  using Files = std::map<std::wstring, std::string>;  // file names in a folder → their contents
  const std::string none = "(none)";
  const auto put = [&](bool package, const Files& files) {
    return [&, package, files] {
      for (const auto& [name, text] : files)
        ASSERT_TRUE(test_support::WriteFileBytes((package ? package_->folder() : install_).Append(name).value(), text));
    };
  };
  struct Row {
    const char* name;
    std::wstring switches;
    std::function<void()> setup;
    std::string end;  // the run's last report before its termination, or its success
    const char* warning = nullptr;
    Files files = {};  // what the install folder then holds; with no files and no check, it is as it was
    std::function<void()> check = nullptr;
  };
  const auto unreadable_entry = [] {
    base::win::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, UninstallKeyName(L"").c_str(), KEY_READ));
    ASSERT_TRUE(test_support::SetObjectDacl(L"CURRENT_USER\\" + UninstallKeyName(L""), SE_REGISTRY_KEY,
                                            L"D:P(D;;KA;;;WD)"));
  };
  // What the system's own registry tool lists of a key of the sandbox's `root`, and whether it found the key.
  const auto reg_query = [&](HKEY root, const std::wstring& key, bool found) {
    DWORD exit_code = 1;
    std::string output;
    EXPECT_TRUE(test_support::RunProcess(L"reg.exe query \"HKCU\\" + registry_->KeyFor(root) + L"\\" + key + L"\"",
                                         &exit_code, &output));
    EXPECT_EQ(found, exit_code == 0) << base::WideToUTF8(key) << output;
    return output;
  };
  const std::string uninstall_failure = Recorder::ErrorLine(kInstallerErrorGeneric, L"", kUninstallInformation);
  const std::string unreadable = "The uninstall key " + base::WideToUTF8(UninstallKeyName(L"")) + " cannot be read";
  // This version's installation: its folder with the library, and the log that lists it (saved by the caller).
  const auto current_installation = [&] {
    InstallLog current;
    current.version = "1.0";
    current.subfolder = base::FilePath(L"1.0");
    current.installation_path = install_;
    current.files = {base::FilePath(L"zorvi.dll")};
    EXPECT_TRUE(CreateDirectoryW(install_.Append(L"1.0").value().c_str(), nullptr));
    put(false, {{L"1.0\\zorvi.dll", "library"}})();
    return current;
  };
  // An installation whose status log asks to delete others' keys with their subtrees, beside its own class.
  const std::vector<std::pair<HKEY, std::wstring>> others_keys = {
      {HKEY_CURRENT_USER, L"Software\\Classes\\CLSID"},
      {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID"},
      {HKEY_CURRENT_USER, L"Software\\Classes\\http"},
      {HKEY_CURRENT_USER, L"Software\\Classes\\Applications\\other.exe"},
      {HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet\\Other"},
      {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other 1"},
      {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\other.exe"}};
  const std::wstring own_class = L"Software\\Classes\\" + base::UTF8ToWide(GetProductName() + GetStreamName());
  const auto logging_others_keys = [&] {
    InstallLog current = current_installation();
    for (const auto& [root, key] : others_keys) {
      ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(root, (key + L"\\kept").c_str(), KEY_READ));
      (root == HKEY_LOCAL_MACHINE ? current.machine_keys : current.user_keys).push_back({1, base::WideToUTF8(key), {}});
    }
    ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(HKEY_CURRENT_USER, (own_class + L"\\shell").c_str(), KEY_READ));
    current.user_keys.push_back({1, base::WideToUTF8(own_class), {}});
    ASSERT_TRUE(SaveInstallLog(current, install_.Append(kInstallLogFileName)));
  };
  // A second per-user installation of the stream, in another folder, rewrote the client's keys after this one:
  // its values stay byte for byte. A value in them that still names this installation goes, as does a value of
  // this installation's own that a user rewrote since stays.
  const std::wstring client = L"Software\\Clients\\StartMenuInternet\\" +
                              base::UTF8ToWide(GetProductName() + GetStreamName());
  const std::wstring registered = L"Software\\RegisteredApplications";
  std::string second_keys;
  const auto second_installation = [&] {
    InstallLog current = current_installation();
    const std::string own_icon = install_.Append(L"launcher.exe").AsUTF8() + ",0";
    current.user_keys = {{1, base::WideToUTF8(client), {{"REG_SZ", "", "Zorvi"}}},
                         {2, base::WideToUTF8(client + L"\\DefaultIcon"), {{"REG_SZ", "", own_icon}}},
                         {2, base::WideToUTF8(client + L"\\Capabilities"), {{"REG_SZ", "ApplicationIcon", own_icon}}},
                         {0, base::WideToUTF8(registered), {{"REG_SZ", "Zorvi", "as installed"}}}};
    ASSERT_TRUE(SaveInstallLog(current, install_.Append(kInstallLogFileName)));
    base::win::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, client.c_str(), KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(nullptr, L"Zorvi"));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (client + L"\\DefaultIcon").c_str(), KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(nullptr, (Folder(L"second").value() + L"\\launcher.exe,0").c_str()));
    second_keys = registry_->RegExport(HKEY_CURRENT_USER, client);
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (client + L"\\Capabilities").c_str(), KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"ApplicationIcon", base::UTF8ToWide(own_icon).c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, registered.c_str(), KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Zorvi", L"rewritten"));
  };
  const std::wstring open_with = L"Software\\Classes\\.htm\\OpenWithProgIDs";
  // An earlier engine's installation of an edition, with its keys and a foreign value beside one of them.
  const auto earlier_engine = [&](int product_type, const std::wstring& edition) {
    return [&, product_type, edition] {
      base::win::RegKey key;
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (ClassKey(edition) + L"\\shell").c_str(), KEY_READ));
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, ClientKey(edition).c_str(), KEY_READ));
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, open_with.c_str(), KEY_SET_VALUE));
      ASSERT_EQ(ERROR_SUCCESS, key.WriteValue((L"Kadro" + edition + L"HTML").c_str(), L""));
      ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"OtherBrowser.HTML", L""));
      put(false, {{L"zorvi.exe", "browser"},
                  {L"zorviprefs_default.ini", "[System]\r\nZorvi Product=" + std::to_string(product_type) + "\r\n"}})();
      InstallLog earlier;
      earlier.version = "12.0.1";
      earlier.installation_path = install_;
      earlier.files = {base::FilePath(L"zorvi.exe")};
      earlier.user_keys = {{1, "Software\\Classes\\Kadro{Product}HTML", {}},
                           {1, "Software\\Clients\\StartMenuInternet\\Kadro{SPProduct}", {}},
                           {0, base::WideToUTF8(open_with), {{"REG_NONE", "Kadro{Product}HTML", ""}}}};
      ASSERT_TRUE(SaveInstallLog(earlier, install_.Append(L"zorvi_install_log.xml")));
    };
  };
  const auto taken_over = [&](const std::wstring& edition) {
    return [&, edition] {
      const RegistryValues left = ValuesBelow(HKEY_CURRENT_USER, L"", true);
      EXPECT_EQ(0u, left.count(ClassKey(edition) + L"\\"));
      EXPECT_EQ(0u, left.count(ClientKey(edition) + L"\\"));
      EXPECT_EQ(0u, left.count(open_with + L"|Kadro" + edition + L"HTML"));
      EXPECT_EQ(1u, left.count(open_with + L"|OtherBrowser.HTML"));
    };
  };
  // An upgrade that took an earlier engine's installation over kept its log aside, which lists the browser's
  // executable that the launcher has taken the place of.
  const auto earlier_log_kept_aside = [&] {
    put(false, {{L"zorvi.exe", "launcher of the takeover"}, {L"zorvi.old", "browser"}})();
    InstallLog current = current_installation();
    ASSERT_TRUE(SaveInstallLog(current, install_.Append(kInstallLogFileName)));
    InstallLog earlier;
    earlier.version = "12.0.1";
    earlier.installation_path = install_;
    earlier.files = {base::FilePath(L"zorvi.exe")};
    ASSERT_TRUE(CreateDirectoryW(install_.Append(kOldStatusFolderName).value().c_str(), nullptr));
    ASSERT_TRUE(SaveInstallLog(earlier, install_.Append(kOldStatusFolderName).Append(L"installation_status.xml.100")));
  };
  const std::wstring takeover = L"--autoupdate --replacekadroinstallation";
  const Files browser = {{L"zorvi.exe", "browser"}, {L"zorvi.old", "older browser"}};
  const Files launcher_took_its_place = {{L"zorvi.exe", launcher}, {L"zorvi.old", "browser"}};
  const Row rows[] = {
      {"launcher missing", L"--allusers=0",
       [&] { ASSERT_TRUE(DeleteFileW(package_->folder().Append(L"launcher.exe").value().c_str())); },
       Recorder::ErrorLine(kInstallerErrorCopy, Folder(L"launcher missing").Append(L"launcher.exe").value(),
                           "Failed copying the launcher")},
      {"uninstall entry unreadable", L"--allusers=0", unreadable_entry, kSuccess, unreadable.c_str(), {}, [&] {
         const std::string next = reg_query(HKEY_CURRENT_USER, UninstallKeyName(L"1"), true);
         EXPECT_NE(std::string::npos, next.find("InstallLocation    REG_SZ    " + install_.AsUTF8())) << next;
       }},
      {"every uninstall entry taken", L"--allusers=0",
       [] {
         for (int suffix = 0; suffix < 1000; ++suffix) {
           ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(
                                        HKEY_CURRENT_USER,
                                        UninstallKeyName(suffix ? std::to_wstring(suffix) : L"").c_str(), KEY_READ));
         }
       },
       uninstall_failure},
      {"uninstall row fails", L"--allusers=0", [] { g_failing_key = UninstallKeyName(L""); }, uninstall_failure},
      {"another row fails", L"--allusers=0", [] { g_failing_key = L"Software\\Classes\\.zex"; }, kSuccess,
       "Failed writing default value to key Software\\Classes\\.zex", {},
       [] {
         const RegistryValues zex = ValuesBelow(HKEY_CURRENT_USER, L"Software\\Classes\\.zex");
         EXPECT_EQ(0u, zex.count(L"|"));
         EXPECT_EQ(1u, zex.count(L"OpenWithProgIDs|Zorvi" + base::UTF8ToWide(GetStreamName())));
       }},
      {"overrides that do not parse", L"--copyonly=1", put(true, {{L"pref_default_overrides", "{\"a\": "}}), kSuccess,
       "Supplied pref default overrides is not valid JSON", {{L"pref_default_overrides", none}}},
      {"tracking data", L"--copyonly=1 --server-tracking-data=tracking.bin", put(true, {{L"tracking.bin", "tracking"}}),
       kSuccess, nullptr, {{L"server_tracking_data", "tracking"}}},
      {"tracking data missing", L"--copyonly=1 --server-tracking-data=absent.bin", nullptr, kSuccess,
       "Tracking data path specified on command line invalid", {{L"server_tracking_data", none}}},
      // The browser's executable beside an earlier ".old" one is replaced by the launcher and kept aside; alone, or
      // for a white-labelled product, it stays.
      // Only the installation's own class goes; the others' keys lose only the values recorded (none).
      {"a log naming others' keys", L"--copyonly=1", logging_others_keys, kSuccess, "Refusing to delete the key", {},
       [&] {
         for (const auto& [root, key] : others_keys)
           reg_query(root, key + L"\\kept", true);
         reg_query(HKEY_CURRENT_USER, own_class, false);
       }},
      {"a second per-user installation's keys", L"--copyonly=1", second_installation, kSuccess,
       "The key \"", {},
       [&] {
         // The emptied key of this installation's value stays beside the second's, which are as before.
         const RegistryValues left = ValuesBelow(HKEY_CURRENT_USER, client, true);
         EXPECT_EQ(1u, left.count(L"Capabilities\\"));
         EXPECT_EQ(0u, left.count(L"Capabilities|ApplicationIcon"));
         EXPECT_EQ((RegistryValues{{L"|Zorvi", L"sz:rewritten"}}), ValuesBelow(HKEY_CURRENT_USER, registered));
         RegDeleteTreeW(HKEY_CURRENT_USER, (client + L"\\Capabilities").c_str());
         EXPECT_NE("", second_keys);
         EXPECT_EQ(second_keys, registry_->RegExport(HKEY_CURRENT_USER, client));
       }},
      {"exe and old", L"--copyonly=1", put(false, browser), kSuccess, nullptr, launcher_took_its_place},
      {"exe alone", L"--copyonly=1", put(false, {{L"zorvi.exe", "browser"}}), kSuccess, nullptr,
       {{L"zorvi.exe", "browser"}, {L"zorvi.old", none}}},
      {"earlier engine's log kept aside", L"--copyonly=1", earlier_log_kept_aside, kSuccess, nullptr,
       {{L"zorvi.exe", launcher}, {L"zorvi.old", "browser"}, {L"old_status\\installation_status.xml.100", none}}},
      {"earlier engine preview", takeover, earlier_engine(1, L"Preview"), kSuccess, nullptr, launcher_took_its_place,
       taken_over(L"Preview")},
      {"earlier engine labs", takeover, earlier_engine(2, L"Labs"), kSuccess, nullptr, launcher_took_its_place,
       taken_over(L"Labs")},
      {"earlier engine, no edition word", takeover, earlier_engine(0, L""), kSuccess, nullptr, launcher_took_its_place,
       taken_over(L"")},
      {"white-labelled", L"--copyonly=1",
       [&] {
         SetBrandingTextForTesting(R"({"company_name": "ZorviSwap", "product_name": "Zorvi", )"
                                   R"("file_name_base": "zorvi", "white_labeled": true})");
         put(false, browser)();
       },
       kSuccess, nullptr, browser},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MakePackage({.data_files = 1, .root_files = false});
    g_failing_key.clear();
    FreshRegistry();
    install_ = Folder(base::UTF8ToWide(row.name));
    CreateDirectoryW(install_.value().c_str(), nullptr);
    put(false, {{L"earlier.txt", "earlier"}})();
    if (row.setup)
      row.setup();
    const RegistryValues before = ValuesBelow(HKEY_CURRENT_USER, L"", true);
    const std::map<std::string, std::string> tree = ReadTree(install_);
    const bool replaces = row.switches.find(L"--replacekadroinstallation") != std::wstring::npos;
    Prepare(row.switches, {.autoupdate = replaces, .replace_earlier_engine = replaces});
    test_support::ScopedLogCapture capture;
    EXPECT_EQ(row.end, EndOf(Run()));
    if (row.warning) {
      EXPECT_TRUE(capture.HasLineStartingWith(row.warning, logging::LOG_WARNING)) << capture.Text();
    }
    installer_.reset();
    for (const auto& [name, text] : row.files) {
      std::string contents;
      EXPECT_EQ(text, test_support::ReadFileBytes(install_.Append(name).value(), &contents) ? contents : none) << name;
    }
    if (row.check)
      row.check();
    if (row.files.empty() && !row.check) {
      EXPECT_EQ(tree, ReadTree(install_));
      EXPECT_EQ(before, ValuesBelow(HKEY_CURRENT_USER, L"", true));
    }
    test_support::SetObjectDacl(L"CURRENT_USER\\" + UninstallKeyName(L""), SE_REGISTRY_KEY, L"D:P(A;;KA;;;WD)");
  }
}

// Which key a status log's record may have deleted: climbing by the clean level, and only the installation's own
// keys below the containers it writes its keys into, as its rows name them for the fixture's product, and the
// product's uninstall entries.
using InstallerRegistryTest = InstallerMainThreadTest;
TEST_F(InstallerRegistryTest, CleanableKeys) {
  Installer installer;
  const std::vector<std::wstring> own_keys = OwnCleanableRegistryKeys(&installer);
  const struct {
    const wchar_t* key;
    int clean_level;
    const wchar_t* target;
    bool cleanable;
  } rows[] = {
      {L"Software\\Classes\\Zorvinightly", 1, L"Software\\Classes\\Zorvinightly", true},
      {L"Software\\Classes\\Zorvinightly\\shell\\open\\command", 2, L"Software\\Classes\\Zorvinightly\\shell\\open", true},
      {L"Software\\Classes\\Applications\\zorvi.exe\\shell\\open\\command", 4, L"Software\\Classes\\Applications\\zorvi.exe", true},
      {L"Software\\Classes\\Applications\\zorvi.exe", 2, L"Software\\Classes\\Applications", false},
      {L"Software\\Classes\\.zex", 2, L"Software\\Classes", false},
      {L"Software\\Classes\\.zex", 3, L"Software", false},
      {L"SOFTWARE\\classes\\.zex", 1, L"SOFTWARE\\classes\\.zex", true},
      {L"Software\\Clients\\StartMenuInternet\\Zorvinightly\\DefaultIcon", 2, L"Software\\Clients\\StartMenuInternet\\Zorvinightly", true},
      {L"Software\\Clients\\StartMenuInternet\\Zorvinightly", 2, L"Software\\Clients\\StartMenuInternet", false},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvi 1", 1, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvi 1", true},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvi 1", 3, L"Software\\Microsoft\\Windows\\CurrentVersion", false},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zorvi.exe", 1, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zorvi.exe", true},
      {L"Software\\Classes\\\\", 1, L"Software\\Classes\\\\", false},
      {L"Software\\Classes\\a/b", 1, L"Software\\Classes\\a/b", false},
      // Others' keys below the same containers.
      {L"Software\\Classes\\CLSID", 1, L"Software\\Classes\\CLSID", false},
      {L"Software\\Classes\\http\\shell\\open\\command", 4, L"Software\\Classes\\http", false},
      {L"Software\\Classes\\.htm", 1, L"Software\\Classes\\.htm", false},
      {L"Software\\Classes\\Zorvinightly2", 1, L"Software\\Classes\\Zorvinightly2", false},
      {L"Software\\Classes\\KadroHTML", 1, L"Software\\Classes\\KadroHTML", false},
      {L"Software\\Classes\\Applications\\other.exe", 1, L"Software\\Classes\\Applications\\other.exe", false},
      {L"Software\\Clients\\StartMenuInternet\\IEXPLORE.EXE", 1, L"Software\\Clients\\StartMenuInternet\\IEXPLORE.EXE", false},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other 1", 1, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other 1", false},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvix 1", 1, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvix 1", false},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZORVI 38.0\\x", 1, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZORVI 38.0\\x", true},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\other.exe", 1, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\other.exe", false},
      {L"Software\\Classes\\x", 5, L"", false},
      {L"Software\\Zorvi", 1, L"Software\\Zorvi", false},
  };
  for (const auto& row : rows) {
    const std::wstring target = RegistryKeyToClean(row.key, row.clean_level);
    EXPECT_EQ(row.target, target) << row.key;
    EXPECT_EQ(row.cleanable, IsCleanableRegistryKey(target, own_keys)) << row.key;
  }
}

}  // namespace
}  // namespace zorvi::installer::test
