#include "desktop/launcher/installer/settings.h"

#include <windows.h>

#include <winioctl.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/json/json_writer.h"
#include "base/run_loop.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/worker_pool.h"
#include "base/values.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/settings_test_util.h"
#include "desktop/launcher/installer/status.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

// Long enough that only a hang reaches it.
constexpr DWORD kHangBoundMs = 90000;

// The process command line holds the given switches (and the test program) while alive.
class ScopedProcessSwitches {
 public:
  explicit ScopedProcessSwitches(const std::wstring& switches) {
    saved_ = *base::CommandLine::ForCurrentProcess();
    base::CommandLine replacement(saved_.GetProgram());
    replacement.ParseCommandLineString(L"\"" + saved_.GetProgram().value() + L"\" " + switches);
    *base::CommandLine::ForCurrentProcess() = replacement;
  }
  ~ScopedProcessSwitches() { *base::CommandLine::ForCurrentProcess() = saved_; }

 private:
  base::CommandLine saved_;
};

// Counts the notifications of one Settings and lets the test wait for the next OnPathChanged (a hang meets the
// test's time limit, which reports every thread's stack).
class SettingsWatcher : public Settings::Observer {
 public:
  explicit SettingsWatcher(Settings* settings) : settings_(settings) { settings_->AddObserver(this); }
  ~SettingsWatcher() override { settings_->RemoveObserver(this); }

  void OnSettingsChanged() override { ++settings_changed; }
  void OnLanguageChanged() override { ++language_changed; }
  void OnPathChanged() override {
    ++path_changed;
    if (run_loop_)
      run_loop_->Quit();
  }

  void WaitForPathChanged() {
    base::RunLoop run_loop;
    run_loop_ = &run_loop;
    run_loop.Run();
    run_loop_ = nullptr;
  }

  Settings* settings() const { return settings_; }

  int settings_changed = 0;
  int language_changed = 0;
  int path_changed = 0;

 private:
  Settings* const settings_;
  base::RunLoop* run_loop_ = nullptr;
};

// Holds the next status fetch on its worker thread until released: the system pool's queueing is replaced
// while the object lives, and the first work item queued meanwhile waits for an event.
class HeldFetch {
 public:
  HeldFetch() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    current_ = this;
    base::WorkerPool::SetQueueUserWorkItemFunctionForTesting(&Queue);
  }
  ~HeldFetch() {
    base::WorkerPool::SetQueueUserWorkItemFunctionForTesting(nullptr);
    SetEvent(release_.get());
    if (routine_)
      WaitForSingleObject(done_.get(), kHangBoundMs);
    current_ = nullptr;
  }

  bool holding() const { return routine_ != nullptr; }

  // Lets the held fetch run and waits until it has posted its reply.
  void Release() {
    ASSERT_TRUE(holding());
    SetEvent(release_.get());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done_.get(), kHangBoundMs));
  }

 private:
  static BOOL WINAPI Queue(LPTHREAD_START_ROUTINE routine, void* context, ULONG flags) {
    if (current_->routine_)
      return QueueUserWorkItem(routine, context, flags);
    current_->routine_ = routine;
    current_->context_ = context;
    return QueueUserWorkItem(&RunHeld, current_, flags);
  }

  static DWORD WINAPI RunHeld(void* self_pointer) {
    HeldFetch* self = static_cast<HeldFetch*>(self_pointer);
    WaitForSingleObject(self->release_.get(), kHangBoundMs);
    self->routine_(self->context_);
    SetEvent(self->done_.get());
    return 0;
  }

  static inline HeldFetch* current_ = nullptr;
  test_support::ScopedTestHandle release_;
  test_support::ScopedTestHandle done_;
  LPTHREAD_START_ROUTINE routine_ = nullptr;
  void* context_ = nullptr;
};

class SettingsTest : public test::InstallerMainThreadTest {
 protected:
  SettingsTest() : folder_(L"SettingsTest") { SetAdminTokenSeamForTesting(AdminTokenSeam::kNone); }

  // A folder to install to: not there yet, its parent is.
  base::FilePath NewFolder(const std::wstring& name) const { return base::FilePath(folder_.path()).Append(name); }

  test_support::ScopedTestFolder folder_;
};

TEST(ParseBoolSwitchTest, WordsAndLeadingNumbers) {
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"YES", true},  {L"True", true},   {L"yes", true},  {L"2", true},     {L"1", true},    {L" 7", true},
      {L"-3", true},   {L"+1x", true},    {L"12abc", true}, {L"", false},    {L"no", false},  {L"0", false},
      {L"false", false}, {L"yes please", false}, {L"abc", false}, {L"-0", false}, {L"0x10", false}, {L" ", false},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(expected, ParseBoolSwitch(value)) << "\"" << base::WideToUTF8(value) << "\"";
}

