// The launcher and registry steps' outcomes that only a run in this process can stage (a failing operation, an
// uninstall entry that cannot be read, an earlier engine's installation), each run inside a registry sandbox of its
// own (ScopedRegistrySandbox), since the installation's keys are the same for every test; and which keys a status
// log may have deleted. The rows whole installations write, record and remove are proven end to end by
// installer_scenario_unittest.cc, checked from the registry files.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
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

// The keys an earlier engine's edition (its word, or none) named its browser class and client with.
std::wstring ClassKey(const std::wstring& edition) {
  return L"Software\\Classes\\Kadro" + edition + L"HTML";
}
std::wstring ClientKey(const std::wstring& edition) {
  return L"Software\\Clients\\StartMenuInternet\\Kadro" + (edition.empty() ? L"" : L" " + edition);
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

  // A fresh Installer and settings for `install` with `switches`, reporting to a fresh recorder; an autoupdate
  // that replaces an earlier engine's installation takes that installation over.
  void Prepare(const base::FilePath& install, const std::wstring& switches) {
    const bool earlier_engine = switches.find(L"--replacekadroinstallation") != std::wstring::npos;
    installer_.reset();
    settings_.reset();
    recorder_ = std::make_unique<Recorder>();
    base::CommandLine::ForCurrentProcess()->ParseCommandLineString(
        L"installer.exe --installfolder=\"" + install.value() + L"\" " + switches);
    interrupted_.reset(CreateEventW(
        nullptr, TRUE, FALSE,
        GetInstallerKernelObjectName(install.value(), L"ZorviInstaller/InstallationInterrupted", true).c_str()));
    settings_ = std::make_unique<Settings>(false, false, earlier_engine, install, earlier_engine);
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
  test_support::ScopedTestHandle interrupted_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<Installer> installer_;
};

// Bad input and refusals: the launcher missing from the package and an uninstall entry that cannot be written or
// placed end the run with its code and roll everything back; a failing row of another kind, default-preference
// overrides that do not parse and tracking data that is not there are skipped with a warning. And where the
// launcher takes the browser's executable's place, also in an autoupdate that takes an earlier engine's
// installation over, whose clean-up reads the earlier log's product placeholders as its edition word ("{Product}"
// the word, "{SPProduct}" a blank and the word, or nothing for an edition without a word).
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
  const std::wstring open_with = L"Software\\Classes\\.htm\\OpenWithProgIDs";
  // An earlier engine's installation of an edition, with its keys and a foreign value beside one of them.
  const auto earlier_engine = [&](int product_type, const std::wstring& edition) {
    return [&, product_type, edition](const base::FilePath& install) {
      base::win::RegKey key;
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (ClassKey(edition) + L"\\shell").c_str(), KEY_READ));
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, ClientKey(edition).c_str(), KEY_READ));
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, open_with.c_str(), KEY_SET_VALUE));
      ASSERT_EQ(ERROR_SUCCESS, key.WriteValue((L"Kadro" + edition + L"HTML").c_str(), L""));
      ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"OtherBrowser.HTML", L""));
      ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"zorvi.exe").value(), "browser"));
      ASSERT_TRUE(test_support::WriteFileBytes(install.Append(L"zorviprefs_default.ini").value(),
                                               "[System]\r\nZorvi Product=" + std::to_string(product_type) + "\r\n"));
      InstallLog earlier;
      earlier.version = "12.0.1";
      earlier.installation_path = install;
      earlier.files = {base::FilePath(L"zorvi.exe")};
      earlier.user_keys = {{1, "Software\\Classes\\Kadro{Product}HTML", {}},
                           {1, "Software\\Clients\\StartMenuInternet\\Kadro{SPProduct}", {}},
                           {0, base::WideToUTF8(open_with), {{"REG_NONE", "Kadro{Product}HTML", ""}}}};
      ASSERT_TRUE(SaveInstallLog(earlier, install.Append(L"zorvi_install_log.xml")));
    };
  };
  const auto taken_over = [&](const std::wstring& edition) {
    return [&, edition](const base::FilePath& install) {
      const RegistryValues left = ValuesBelow(HKEY_CURRENT_USER, L"", true);
      EXPECT_EQ(0u, left.count(ClassKey(edition) + L"\\"));
      EXPECT_EQ(0u, left.count(ClientKey(edition) + L"\\"));
      EXPECT_EQ(0u, left.count(open_with + L"|Kadro" + edition + L"HTML"));
      EXPECT_EQ(1u, left.count(open_with + L"|OtherBrowser.HTML"));
      browser_is(launcher, "browser")(install);
    };
  };
  const std::wstring takeover = L"--autoupdate --replacekadroinstallation";
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
         EXPECT_EQ(1u, zex.count(L"OpenWithProgIDs|Zorvi" + base::UTF8ToWide(GetStreamName())));
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
      {"earlier engine preview", takeover, earlier_engine(1, L"Preview"), kSuccess, nullptr, taken_over(L"Preview")},
      {"earlier engine labs", takeover, earlier_engine(2, L"Labs"), kSuccess, nullptr, taken_over(L"Labs")},
      {"earlier engine, no edition word", takeover, earlier_engine(0, L""), kSuccess, nullptr, taken_over(L"")},
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

}  // namespace
}  // namespace zorvi::installer::test
