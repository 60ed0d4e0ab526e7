// The launcher and registry steps of whole runs in this process, each run inside a registry sandbox of its own
// (ScopedRegistrySandbox), since the installation's keys (the extensions' classes, the uninstall entries) are the
// same for every test: the rows a per-user and a machine-wide installation write and record, the uninstall entry's
// key, the clean-up of what a status log recorded with its guard, and the failures that end a run or skip a row.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/launcher/installer/install_log_test_util.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/installer_package_test_util.h"
#include "desktop/launcher/installer/installer_registry.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/product_info.h"
#include "desktop/launcher/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/service/xml_document.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/test_seams.h"
#include "testing/installer_observer_recorder.h"
#include "testing/installer_test_seams_from_environment.h"
#include "testing/scoped_log_capture.h"
#include "testing/settings_status_wait.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {
namespace {

using Recorder = test_support::InstallerObserverRecorder;
using Lines = std::vector<std::string>;

const std::string kSuccess = Recorder::SimpleLine("OnInstallerSuccess");
constexpr char kUninstallInformation[] = "Failed writing uninstallation information";

std::wstring Wide(const std::string& text) {
  return base::UTF8ToWide(text);
}

// The status log's records of one hive as the registry shows values ("<key>|<name>" → "<type>:<data>").
RegistryValues RecordedValues(const std::vector<InstallLogKey>& keys) {
  RegistryValues values;
  for (const InstallLogKey& key : keys) {
    for (const InstallLogValue& value : key.values) {
      std::wstring text = L"type 0";
      if (value.type == "REG_SZ")
        text = L"sz:" + Wide(value.data);
      else if (value.type == "REG_DWORD")
        text = L"dword:" + std::to_wstring(std::stoul(value.data, nullptr, 16));
      values[Wide(key.path) + L"|" + Wide(value.name)] = text;
    }
  }
  return values;
}

// What `after` holds beyond `before`, and what it lost.
RegistryValues Added(const RegistryValues& before, const RegistryValues& after) {
  RegistryValues added;
  for (const auto& [name, data] : after) {
    auto found = before.find(name);
    if (found == before.end() || found->second != data)
      added[name] = data;
  }
  return added;
}

class InstallerRegistryStepsTest : public InstallerMainThreadTest {
 protected:
  InstallerRegistryStepsTest() : saved_command_line_(*base::CommandLine::ForCurrentProcess()), root_(L"regsteps") {}
  ~InstallerRegistryStepsTest() override {
    installer_.reset();
    settings_.reset();
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
    SetOperationFaultHookForTesting(nullptr);
  }

  void SetUp() override {
    package_ = std::make_unique<PackageFixture>(base::FilePath(root_.path()).Append(L"package"), "unused",
                                                PackageOptions{.data_files = 1, .root_files = false});
    ASSERT_TRUE(base::PathService::Override(base::kExeDir, package_->folder()));
    // The runs' shortcuts go to folders of the test's own, not to the user's desktop.
    ASSERT_TRUE(test_support::OverrideShortcutFolders(Folder(L"shortcuts").value()));
  }

  // A fresh Installer and settings for `install` with `switches`, reporting to a fresh recorder.
  // `earlier_engine`: an autoupdate that takes an earlier engine's installation over.
  void Prepare(const base::FilePath& install, const std::wstring& switches, bool uninstall = false,
               bool earlier_engine = false) {
    installer_.reset();
    settings_.reset();
    install_ = install;
    recorder_ = std::make_unique<Recorder>();
    base::CommandLine::ForCurrentProcess()->ParseCommandLineString(
        L"installer.exe --installfolder=\"" + install.value() + L"\" " + switches);
    interrupted_.reset(CreateEventW(
        nullptr, TRUE, FALSE,
        GetInstallerKernelObjectName(install.value(), L"ZorviInstaller/InstallationInterrupted", true).c_str()));
    settings_ = std::make_unique<Settings>(uninstall, false, earlier_engine, install, earlier_engine);
    test_support::WaitForSettingsStatus(settings_.get());
    installer_ = std::make_unique<Installer>();
    installer_->AddObserver(recorder_.get());
  }