// The switches over the defaults, as the record stands once the new folder's status is in.
TEST_F(SettingsTest, SwitchesOverDefaults) {
  struct Case {
    const wchar_t* switches;
    test::Report expected;
    bool no_folder = false;  // the default folder
  };
  const Case cases[] = {
      {L"--copyonly=1 --singleprofile=0", {{"copy_only", "1"}, {"single_profile", "0"}}},
      {L"--enable-stats=0", {{"enable_zorvi_stats", "0"}, {"enable_installer_stats", "0"}}},
      {L"--enable-stats=0 --enable-installer-stats=1", {{"enable_zorvi_stats", "0"}, {"enable_installer_stats", "1"}}},
      {L"--enable-installer-stats=no", {{"enable_zorvi_stats", "1"}, {"enable_installer_stats", "0"}}},
      {L"--launchbrowser=0", {{"launch_zorvi", "0"}}},
      {L"--launchzorvi=yes --launchbrowser=0", {{"launch_zorvi", "1"}}},
      {L"--allusers=0 --setdefaultbrowser=2 --import-browser-data=false",
       {{"all_users", "0"}, {"default_browser", "1"}, {"import_browser_data", "0"}}},
      {L"--pintotaskbar=0 --quicklaunchshortcut=TRUE --desktopshortcut= --startmenushortcut=0",
       {{"pinned_shortcut", "0"}, {"quick_launch_shortcut", "1"}, {"desktop_shortcut", "0"},
        {"start_menu_shortcut", "0"}}},
      {L"--profile-folder=D:\\Profiles\\Mine", {{"profile_folder", "D:\\Profiles\\Mine"}}},
      // No switch: the defaults of this machine (wine's user is an administrator; Windows 7: pins, no quick
      // launch; a pre-release stream is nobody's default browser).
      {L"", {{"all_users", "1"}, {"copy_only", "0"}, {"launch_zorvi", "1"}, {"default_browser", "0"},
             {"quick_launch_shortcut", "0"}, {"pinned_shortcut", "1"}, {"single_profile", "0"}}},
      // No drive passes the media check under wine (its volumes open, the check fails), so the standalone default
      // is the root of drive A, which does not exist: the folder is invalid and the operation stays 0.
      {L"--copyonly=1", {{"standalone_drive", "A:\\"}, {"folder", "A:\\Zorvi nightly"}, {"operation", "0"}}, true},
  };
  if (test_support::IsRunningUnderWine()) {
    test_support::ScopedTestHandle volume(CreateFileW(L"\\\\.\\C:", FILE_READ_ATTRIBUTES,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                      nullptr));
    DWORD returned = 0;
    ASSERT_TRUE(volume.valid());
    ASSERT_FALSE(
        DeviceIoControl(volume.get(), IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0, &returned, nullptr));
  }
  for (const Case& test_case : cases) {
    SCOPED_TRACE(base::WideToUTF8(test_case.switches));
    if ((!*test_case.switches || test_case.no_folder) && !test_support::IsRunningUnderWine())
      continue;  // the defaults of another machine
    ScopedProcessSwitches switches(test_case.switches);
    Settings settings(false, false, false, test_case.no_folder ? base::FilePath() : NewFolder(L"switches"), false);
    SettingsWatcher(&settings).WaitForPathChanged();
    test::Report expected = test_case.expected;
    expected.insert({"operation", std::to_string(Settings::kOperationInstall)});
    const test::Report report = test::SettingsReport(settings);
    for (const auto& [name, value] : expected)
      EXPECT_EQ(value, report.at(name)) << name;
  }
}

// Each setter applies only where it fits the run, and tells the observers every time it applies (also without a
// change), never when it refuses; an observer that leaves during a notification is not told again.
TEST_F(SettingsTest, SettersApplyWhereTheyFit) {
  using Setter = bool (Settings::*)(bool);
  using Getter = bool (Settings::*)() const;
  struct Row {
    Setter set;
    Getter get;
    bool applies[3];  // installing, upgrading, standalone (none when uninstalling, see below)
  };
  const Row rows[] = {
      {&Settings::SetSingleProfile, &Settings::single_profile, {true, false, true}},
      {&Settings::SetAllUsers, &Settings::all_users, {true, false, false}},
      {&Settings::SetDefaultBrowser, &Settings::default_browser, {true, true, false}},
      {&Settings::SetImportBrowserData, &Settings::import_browser_data, {true, true, true}},
      {&Settings::SetEnableInstallerStats, &Settings::enable_installer_stats, {true, true, true}},
      {&Settings::SetEnableZorviStats, &Settings::enable_zorvi_stats, {true, true, true}},
      {&Settings::SetDeleteProfile, &Settings::delete_profile, {false, false, false}},
      {&Settings::SetCopyOnly, &Settings::copy_only, {true, false, true}},  // last: it changes the others
  };
  const std::pair<base::FilePath, const wchar_t*> runs[] = {
      {NewFolder(L"setters"), L""}, {test::TestDataFile(L"staged\\upgrade"), L""}, {NewFolder(L"setters"), L"--copyonly=1"}};
  for (int run = 0; run < 3; ++run) {
    ScopedProcessSwitches switches(runs[run].second);
    Settings settings(false, false, false, runs[run].first, false);
    SettingsWatcher watcher(&settings);
    watcher.WaitForPathChanged();
    ASSERT_NE(Settings::kOperationNone, settings.operation());
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << "run " << run << ", row " << (&row - rows));
      for (bool value : {true, true, false}) {
        const int notified = watcher.settings_changed;
        const bool before = (settings.*row.get)();
        EXPECT_EQ(row.applies[run], (settings.*row.set)(value));
        EXPECT_EQ(row.applies[run] ? value : before, (settings.*row.get)());
        EXPECT_EQ(notified + (row.applies[run] ? 1 : 0), watcher.settings_changed);
      }
    }
    if (run == 1) {
      ASSERT_EQ(Settings::kOperationUpgrade, settings.operation());
      EXPECT_FALSE(settings.SetMode(Settings::kModeAllUsers)) << "an upgrade keeps its mode";
    }
  }

  // A standalone installation is nobody's default browser and has no shortcuts or pin.
  ScopedProcessSwitches switches(L"--allusers=1 --setdefaultbrowser=1 --desktopshortcut=1");
  Settings settings(false, false, false, NewFolder(L"setters"), false);
  SettingsWatcher(&settings).WaitForPathChanged();
  class Leaving : public SettingsWatcher {
   public:
    using SettingsWatcher::SettingsWatcher;
    void OnSettingsChanged() override {
      ++settings_changed;
      settings()->RemoveObserver(this);
    }
  } leaving(&settings);
  SettingsWatcher staying(&settings);
  ASSERT_TRUE(settings.SetCopyOnly(true));
  const test::Report report = test::SettingsReport(settings);
  for (const char* cleared : {"all_users", "default_browser", "desktop_shortcut", "start_menu_shortcut",
                              "quick_launch_shortcut", "pinned_shortcut"}) {
    EXPECT_EQ("0", report.at(cleared)) << cleared;
  }
  ASSERT_TRUE(settings.SetImportBrowserData(false));
  EXPECT_EQ(1, leaving.settings_changed);
  EXPECT_EQ(2, staying.settings_changed);

  // Not editable (the installation started): every change is refused without a word to the observers.
  settings.set_editable(false);
  for (const Row& row : rows)
    EXPECT_FALSE((settings.*row.set)(true));
  EXPECT_FALSE(settings.SetMode(Settings::kModeAllUsers));
  EXPECT_FALSE(settings.SetInstallFolder(NewFolder(L"other").value()));
  EXPECT_FALSE(settings.SetInstallLanguage(L"de"));
  EXPECT_EQ(2, staying.settings_changed);
  EXPECT_EQ(0, staying.language_changed + staying.path_changed);
  EXPECT_EQ(nullptr, settings.status_fetcher());

  // Only an uninstallation may delete the profile too.
  Settings uninstall(true, false, false, base::FilePath(), false);
  SettingsWatcher uninstall_watcher(&uninstall);
  uninstall_watcher.WaitForPathChanged();
  EXPECT_TRUE(uninstall.SetDeleteProfile(true));
  EXPECT_TRUE(uninstall.delete_profile());
}