  // Runs until the run reports its end; its last observer call.
  std::string Run() {
    base::RunLoop run_loop;
    recorder_->set_after_call([&](const std::string& line, size_t) {
      if (line == kSuccess || line == Recorder::TerminatedLine(false))
        run_loop.Quit();
    });
    installer_->Run(settings_.get());
    run_loop.Run();
    RunUntilIdle();
    const Lines lines = recorder_->lines();
    return lines.size() >= 2 && lines.back() == Recorder::TerminatedLine(false) ? lines[lines.size() - 2]
                                                                                : lines.back();
  }

  base::FilePath Folder(const std::wstring& name) const { return base::FilePath(root_.path()).Append(name); }

  const base::CommandLine saved_command_line_;
  test_support::ScopedTestFolder root_;
  std::unique_ptr<PackageFixture> package_;
  base::FilePath install_;
  test_support::ScopedTestHandle interrupted_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<Installer> installer_;
};

// A per-user and a machine-wide installation (Windows 7, stream 2) write exactly the rows they record, in the
// hive of their kind: per user 53 values with the three DDE rows, machine-wide 50 values and the DDE key deleted.
// Registry texts hold the install folder as it is, braces included, and the uninstall entry takes the first free
// suffix. The status log, saved and loaded again, gives the same records (empty data included); the area's check
// reads the saved logs with xmllint and compares them with the sandboxes' `reg export`.
TEST_F(InstallerRegistryStepsTest, InstallationsWriteAndRecordTheirRows) {
  const struct {
    const wchar_t* name;
    const wchar_t* folder;
    const wchar_t* switches;
    HKEY root;
    std::vector<std::wstring> taken_suffixes;
    const wchar_t* suffix;
    size_t recorded;
  } rows[] = {
      {L"per_user", L"Apps {Version} x", L"--allusers=0", HKEY_CURRENT_USER, {L"", L"1"}, L"2", 53},
      {L"machine_wide", L"{InstallFolder}", L"--allusers=1", HKEY_LOCAL_MACHINE, {}, L"", 50},
  };
  const std::wstring class_key = L"Software\\Classes\\Zorvi" + Wide(GetStreamName());
  const std::wstring dde_key = class_key + L"\\shell\\open\\ddeexec";
  for (const auto& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.name));
    ScopedRegistrySandbox sandbox(/*keep=*/true);
    for (const std::wstring& suffix : row.taken_suffixes)
      ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(row.root, UninstallKeyName(suffix).c_str(), KEY_READ));
    // A DDE key that an earlier registration left: the machine-wide rows delete it.
    ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(HKEY_LOCAL_MACHINE, (dde_key + L"\\Topic").c_str(), KEY_READ));
    const RegistryValues before = ValuesBelow(row.root, L"", true);
    Prepare(Folder(row.folder), row.switches);
    ASSERT_EQ(kSuccess, Run());

    const InstallLog& log = installer_->install_log();
    const std::vector<InstallLogKey>& keys = row.root == HKEY_CURRENT_USER ? log.user_keys : log.machine_keys;
    EXPECT_TRUE((row.root == HKEY_CURRENT_USER ? log.machine_keys : log.user_keys).empty());
    const RegistryValues recorded = RecordedValues(keys);
    EXPECT_EQ(row.recorded, recorded.size());
    RegistryValues written = Added(before, ValuesBelow(row.root, L""));
    // The last install folder is written outside the registry step and not recorded.
    written.erase(GetCompanyRegistryKeyPath() + L"|Last " + Wide(GetStreamName()) + L" Install Path");
    EXPECT_EQ(recorded, written);
    EXPECT_EQ(row.root == HKEY_CURRENT_USER, base::win::RegKey(HKEY_LOCAL_MACHINE, dde_key.c_str(), KEY_READ).Valid());
    EXPECT_EQ(row.root == HKEY_CURRENT_USER, recorded.count(dde_key + L"\\Topic|") == 1);

    const std::wstring uninstall = UninstallKeyName(row.suffix);
    const std::wstring folder = install_.value();
    const std::map<std::wstring, std::wstring> expected = {
        {L"DisplayName", L"sz:Zorvi " + Wide(GetStreamName() + " " + GetFullVersionString())},
        {L"InstallLocation", L"sz:" + folder},
        {L"UninstallString", L"sz:\"" + folder + L"\\Launcher.exe\" /uninstall"},
        {L"NoModify", L"dword:1"},
        {L"NoRepair", L"dword:1"},
    };
    for (const auto& [name, data] : expected)
      EXPECT_EQ(data, written[uninstall + L"|" + name]) << name;
    EXPECT_EQ(L"sz:\"" + folder + L"\\Launcher.exe\" -noautoupdate -- \"%1\"",
              written[class_key + L"\\shell\\open\\command|"]);

    const base::FilePath saved =
        base::FilePath(test_support::TestDataDir()).Append(L"registry_steps").Append(row.name + std::wstring(L".xml"));
    CreateDirectoryW(saved.DirName().value().c_str(), nullptr);
    ASSERT_TRUE(SaveInstallLog(log, saved));
    ASSERT_TRUE(test_support::WriteFileBytes(saved.ReplaceExtension(L".key").value(),
                                             base::WideToUTF8(sandbox.KeyFor(row.root))));
    XmlDocument document;
    InstallLog loaded;
    ASSERT_TRUE(LoadInstallLog(&document, &loaded, saved));
    EXPECT_EQ(log, loaded);
  }
}