// Mode 2 makes a standalone installation with a single profile, unless the command line chose the profile kind;
// modes 0 and 1 leave standalone for all users or the current user (an upgrade's is in the setters' test), with
// the default browser and shortcuts that a run made in another mode under the switches without "--copyonly" has.
TEST_F(SettingsTest, SetMode) {
  struct Step {
    int mode;
    bool applied;
    const char* copy_only;
    const char* all_users;
    const char* single_profile;
    bool choices_back = false;  // the default browser and shortcuts are the other mode's
  };
  const std::pair<std::wstring, std::vector<Step>> cases[] = {
      {L"--singleprofile=0", {{Settings::kModeStandalone, true, "1", "0", "0"}}},
      {L"", {{Settings::kModeStandalone, true, "1", "0", "1"}, {Settings::kModeAllUsers, true, "0", "1", "0", true},
             {Settings::kModeStandalone, true, "1", "0", "1"}, {Settings::kModeStandalone, true, "1", "0", "1"},
             {Settings::kModeCurrentUser, true, "0", "0", "0", true}, {3, false, "0", "0", "0", true}}},
      {L"--desktopshortcut=0 --setdefaultbrowser=1 --copyonly=1",
       {{Settings::kModeCurrentUser, true, "0", "0", "0", true}}},
  };
  for (const auto& [switches_text, steps] : cases) {
    test::Report other_mode;
    {
      ScopedProcessSwitches switches(switches_text.substr(0, switches_text.find(L"--copyonly")));
      Settings settings(false, false, false, NewFolder(L"mode"), false);
      SettingsWatcher(&settings).WaitForPathChanged();
      other_mode = test::SettingsReport(settings);
      ASSERT_EQ("0", other_mode.at("copy_only"));
    }
    ScopedProcessSwitches switches(switches_text);
    Settings settings(false, false, false, NewFolder(L"mode"), false);
    SettingsWatcher(&settings).WaitForPathChanged();
    for (const Step& step : steps) {
      SCOPED_TRACE(testing::Message() << base::WideToUTF8(switches_text) << " mode " << step.mode << " step "
                                      << (&step - steps.data()));
      EXPECT_EQ(step.applied, settings.SetMode(step.mode));
      const test::Report report = test::SettingsReport(settings);
      EXPECT_EQ(step.copy_only, report.at("copy_only"));
      EXPECT_EQ(step.all_users, report.at("all_users"));
      EXPECT_EQ(step.single_profile, report.at("single_profile"));
      for (const char* choice : {"default_browser", "desktop_shortcut", "start_menu_shortcut", "quick_launch_shortcut",
                                 "pinned_shortcut"})
        EXPECT_EQ(step.choices_back ? other_mode.at(choice) : "0", report.at(choice)) << choice;
    }
  }
}

// The status of the folder asked for last is the one taken over: a fetch overtaken by another folder, or by
// the way back to the current one, is dropped when it ends, and so is any fetch that ends after the settings
// stopped being editable.
TEST_F(SettingsTest, OnlyTheFolderAskedForLastIsTakenOver) {
  const base::FilePath first = NewFolder(L"first"), second = NewFolder(L"second"), third = NewFolder(L"third");
  Settings settings(false, false, false, first, false);
  SettingsWatcher watcher(&settings);
  watcher.WaitForPathChanged();
  ASSERT_EQ(first, settings.status().path);

  struct Case {
    const char* name;
    base::FilePath held;       // fetched first, held until the end
    base::FilePath then;       // asked for while it is held; empty: the settings stop being editable
    base::FilePath taken;      // the folder in force at the end
  };
  const Case cases[] = {
      {"two quick changes", second, third, third},
      {"back to the current folder", second, third, third},  // from `third`, which is current by now
      {"not editable", second, base::FilePath(), third},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    const int changes = watcher.path_changed;
    HeldFetch held;
    ASSERT_TRUE(settings.SetInstallFolder(test_case.held.value()));
    ASSERT_TRUE(held.holding());
    if (test_case.then.empty()) {
      settings.set_editable(false);
    } else {
      ASSERT_TRUE(settings.SetInstallFolder(test_case.then.value()));
      watcher.WaitForPathChanged();
    }
    held.Release();
    RunUntilIdle();
    EXPECT_EQ(test_case.taken, settings.status().path);
    EXPECT_EQ(changes + (test_case.then.empty() ? 0 : 1), watcher.path_changed);
    EXPECT_EQ(nullptr, settings.status_fetcher());
  }
}

// Leaving a folder whose installation the record took its choices from puts the record back to what a fresh
// one for the new folder holds, also when an invalid folder was on the way (a path typed anew passes through
// several) and when the installation was the earlier engine's, which this run installs beside.
TEST_F(SettingsTest, AnInstallationsChoicesStayWithIt) {
  const struct {
    const wchar_t* from;
    const wchar_t* via;  // an invalid folder asked for in between, or none
  } cases[] = {
      {L"staged\\upgrade", nullptr},
      {L"staged\\upgrade", L"staged\\file.txt"},
      {L"staged\\kadro", nullptr},
  };
  const base::FilePath fresh_folder = NewFolder(L"fresh");
  Settings fresh(false, false, false, fresh_folder, false);
  SettingsWatcher(&fresh).WaitForPathChanged();
  test::Report expected = test::SettingsReport(fresh);
  // The language of an installation stays the run's: the interface has been shown in it.
  expected.erase("install_language");
  expected.erase("ui_language_id");
  for (const auto& test_case : cases) {
    SCOPED_TRACE(base::WideToUTF8(test_case.from) + (test_case.via ? " via an invalid folder" : ""));
    Settings settings(false, false, false, test::TestDataFile(test_case.from), false);
    SettingsWatcher watcher(&settings);
    watcher.WaitForPathChanged();
    ASSERT_TRUE(settings.single_profile()) << "the installation's own choice";
    if (test_case.via) {
      ASSERT_TRUE(settings.SetInstallFolder(test::TestDataFile(test_case.via).value()));
      watcher.WaitForPathChanged();
      ASSERT_EQ(Settings::kOperationNone, settings.operation());
    }
    ASSERT_TRUE(settings.SetInstallFolder(fresh_folder.value()));
    watcher.WaitForPathChanged();
    const test::Report report = test::SettingsReport(settings);
    for (const auto& [name, value] : expected)
      EXPECT_EQ(value, report.at(name)) << name;
  }
}