// An uninstallation removes what the installation's status log lists, each key by its clean level, and no more:
// values of others in the same keys stay. Where a damaged log asks to climb to a key the installation does not own
// ("Software" from ".zex" by 3, "...\CurrentVersion" from the uninstall entry by 3), only the recorded values go,
// and the refusal is logged.
TEST_F(InstallerRegistryStepsTest, CleanupRemovesWhatTheLogListsWithinItsOwnKeys) {
  ScopedRegistrySandbox sandbox;
  const std::wstring htm_open_with = L"Software\\Classes\\.htm\\OpenWithProgIDs";
  base::win::RegKey others;
  ASSERT_EQ(ERROR_SUCCESS, others.Create(HKEY_CURRENT_USER, htm_open_with.c_str(), KEY_SET_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, others.WriteValue(L"OtherBrowser.HTML", L""));
  ASSERT_EQ(ERROR_SUCCESS, others.Create(HKEY_CURRENT_USER, L"Software", KEY_SET_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, others.WriteValue(L"Sentinel", L"kept"));
  others.Close();
  const RegistryValues before = ValuesBelow(HKEY_CURRENT_USER, L"");

  const base::FilePath install = Folder(L"Zorvi");
  Prepare(install, L"--allusers=0");
  ASSERT_EQ(kSuccess, Run());
  InstallLog log = installer_->install_log();
  installer_.reset();
  const std::wstring uninstall = UninstallKeyName(L"");
  const struct {
    std::wstring path;
    int clean_level;
    const char* refused_target;
  } damaged[] = {
      {L"Software\\Classes\\.zex", 3, "Software"},
      {uninstall, 3, "Software\\Microsoft\\Windows\\CurrentVersion"},
  };
  for (const auto& record : damaged) {
    auto key = std::find_if(log.user_keys.begin(), log.user_keys.end(),
                            [&](const InstallLogKey& k) { return Wide(k.path) == record.path; });
    ASSERT_NE(log.user_keys.end(), key);
    key->clean_level = record.clean_level;
  }
  const base::FilePath browser = install.Append(log.subfolder).Append(L"zorvi.exe");
  ASSERT_TRUE(SaveInstallLog(log, install.Append(kInstallLogFileName)));
  ASSERT_TRUE(base::PathService::Override(base::kExeDir, install.Append(log.subfolder)));
  ASSERT_TRUE(base::PathExists(browser));
  Prepare(install, L"--uninstall", /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->operation());
  test_support::ScopedLogCapture capture;
  ASSERT_EQ(kSuccess, Run());
  installer_.reset();
  RegistryValues after = ValuesBelow(HKEY_CURRENT_USER, L"");
  // The last install folder is the settings' business, not the status log's.
  after.erase(GetCompanyRegistryKeyPath() + L"|Last " + Wide(GetStreamName()) + L" Install Path");
  EXPECT_EQ(before, after);
  // Keys of the installation's own go whole; the ones the guard refused stay, emptied.
  const std::wstring class_key = L"Software\\Classes\\Zorvi" + Wide(GetStreamName());
  EXPECT_FALSE(base::win::RegKey(HKEY_CURRENT_USER, class_key.c_str(), KEY_READ).Valid());
  EXPECT_FALSE(base::win::RegKey(HKEY_CURRENT_USER, L"Software\\Classes\\.zex\\OpenWithProgIDs", KEY_READ).Valid());
  for (const auto& record : damaged) {
    EXPECT_TRUE(base::win::RegKey(HKEY_CURRENT_USER, record.path.c_str(), KEY_READ).Valid());
    EXPECT_TRUE(capture.HasLineStartingWith(std::string("Refusing to delete the key \"") + record.refused_target +
                                            "\"", logging::LOG_WARNING))
        << record.refused_target;
  }
}

// Bad input and refusals: the launcher missing from the package and an uninstall entry that cannot be written or
// placed end the run with its code and roll everything back; a failing row of another kind, default-preference
// overrides that do not parse and tracking data that is not there are skipped with a warning. And where the
// launcher takes the browser's executable's place.
TEST_F(InstallerRegistryStepsTest, LauncherAndRegistryStepOutcomes) {
  static std::wstring g_failing_key;
  SetOperationFaultHookForTesting([](const Operation* operation, const std::wstring& target) {
    return dynamic_cast<const ChangeRegValueOperation*>(operation) && target == g_failing_key;
  });
  const base::FilePath own = package_->folder();
  struct Row {
    const char* name;
    std::wstring switches;
    std::function<void(const base::FilePath& install)> setup;
    std::string end;  // the run's last report before its termination, or its success
    const char* warning;
    std::function<void(const base::FilePath& install)> check;
  };
  const auto unreadable_entry = [](const base::FilePath&) {
    base::win::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, UninstallKeyName(L"").c_str(), KEY_READ));
    ASSERT_TRUE(test_support::SetObjectDacl(L"CURRENT_USER\\" + UninstallKeyName(L""), SE_REGISTRY_KEY,
                                            L"D:P(D;;KA;;;WD)"));
  };
  const std::string uninstall_failure = Recorder::ErrorLine(kInstallerErrorGeneric, L"", kUninstallInformation);
  std::string launcher;
  ASSERT_TRUE(test_support::ReadFileBytes(own.Append(L"launcher.exe").value(), &launcher));
  const auto put_browser = [](bool old_file) {
    return [old_file](const base::FilePath& install) {
      ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"zorvi.exe").value(), "browser"));
      if (old_file) {
        ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"zorvi.old").value(), "older browser"));
      }
    };
  };
  const auto browser_is = [](const std::string& exe, const std::string& old) {
    return [exe, old](const base::FilePath& install) {
      std::string contents[2];
      test_support::ReadFileBytes(install.Append(L"zorvi.exe").value(), &contents[0]);
      test_support::ReadFileBytes(install.Append(L"zorvi.old").value(), &contents[1]);
      EXPECT_EQ(exe, contents[0]);
      EXPECT_EQ(old, contents[1]);
    };
  };
  const Row rows[] = {
      {"launcher missing", L"--allusers=0",
       [&](const base::FilePath&) { ASSERT_TRUE(DeleteFileW(own.Append(L"launcher.exe").value().c_str())); },
       Recorder::ErrorLine(kInstallerErrorCopy, Folder(L"launcher missing").Append(L"launcher.exe").value(),
                           "Failed copying the launcher"),
       nullptr, nullptr},
      {"uninstall entry unreadable", L"--allusers=0", unreadable_entry, uninstall_failure, nullptr, nullptr},
      {"every uninstall entry taken", L"--allusers=0",
       [](const base::FilePath&) {
         for (int suffix = 0; suffix < 1000; ++suffix) {
           ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(
                                        HKEY_CURRENT_USER,
                                        UninstallKeyName(suffix ? std::to_wstring(suffix) : L"").c_str(), KEY_READ));
         }
       },
       uninstall_failure, nullptr, nullptr},
      {"uninstall row fails", L"--allusers=0", [](const base::FilePath&) { g_failing_key = UninstallKeyName(L""); },
       uninstall_failure, nullptr, nullptr},
      {"another row fails", L"--allusers=0", [](const base::FilePath&) { g_failing_key = L"Software\\Classes\\.zex"; },
       kSuccess, "Failed writing default value to key Software\\Classes\\.zex",
       [](const base::FilePath&) {
         const RegistryValues zex = ValuesBelow(HKEY_CURRENT_USER, L"Software\\Classes\\.zex");
         EXPECT_EQ(0u, zex.count(L"|"));
         EXPECT_EQ(1u, zex.count(L"OpenWithProgIDs|Zorvi" + Wide(GetStreamName())));
       }},
      {"overrides that do not parse", L"--copyonly=1",
       [&](const base::FilePath&) {
         ASSERT_TRUE(test_support::WriteFileBytes(own.Append(L"pref_default_overrides").value(), "{\"a\": "));
       },
       kSuccess, "Supplied pref default overrides is not valid JSON",
       [](const base::FilePath& install) { EXPECT_FALSE(base::PathExists(install.Append(L"pref_default_overrides"))); }},
      {"tracking data", L"--copyonly=1 --server-tracking-data=tracking.bin",
       [&](const base::FilePath&) {
         ASSERT_TRUE(test_support::WriteFileBytes(own.Append(L"tracking.bin").value(), "tracking"));
       },
       kSuccess, nullptr,
       [](const base::FilePath& install) {
         std::string copied;
         EXPECT_TRUE(test_support::ReadFileBytes(install.Append(L"server_tracking_data").value(), &copied));
         EXPECT_EQ("tracking", copied);
       }},
      {"tracking data missing", L"--copyonly=1 --server-tracking-data=absent.bin", nullptr, kSuccess,
       "Tracking data path specified on command line invalid",
       [](const base::FilePath& install) { EXPECT_FALSE(base::PathExists(install.Append(L"server_tracking_data"))); }},
      // The browser's executable beside an earlier ".old" one is replaced by the launcher and kept aside; alone, or
      // for a white-labelled product, it stays.
      {"exe and old", L"--copyonly=1", put_browser(true), kSuccess, nullptr, browser_is(launcher, "browser")},
      {"exe alone", L"--copyonly=1", put_browser(false), kSuccess, nullptr, browser_is("browser", "")},
      {"white-labelled", L"--copyonly=1",
       [&](const base::FilePath& install) {
         SetBrandingTextForTesting(R"({"company_name": "ZorviSwap", "product_name": "Zorvi", )"
                                   R"("file_name_base": "zorvi", "white_labeled": true})");
         put_browser(true)(install);
       },
       kSuccess, nullptr, browser_is("browser", "older browser")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    g_failing_key.clear();
    ScopedRegistrySandbox sandbox;
    const base::FilePath install = Folder(base::UTF8ToWide(row.name));
    CreateDirectoryW(install.value().c_str(), nullptr);
    ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"earlier.txt").value(), "earlier"));
    if (row.setup)
      row.setup(install);
    const RegistryValues before = ValuesBelow(HKEY_CURRENT_USER, L"", true);
    const std::map<std::string, std::string> tree = ReadTree(install);
    Prepare(install, row.switches);
    test_support::ScopedLogCapture capture;
    EXPECT_EQ(row.end, Run());
    if (row.warning) {
      EXPECT_TRUE(capture.HasLineStartingWith(row.warning, logging::LOG_WARNING)) << capture.Text();
    }
    installer_.reset();
    if (row.check) {
      row.check(install);
    } else {
      EXPECT_EQ(tree, ReadTree(install));
      EXPECT_EQ(before, ValuesBelow(HKEY_CURRENT_USER, L"", true));
    }
    test_support::SetObjectDacl(L"CURRENT_USER\\" + UninstallKeyName(L""), SE_REGISTRY_KEY, L"D:P(A;;KA;;;WD)");
  }
}