// Defaults that follow the Windows version, in a child under wine's per-program version: quick launch before
// Windows 7, pins from 7 to 8.1, the programs folder below the local application data before Windows 7 (the
// system's user program-files folder after), and start-menu shortcuts made again from Windows 8 on.
TEST(SettingsVersionTest, DefaultsFollowTheWindowsVersion) {
  struct Case {
    const wchar_t* version;
    bool declare_windows10;
    const char* quick_launch;
    const char* pinned;
    const char* recreate_start_menu;
  };
  const Case cases[] = {{L"vista", false, "1", "0", "0"}, {L"win7", false, "0", "1", "0"},
                        {L"win8", false, "0", "1", "1"}, {L"win10", true, "0", "0", "1"}};
  const std::wstring company = L"--test-company=" + test_support::UniqueName(L"Versions");
  const std::string per_user_folder = base::WideToUTF8(test::EchoVariable(L"LOCALAPPDATA")) + "\\Programs\\Zorvi nightly";
  for (const Case& test_case : cases) {
    SCOPED_TRACE(base::WideToUTF8(test_case.version));
    std::string output, error;
    ASSERT_TRUE(test_support::RunChildUnderWindowsVersion(L"settings_test_child.exe", test_case.version,
                                                          test_case.declare_windows10,
                                                          company + L" --test-standard-user", &output, &error))
        << error;
    test::Report report = test_support::ParseNameValueLines(output);
    EXPECT_EQ(test_case.quick_launch, report["settings.quick_launch_shortcut"]);
    EXPECT_EQ(test_case.pinned, report["settings.pinned_shortcut"]);
    EXPECT_EQ(per_user_folder, report["settings.folder"]);
    ASSERT_TRUE(test_support::RunChildUnderWindowsVersion(
        L"settings_test_child.exe", test_case.version, test_case.declare_windows10,
        L"\"--test-status=" + test::TestDataFile(L"staged\\upgrade").value() + L"\"", &output, &error))
        << error;
    report = test_support::ParseNameValueLines(output);
    EXPECT_EQ(test_case.recreate_start_menu, report["status.recreate_start_menu_shortcut"]);
  }
}

// The last install folder comes from the registry: the name this installer writes ("Last <stream> Install
// Path", its value ending in a separator) before the earlier installers' " x64" names; the first name that reads
// decides, and only an existing absolute folder counts. Values are written with reg.exe.
TEST_F(SettingsTest, LastInstallFolderFromTheRegistry) {
  const base::FilePath remembered = NewFolder(L"remembered"), older = NewFolder(L"older");
  ASSERT_TRUE(base::CreateDirectory(remembered) && base::CreateDirectory(older));
  struct Case {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    std::wstring read;            // the value name logged as read
    base::FilePath folder;        // the folder taken
  };
  const Case cases[] = {
      {{{L"Last nightly Install Path", remembered.value() + L"\\"}}, L"Last nightly Install Path", remembered},
      // An earlier installer's value left from before does not hide the latest installation's.
      {{{L"Last nightly Install Path", remembered.value() + L"\\"}, {L"Last nightly Install Path x64", older.value()}},
       L"Last nightly Install Path", remembered},
      // Value names ignore letter case: the display-word name reads the same value as the " x64" one.
      {{{L"Last Nightly Install Path x64", older.value()}}, L"Last nightly Install Path x64", older},
      {{{L"Last nightly Install Path", NewFolder(L"gone").value()}, {L"Last nightly Install Path x64", older.value()}},
       L"Last nightly Install Path", base::FilePath()},
      {{{L"Last nightly Install Path", L"relative\\folder"}}, L"Last nightly Install Path", base::FilePath()},
      {{{L"Last install path", older.value()}}, L"", base::FilePath()},  // the release stream's only
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(base::WideToUTF8(test_case.values[0].first + L"=" + test_case.values[0].second));
    DWORD exit_code = 0;
    test_support::RunProcess(L"reg.exe delete " + CompanyKeyForReg() + L" /f", &exit_code);
    for (const auto& [name, data] : test_case.values) {
      // reg.exe reads a backslash before the closing quote as escaping it.
      const std::wstring quoted_data = base::EndsWith(data, L"\\", base::CompareCase::SENSITIVE) ? data + L"\\" : data;
      ASSERT_TRUE(test_support::RunProcess(L"reg.exe add " + CompanyKeyForReg() + L" /v \"" + name + L"\" /d \"" +
                                               quoted_data + L"\" /f",
                                           &exit_code));
      ASSERT_EQ(0u, exit_code);
    }
    test_support::ScopedLogCapture log;
    Settings settings(false, false, false, base::FilePath(), false);
    EXPECT_EQ(test_case.folder, settings.registry_folder());
    if (!test_case.folder.empty()) {
      EXPECT_EQ(test_case.folder, settings.GetDefaultInstallFolder(true, true));
    }
    EXPECT_EQ(!test_case.read.empty(),
              log.HasLineStartingWith("Install folder reg value: " + base::WideToUTF8(test_case.read)))
        << log.Text();
    if (!test_case.folder.empty())
      SettingsWatcher(&settings).WaitForPathChanged();
  }
  DWORD exit_code = 0;
  test_support::RunProcess(L"reg.exe delete " + CompanyKeyForReg() + L" /f", &exit_code);
}