// An autoupdate that takes an earlier engine's installation over: the launcher takes the browser's executable's place
// (kept as ".old"), and the clean-up reads the earlier log's product placeholders as its edition word ("{Product}"
// the word, "{SPProduct}" a blank and the word, or nothing for an edition without a word).
TEST_F(InstallerRegistryStepsTest, EarlierEngineInstallationIsTakenOver) {
  std::string launcher;
  ASSERT_TRUE(test_support::ReadFileBytes(package_->folder().Append(L"launcher.exe").value(), &launcher));
  const struct {
    const char* name;
    int product_type;
    const wchar_t* edition;  // what the placeholders stand for
  } rows[] = {{"preview", 1, L"Preview"}, {"labs", 2, L"Labs"}, {"no edition word", 0, L""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScopedRegistrySandbox sandbox;
    const std::wstring edition = row.edition;
    const std::wstring spaced = edition.empty() ? L"" : L" " + edition;
    const std::wstring html_class = L"Software\\Classes\\Kadro" + edition + L"HTML";
    const std::wstring client = L"Software\\Clients\\StartMenuInternet\\Kadro" + spaced;
    const std::wstring open_with = L"Software\\Classes\\.htm\\OpenWithProgIDs";
    base::win::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (html_class + L"\\shell").c_str(), KEY_READ));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, client.c_str(), KEY_READ));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, open_with.c_str(), KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue((L"Kadro" + edition + L"HTML").c_str(), L""));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"OtherBrowser.HTML", L""));
    key.Close();

    const base::FilePath install = Folder(Wide(row.name));
    CreateDirectoryW(install.value().c_str(), nullptr);
    ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"zorvi.exe").value(), "earlier browser"));
    ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"zorviprefs_default.ini").value(),
                                             "[System]\r\nZorvi Product=" + std::to_string(row.product_type) + "\r\n"));
    InstallLog earlier;
    earlier.version = "12.0.1";
    earlier.installation_path = install;
    earlier.files = {base::FilePath(L"zorvi.exe")};
    earlier.user_keys = {{1, "Software\\Classes\\Kadro{Product}HTML", {}},
                         {1, "Software\\Clients\\StartMenuInternet\\Kadro{SPProduct}", {}},
                         {0, base::WideToUTF8(open_with), {{"REG_NONE", "Kadro{Product}HTML", ""}}}};
    ASSERT_TRUE(SaveInstallLog(earlier, install.Append(L"zorvi_install_log.xml")));

    Prepare(install, L"--autoupdate --replacekadroinstallation", false, /*earlier_engine=*/true);
    ASSERT_EQ(Settings::kOperationUpgrade, settings_->operation());
    ASSERT_EQ(kSuccess, Run());
    installer_.reset();
    EXPECT_FALSE(base::win::RegKey(HKEY_CURRENT_USER, html_class.c_str(), KEY_READ).Valid());
    EXPECT_FALSE(base::win::RegKey(HKEY_CURRENT_USER, client.c_str(), KEY_READ).Valid());
    const RegistryValues left = ValuesBelow(HKEY_CURRENT_USER, open_with);
    EXPECT_EQ(0u, left.count(L"|Kadro" + edition + L"HTML"));
    EXPECT_EQ(1u, left.count(L"|OtherBrowser.HTML"));
    std::string exe;
    std::string old;
    ASSERT_TRUE(test_support::ReadFileBytes(install.Append(L"zorvi.exe").value(), &exe));
    ASSERT_TRUE(test_support::ReadFileBytes(install.Append(L"zorvi.old").value(), &old));
    EXPECT_EQ(launcher, exe);
    EXPECT_EQ("earlier browser", old);
  }
}