// The settings statistics as JSON: mode and operation under the prefix, "autoupdate" without it, and, while the
// UI statistics experiment is on, the default-browser choice and whether the folder is the default one and
// one that takes privileges.
TEST_F(SettingsTest, Statistics) {
  RegisterInstallerFeatures(base::FeatureList::GetInstance());
  SetAdminTokenSeamForTesting(AdminTokenSeam::kStandardUser);
  Settings settings(false, false, true, base::FilePath(), false);
  SettingsWatcher(&settings).WaitForPathChanged();
  ASSERT_EQ(Settings::kOperationInstall, settings.operation());
  const auto stats_of = [](const Settings& settings, const std::string& prefix, bool ui_stats) {
    base::ListValue experiment;
    experiment.AppendString(ui_stats ? "installer-ui-stats@1" : "installer-ui-stats@2");
    base::FeatureList::GetInstance()->InitializeFromReader(base::ListFeatureReader(&experiment));
    StatsTreeGuard guard;
    base::DictionaryValue root;
    InstallerStats stats(&root, &guard, base::TimeTicks::Now());
    settings.WriteStats(prefix, &stats);
    std::string json;
    base::JsonWriter::Write(root, &json);
    return json;
  };
  EXPECT_EQ(R"({"autoupdate":1,"ui":{"initial_installation_mode":"current_user",)"
            R"("initial_installation_operation":"installing"}})",
            stats_of(settings, "ui.initial_", false));
  EXPECT_EQ(R"({"autoupdate":1,"installation_mode":"current_user","installation_operation":"installing",)"
            R"("make_default":0,"using_default_installation_folder":1,"using_privileged_installation_folder":0})",
            stats_of(settings, "", true));
  // For all users the default folder is another, and a standard user needs privileges for it.
  ASSERT_TRUE(settings.SetAllUsers(true));
  ASSERT_TRUE(settings.SetDefaultBrowser(true));
  EXPECT_EQ(R"({"autoupdate":1,"installation_mode":"all_users","installation_operation":"installing",)"
            R"("make_default":1,"using_default_installation_folder":0,"using_privileged_installation_folder":1})",
            stats_of(settings, "", true));
  ASSERT_TRUE(settings.SetCopyOnly(true));
  EXPECT_EQ(R"({"autoupdate":1,"installation_mode":"standalone","installation_operation":"installing"})",
            stats_of(settings, "", false));

  // An administrator under UAC (wine's token is never split): all users by default, which the elevated token
  // may do, though the installer's own token needs privileges for it.
  SetAdminTokenSeamForTesting(AdminTokenSeam::kSplitAdministrator);
  Settings split(false, false, false, base::FilePath(), false);
  SettingsWatcher(&split).WaitForPathChanged();
  EXPECT_EQ(R"({"autoupdate":0,"installation_mode":"all_users","installation_operation":"installing",)"
            R"("make_default":0,"using_default_installation_folder":1,"using_privileged_installation_folder":1})",
            stats_of(split, "", true));
  SetAdminTokenSeamForTesting(AdminTokenSeam::kNone);
}

// What the log says of the record and of the status it takes over: every field under its label.
TEST_F(SettingsTest, LogNamesEveryFieldAndStatusFact) {
  const char* const settings_labels[] = {
      "all_users_:", "copy_only_:", "default_browser_:", "desktop_shortcut_:", "enable_installer_stats_:",
      "enable_zorvi_stats_:", "import_browser_data_:", "launch_zorvi_:", "language:", "pinned_shortcut_:",
      "quick_launch_shortcut_:", "single_profile_:", "start_menu_shortcut_:"};
  const char* const status_labels[] = {
      "valid_install_path: ", "existing_installation: ", "existing_installation_traces: ", "kadro_installation: ",
      "desktop_shortcut_exists: ", "enable_stats: ", "import_browser_data: ", "is_http_handler: ", "language: ",
      "old_product_type: ", "pinned_shortcut_path: ", "profile_path: ", "quick_launch_shortcut_exists: ",
      "temporary_shortcut_folder: ", "temporary_shortcut_folder_exists: ", "tracking_data: ",
      "recreate_desktop_shortcut: ", "recreate_pinned_shortcut: ", "recreate_quick_launch_shortcut: ",
      "recreate_start_menu_shortcut: ", "single_profile: ", "start_menu_shortcut_exists: ", "welcome_url: "};
  {
    test_support::ScopedLogCapture log;
    Settings settings(false, false, false, test::TestDataFile(L"staged\\prefs_yes"), false);
    SettingsWatcher(&settings).WaitForPathChanged();
    for (const char* label : settings_labels)
      EXPECT_TRUE(log.HasLineStartingWith(label)) << label;
    for (const char* label : status_labels)
      EXPECT_TRUE(log.HasLineStartingWith(label)) << label;
    EXPECT_TRUE(log.HasLineStartingWith("tracking_data: partner=zorvi-test&campaign=42"));
    EXPECT_TRUE(log.HasLineStartingWith("Using settings from existing installation"));
    EXPECT_TRUE(log.HasLineStartingWith("Operation: 2"));
  }
  // A folder still to be made: only its parent and the write access are known.
  test_support::ScopedLogCapture log;
  Settings settings(false, false, false, NewFolder(L"new"), false);
  SettingsWatcher(&settings).WaitForPathChanged();
  EXPECT_TRUE(log.HasLineStartingWith("valid_parent folder: " + base::WideToUTF8(folder_.path())));
  EXPECT_TRUE(log.HasLineStartingWith("has_write_access: "));
  EXPECT_FALSE(log.HasLineStartingWith("valid_install_path: "));
  EXPECT_TRUE(log.HasLineStartingWith("Operation: 1"));
}

// The record survives the trip through the backend's command line: a parent process builds it from a row's
// switches as the installer's entry does and prints it with the switches ToCommandLine(false) writes; a child
// started with those switches prints the same record.
struct RoundTrip {
  const char* name;
  const wchar_t* test_switches;  // given to both processes
  const wchar_t* switches;       // the parent's own; {staged} and {temp} stand for those folders
  test::Report expected;         // parts of the parent's record; {LOCALAPPDATA} and {ProgramFiles} are expanded
  std::vector<std::string> backend_has = {};
  std::vector<std::string> backend_lacks = {};
  bool run_in_installation = false;  // both processes run from a copy placed in an installation (uninstalling)
};

void PrintTo(const RoundTrip& row, std::ostream* out) {
  *out << row.name;
}

class SettingsRoundTripTest : public testing::TestWithParam<RoundTrip> {};

std::wstring Expand(std::wstring text, const std::map<std::wstring, std::wstring>& values) {
  for (const auto& [name, value] : values) {
    for (size_t at = text.find(name); at != std::wstring::npos; at = text.find(name, at + value.size()))
      text.replace(at, name.size(), value);
  }
  return text;
}

test::Report RunSettingsChild(const base::FilePath& child, const std::wstring& arguments) {
  test::Report report;
  std::string error;
  EXPECT_TRUE(test::RunReportingChild(L"\"" + child.value() + L"\" " + arguments, &report, &error)) << error;
  return report;
}