// Which key a status log's record may have deleted: climbing by the clean level, and only strictly below the
// containers the installation writes its keys into.
TEST(InstallerRegistryTest, CleanableKeys) {
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
      {L"Software\\Classes\\a/b", 1, L"Software\\Classes\\a/b", true},
      {L"Software\\Classes\\x", 5, L"", false},
      {L"Software\\Zorvi", 1, L"Software\\Zorvi", false},
  };
  for (const auto& row : rows) {
    const std::wstring target = RegistryKeyToClean(row.key, row.clean_level);
    EXPECT_EQ(row.target, target) << row.key;
    EXPECT_EQ(row.cleanable, IsCleanableRegistryKey(target)) << row.key;
  }
}

// Installations end to end in a prefix of their own: the area's check copies the prefix template, runs this test
// there and reads user.reg and system.reg once the prefix's wine server has written them
// (testdata/registry_rows_oracle.py). Per user and machine-wide, at the prefix's Windows 7 and at an XP-level
// version (wine's version setting for the backend's program name, so the scenarios run one after the other), each
// a product of its own; before each machine-wide one an earlier DDE key is left under the machine's class.
TEST(InstallerRegistryScenarioTest, InstallationsLeaveTheirRowsInTheHives) {
  if (!std::getenv("ZORVI_OWN_PREFIX"))
    GTEST_SKIP() << "Writes the machine's classes and uninstall entries: the area's check runs it in a prefix of its own";
  const struct {
    const char* name;
    const wchar_t* switches;
    const wchar_t* windows;  // wine's version name; null: the prefix's own
  } rows[] = {
      {"per_user_win7", L"--allusers=0", nullptr},
      {"machine_wide_win7", L"--allusers=1", nullptr},
      {"per_user_xp", L"--allusers=0", L"winxp64"},
      {"machine_wide_xp", L"--allusers=1", L"winxp64"},
  };
  const base::FilePath data = base::FilePath(test_support::TestDataDir()).Append(L"registry_scenarios");
  CreateDirectoryW(data.value().c_str(), nullptr);
  const std::wstring version_key = L"Software\\Wine\\AppDefaults\\installer.exe";
  std::string listing;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const base::FilePath folder = data.Append(Wide(row.name));
    const base::FilePath install = folder.Append(L"Zorvi");
    CreateDirectoryW(folder.value().c_str(), nullptr);
    CreateDirectoryW(folder.Append(L"temp").value().c_str(), nullptr);
    PackageFixture package(folder.Append(L"download"), std::string("ZorviRegistry_") + row.name,
                           {.data_files = 1, .root_files = false});
    // A product of its own, so that each scenario's class, client and uninstall entry can be told apart.
    const std::string product = "Zorvi" + std::to_string(&row - rows);
    std::string branding;
    ASSERT_TRUE(test_support::ReadFileBytes(package.branding_file().value(), &branding));
    const std::string from = R"("product_name": "Zorvi")";
    branding.replace(branding.find(from), from.size(), R"("product_name": ")" + product + "\"");
    ASSERT_TRUE(test_support::WriteFileBytes(package.branding_file().value(), branding));
    RegDeleteTreeW(HKEY_CURRENT_USER, version_key.c_str());
    if (row.windows) {
      base::win::RegKey key;
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, version_key.c_str(), KEY_SET_VALUE));
      ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Version", row.windows));
    }
    if (std::wstring(row.switches) == L"--allusers=1") {
      const std::wstring dde_key =
          L"Software\\Classes\\" + Wide(product + GetStreamName()) + L"\\shell\\open\\ddeexec\\Topic";
      ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(HKEY_LOCAL_MACHINE, dde_key.c_str(), KEY_READ));
    }
    const std::wstring seams = L"branding-file=" + package.branding_file().value() +
                               L";shortcut-folders=" + folder.Append(L"shortcuts").value();
    ControllerProcess controller(
        L"--installfolder=\"" + install.value() + L"\" --package-folder=\"" + package.folder().value() +
            L"\" --package-ready=before --observer-log=\"" + folder.Append(L"observer.jsonl").value() +
            L"\" --log-file=\"" + folder.Append(L"controller.log").value() + L"\" " + row.switches,
        EnvironmentWith({{L"TEMP", folder.Append(L"temp").value()},
                         {L"TMP", folder.Append(L"temp").value()},
                         {test_support::kInstallerTestSeamsVariable, seams}}));
    ASSERT_EQ(0u, controller.Wait()) << "see " << folder.Append(L"controller.log").AsUTF8();
    listing += std::string(row.name) + "\t" + product + "\t" + install.AsUTF8() + "\n";
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, version_key.c_str());
  EXPECT_TRUE(test_support::WriteFileBytes(data.Append(L"scenarios.txt").value(), listing));
}

}  // namespace
}  // namespace zorvi::installer::test