TEST_P(SettingsRoundTripTest, BackendRebuildsTheSameRecord) {
  const RoundTrip& row = GetParam();
  test_support::ScopedTestFolder temp(L"RoundTrip");
  base::FilePath child = test::TestProgram(L"settings_test_child.exe");
  const base::FilePath installation = base::FilePath(temp.path()).Append(L"installation");
  if (row.run_in_installation) {
    ASSERT_TRUE(base::CopyDirectory(test::TestDataFile(L"staged\\upgrade"), installation, true));
    const base::FilePath copy = installation.Append(L"settings_test_child.exe");
    ASSERT_TRUE(base::CopyFile(child, copy));
    child = copy;
  }
  const std::map<std::wstring, std::wstring> places = {
      {L"{staged}", test::TestDataFile(L"staged").value()},
      {L"{temp}", temp.path()},
      {L"{installation}", installation.value()},
      {L"{LOCALAPPDATA}", test::EchoVariable(L"LOCALAPPDATA")},
      {L"{ProgramFiles}", test::EchoVariable(L"ProgramFiles")},
  };
  const std::wstring test_switches =
      L"--test-company=" + test_support::UniqueName(L"RoundTrip") + L" " + row.test_switches + L" ";

  const test::Report parent = RunSettingsChild(child, test_switches + Expand(row.switches, places));
  const test::Report backend = RunSettingsChild(child, test_switches + base::UTF8ToWide(parent.at("backend_arguments")));
  size_t compared = 0;
  for (const auto& [name, value] : parent) {
    if (name.rfind("settings.", 0) != 0)
      continue;
    ++compared;
    EXPECT_EQ(value, backend.count(name) ? backend.at(name) : "(missing)") << name;
  }
  EXPECT_GE(compared, 25u);
  for (const auto& [name, value] : row.expected)
    EXPECT_EQ(base::WideToUTF8(Expand(base::UTF8ToWide(value), places)), parent.at("settings." + name)) << name;

  const std::string arguments = " " + parent.at("backend_arguments") + " ";
  for (const std::string& present : row.backend_has)
    EXPECT_NE(std::string::npos, arguments.find(" --" + present)) << present << " in" << arguments;
  for (const std::string& absent : row.backend_lacks)
    EXPECT_EQ(std::string::npos, arguments.find(" --" + absent)) << absent << " in" << arguments;
  const std::string forced = parent.at("forced_arguments");
  if (parent.at("settings.operation") == "1" || parent.at("settings.operation") == "2") {
    EXPECT_NE(std::string::npos, forced.find("--launchzorvi=0")) << forced;
  }
  std::printf("%s: first OnPathChanged after %s ms (parent), %s ms (backend)\n", row.name,
              parent.at("time.first_path_changed_ms").c_str(), backend.at("time.first_path_changed_ms").c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, SettingsRoundTripTest,
    testing::Values(
        // The user's own programs folder for a standard user (wine names no user program-files folder).
        RoundTrip{"per_user", L"--test-standard-user", L"",
                  {{"operation", "1"}, {"all_users", "0"}, {"folder", "{LOCALAPPDATA}\\Programs\\Zorvi nightly"}},
                  {"allusers=0", "singleprofile=0", "copyonly=0", "profile-folder"}},
        RoundTrip{"all_users", L"--test-standard-user", L"--allusers=1",
                  {{"operation", "1"}, {"all_users", "1"}, {"folder", "{ProgramFiles}\\Zorvi nightly"}},
                  {"allusers=1"}},
        RoundTrip{"copy_only", L"", L"--copyonly=1 --allusers=1 --installfolder={temp}\\portable",
                  {{"copy_only", "1"}, {"all_users", "0"}, {"single_profile", "1"}, {"desktop_shortcut", "0"}},
                  {"copyonly=1"},
                  {"allusers", "setdefaultbrowser", "desktopshortcut", "pintotaskbar"}},
        // An upgrade takes mode and profile kind from the installation, and its saved choices.
        RoundTrip{"upgrade", L"", L"--silent --installfolder={staged}\\upgrade",
                  {{"operation", "2"}, {"silent", "1"}, {"single_profile", "1"}, {"import_browser_data", "0"},
                   {"enable_zorvi_stats", "0"}, {"install_language", "nb"}, {"ui_language_id", "0x0414"}},
                  {"silent", "install", "installfolder="},
                  {"singleprofile", "copyonly", "allusers"}},
        RoundTrip{"uninstall", L"", L"--uninstall --deleteuserprofile=yes",
                  {{"operation", "3"}, {"delete_profile", "1"}, {"folder", "{installation}"}},
                  {"uninstall", "deleteuserprofile=1"},
                  {"install ", "installfolder"},
                  true},
        RoundTrip{"language", L"", L"--language=pt --installfolder={temp}\\language",
                  {{"install_language", "pt-PT"}, {"ui_language_id", "0x0816"}},
                  {"language=pt-PT"}},
        RoundTrip{"empty_profile_folder", L"", L"--profile-folder= --installfolder={temp}\\profile",
                  {{"profile_folder", ""}},
                  {"profile-folder "}},
        RoundTrip{"features", L"",
                  L"--with-feature:installer-ui-stats=off --with-feature:installer-experiment-test "
                  L"--installfolder={temp}\\features",
                  {{"feature.installer-ui-stats", "0"}, {"feature.installer-experiment-test", "1"}},
                  {"with-feature:installer-ui-stats=off", "with-feature:installer-experiment-test=on"},
                  {"with-feature:installer-pref-default-overrides-support"}},
        RoundTrip{"non_ascii_folder", L"",
                  L"\"--installfolder={temp}\\Mein \u00d6rdner \u65e5\u672c\" \"--profile-folder={temp}\\Pro file\"",
                  {{"folder", "{temp}\\Mein \u00d6rdner \u65e5\u672c"}, {"profile_folder", "{temp}\\Pro file"}}},
        // A standalone installation of the earlier engine, taken over by an autoupdate: the backend must be
        // told to take it over as well.
        RoundTrip{"kadro_standalone", L"",
                  L"--replacekadroinstallation --autoupdate --installfolder={staged}\\kadro_portable",
                  {{"operation", "2"}, {"copy_only", "1"}, {"replace_kadro_installation", "1"}, {"autoupdate", "1"}},
                  {"replacekadroinstallation", "autoupdate"}}),
    [](const testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorvi::installer
