// Installations end to end: the headless controller runs an InstallerRunner whose backend is the package's own
// installer.exe with the test build of the library (installer_package_test_util.h). The test seams of every
// process come from the environment; each scenario has a product (and so registry key) and folders of its own
// and runs beside the others. The folders stay in the test data folder, where testdata_check.sh compares them
// with sha256sum and find: an installed scenario holds the package's files, a failed one the tree it had before.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/launcher/installer/install_log.h"
#include "desktop/launcher/installer/install_log_test_util.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_observer.h"
#include "desktop/launcher/installer/installer_package_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/product_info.h"
#include "testing/installer_observer_recorder.h"
#include "testing/installer_test_seams_from_environment.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {
namespace {

using Recorder = test_support::InstallerObserverRecorder;
using Lines = std::vector<std::string>;

// Headless controller exit codes.
constexpr DWORD kControllerSucceeded = 0;
constexpr DWORD kControllerFailed = 1;
constexpr DWORD kControllerDied = 3;

const std::string kStep = Recorder::SimpleLine("OnStep");

void CopyTree(const base::FilePath& from, const base::FilePath& to) {
  CreateDirectoryW(to.value().c_str(), nullptr);
  for (const auto& [relative, digest] : ReadTree(from)) {
    const std::wstring name = base::UTF8ToWide(relative);
    if (relative.back() == '\\')
      CreateDirectoryW(to.Append(name).value().c_str(), nullptr);
    else
      EXPECT_TRUE(CopyFileW(from.Append(name).value().c_str(), to.Append(name).value().c_str(), FALSE));
  }
}

// Whether the machine's policy keeps UAC on (EnableLUA absent or not 0), so that a user who is no administrator
// can still elevate. Off in the prefix template.
bool MachineKeepsUacOn() {
  base::win::RegKey policies;
  DWORD enable_lua = 1;
  return policies.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                       KEY_READ) != ERROR_SUCCESS ||
         policies.ReadValueDW(L"EnableLUA", &enable_lua) != ERROR_SUCCESS || enable_lua != 0;
}

// A name no other scenario of the run has (scenarios of one test run side by side).
std::wstring ScenarioName(const std::wstring& kind) {
  static int count = 0;
  return kind + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++count);
}

// One installation: its folder under the test data folder with the package ("download"), the install folder
// ("Zorvi", holding an earlier root file), the processes' temporary folder, and the controller's records.
class Scenario {
 public:
  Scenario(const std::wstring& name, const PackageOptions& options, const std::wstring& install_name = L"Zorvi")
      : root_(base::FilePath(test_support::TestDataDir()).Append(L"scenarios").Append(ScenarioName(name))),
        install_(root_.Append(install_name)) {
    CreateDirectoryW(root_.DirName().value().c_str(), nullptr);
    CreateDirectoryW(root_.value().c_str(), nullptr);
    CreateDirectoryW(root_.Append(L"temp").value().c_str(), nullptr);
    company_ = "ZorviScenario_" + base::WideToUTF8(root_.BaseName().value());
    package_ = std::make_unique<PackageFixture>(root_.Append(L"download"), company_, options);
    CreateDirectoryW(install_.value().c_str(), nullptr);
    EXPECT_TRUE(test_support::WriteFileBytes(install_.Append(L"root notes.txt").value(), "earlier notes"));
    EXPECT_TRUE(test_support::WriteFileBytes(root_.Append(L"company").value(), company_));
  }

  // Starts the controller with the scenario's temporary folder and test seams, which its backend inherits. With
  // `own_folder` the controller stands in that folder's installer, which is also its package; the package is ready
  // before the run unless `readiness` says otherwise.
  void Start(const std::wstring& switches, const std::wstring& extra_seams = L"",
             const base::FilePath& own_folder = base::FilePath(),
             const std::wstring& readiness = L"--package-ready=before") {
    before_ = ReadTree(install_);
    CopyTree(install_, root_.Append(L"before"));
    test_support::RemoveTree(root_.Append(L"shortcuts_before").value());
    CopyTree(shortcuts(), root_.Append(L"shortcuts_before"));
    // The records are this run's alone.
    DeleteFileW(root_.Append(L"observer.jsonl").value().c_str());
    std::wstring seams = L"branding-file=" + package_->branding_file().value() +
                         L";task-store=" + root_.Append(L"tasks.json").value() +
                         L";shortcut-folders=" + shortcuts().value();
    if (!extra_seams.empty())
      seams += L";" + extra_seams;
    const std::wstring environment =
        EnvironmentWith({{L"TEMP", root_.Append(L"temp").value()},
                         {L"TMP", root_.Append(L"temp").value()},
                         {test_support::kInstallerTestSeamsVariable, seams}});
    controller_ = std::make_unique<ControllerProcess>(
        L"--installfolder=\"" + install_.value() + L"\" --package-folder=\"" +
            (own_folder.empty() ? package_->folder() : own_folder).value() +
            (own_folder.empty() ? L"" : L"\" --own-exe=\"" + own_folder.Append(L"installer.exe").value()) +
            L"\" " + readiness + L" --observer-log=\"" + root_.Append(L"observer.jsonl").value() +
            L"\" --log-file=\"" + root_.Append(L"controller.log").value() + L"\" " + switches,
        environment);
  }

  // The readiness switches of a run whose backend starts as the installer of the current version (a copy of the
  // package's in a folder of its own) and waits for the package until the controller's `at`-th observer call.
  std::wstring PackageReadyAt(int at) {
    const base::FilePath current = root_.Append(L"current");
    CreateDirectoryW(current.value().c_str(), nullptr);
    for (const wchar_t* file : {L"installer.exe", L"zorvi.dll"}) {
      EXPECT_TRUE(CopyFileW(package_->folder().Append(file).value().c_str(), current.Append(file).value().c_str(),
                            FALSE));
    }
    return L"--own-exe=\"" + current.Append(L"installer.exe").value() + L"\" --package-ready-at=" + std::to_wstring(at);
  }

  // The events of the hold-at-step seam (named after the scenario) and its value for the step.
  std::wstring HoldAt(int step) {
    held_.reset(CreateEventW(nullptr, TRUE, FALSE, (hold_events_ + L"/held").c_str()));
    go_.reset(CreateEventW(nullptr, TRUE, FALSE, (hold_events_ + L"/go").c_str()));
    return L"hold-at-step=" + std::to_wstring(step) + L":" + hold_events_;
  }

  // Once the backend holds (it cannot end before it is let go), keeps a handle of it: the controller's child
  // that runs the package's installer.
  void TakeHeldBackend() {
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held_.get(), ControllerProcess::kWaitLimitMs))
        << "the backend never held";
    test_support::ScopedTestHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !backend_.valid();
         more = Process32NextW(snapshot.get(), &entry)) {
      if (entry.th32ParentProcessID == controller_->pid() && _wcsicmp(entry.szExeFile, L"installer.exe") == 0)
        backend_.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    }
    EXPECT_TRUE(backend_.valid()) << "the backend is not among the controller's children";
    SetEvent(go_.get());
  }

  DWORD WaitController() { return controller_->Wait(); }
  DWORD WaitBackend() { return ControllerProcess::WaitFor(backend_.get()); }

  Lines ObserverLines() const { return ReadLines(root_.Append(L"observer.jsonl")); }

  // Tells the Linux-side check what the install folder must hold: "installed" (in the version's folder) or
  // "unchanged", the version it holds, and whether the install recorded its folder as the last one (a per-user
  // scenario always does).
  void Expect(const char* outcome, bool records_last_path = false,
              const std::string& version = GetFullVersionString()) const {
    EXPECT_TRUE(test_support::WriteFileBytes(root_.Append(L"expect").value(),
                                             std::string(outcome) + " " + version +
                                                 (records_last_path ? " last-path" : "")));
  }

  // Tells the Linux-side check which files the shortcut folders must hold: "made PATH" for a shortcut to the
  // installation's launcher, "kept PATH" for any other file (paths relative to shortcuts(), UTF-8).
  void ExpectShortcuts(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines)
      text += line + "\n";
    EXPECT_TRUE(test_support::WriteFileBytes(root_.Append(L"shortcuts.expected").value(), text));
  }

  // The scenario's desktops, start menus and quick launch (the shortcut-folders seam).
  base::FilePath shortcuts() const { return root_.Append(L"shortcuts"); }

  std::wstring LastInstallPathValue() const { return test::LastInstallPathValue(company_); }

  int Total() const { return package_->StepTotal(7); }

  // A later package of the same product in a folder of its own, for the next run.
  void NewPackage(const PackageOptions& options) {
    package_ = std::make_unique<PackageFixture>(root_.Append(L"download_" + std::to_wstring(++packages_)), company_,
                                                options);
  }

  // What the Linux-side check reads besides the install folder: the facts the finishing steps must have left.
  void ExpectFinished(const std::string& facts) const {
    EXPECT_TRUE(test_support::WriteFileBytes(root_.Append(L"finished.json").value(), facts));
  }

  const base::FilePath& install() const { return install_; }
  const base::FilePath& root() const { return root_; }
  PackageFixture& package() { return *package_; }
  const std::map<std::string, std::string>& before() const { return before_; }

 private:
  base::FilePath root_;
  base::FilePath install_;
  std::string company_;
  std::unique_ptr<PackageFixture> package_;
  std::map<std::string, std::string> before_;
  int packages_ = 0;
  std::wstring hold_events_ = L"Local\\" + root_.BaseName().value();
  test_support::ScopedTestHandle held_;
  test_support::ScopedTestHandle go_;
  std::unique_ptr<ControllerProcess> controller_;
  test_support::ScopedTestHandle backend_;
};

Lines Started(int total) {
  return {Recorder::SimpleLine("OnInstallFolderReady"), Recorder::TotalStepsLine(total)};
}

Lines Succeeded(int total) {
  return JoinLines({Started(total), Lines(total, kStep),
                    {Recorder::SimpleLine("OnInstallerSuccess"), Recorder::TerminatedLine(true)}});
}

// A copy-only install reports exactly its steps and succeeds; the files land in the version's folder and the
// root files in the install folder, and no file is kept aside. A per-user install (whose later steps pass in the
// test build) also records the install folder as the last one; a copy-only one does not.
TEST(InstallerScenarioTest, InstallsPutThePackageInPlace) {
  const struct {
    const wchar_t* name;
    const wchar_t* switches;
    bool records_last_path;
  } rows[] = {{L"copy_only", L"--copyonly=1", false}, {L"per_user", L"--allusers=0", true}};
  std::vector<std::unique_ptr<Scenario>> scenarios;
  for (const auto& row : rows) {
    scenarios.push_back(std::make_unique<Scenario>(row.name, PackageOptions{}));
    scenarios.back()->Start(row.switches);
  }
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(base::WideToUTF8(rows[i].name));
    Scenario& scenario = *scenarios[i];
    EXPECT_EQ(kControllerSucceeded, scenario.WaitController());
    EXPECT_EQ(Succeeded(scenario.Total()), scenario.ObserverLines());
    std::map<std::string, std::string> tree = ReadTree(scenario.install());
    const std::map<std::string, std::string> package = ReadTree(scenario.package().folder());
    const std::string version = GetFullVersionString() + "\\";
    for (const std::string& file : scenario.package().files())
      EXPECT_EQ(package.at(file), tree[version + file]) << file;
    for (const std::string& file : scenario.package().root_files())
      EXPECT_EQ(package.at(file), tree[file]) << file;
    for (const auto& [relative, digest] : tree)
      EXPECT_EQ(std::string::npos, relative.find(".old")) << relative;
    EXPECT_EQ(rows[i].records_last_path ? scenario.install().value() + L"\\" : L"(none)",
              scenario.LastInstallPathValue());
    scenario.Expect("installed");
    scenario.ExpectFinished(std::string(R"({"launcher": ["--start-maximized"], "copy_only": )") +
                            (rows[i].records_last_path ? "false}" : "true}"));
  }
}

// A copy that fails at file k, for every k of both lists, rolls the run back: the error names the destination,
// the run ends without success, and the install folder is as it was. Missing entries fail a per-user install,
// whose last install path goes again; entries held open by another process fail a copy-only one. The installer
// and the library are left out: the backend runs from them (the in-process tests fail those entries too).
class FailedCopyScenarioTest : public testing::TestWithParam<bool> {};

TEST_P(FailedCopyScenarioTest, EveryFileRollsBack) {
  const bool held = GetParam();
  const PackageOptions options = {.data_files = 2};
  std::vector<std::pair<std::string, bool>> entries;
  {
    Scenario probe(L"probe", options);
    for (const std::string& file : probe.package().files()) {
      if (file != "installer.exe" && file != "zorvi.dll")
        entries.emplace_back(file, false);
    }
    for (const std::string& file : probe.package().root_files())
      entries.emplace_back(file, true);
    test_support::RemoveTree(probe.install().DirName().value());
  }
  std::vector<std::unique_ptr<Scenario>> scenarios;
  std::vector<test_support::ScopedTestHandle> holders(entries.size());
  for (size_t k = 0; k < entries.size(); ++k) {
    scenarios.push_back(std::make_unique<Scenario>(held ? L"held" : L"missing", options));
    const base::FilePath source = scenarios[k]->package().folder().Append(base::UTF8ToWide(entries[k].first));
    if (held) {
      holders[k].reset(CreateFileW(source.value().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holders[k].valid());
    } else {
      ASSERT_TRUE(DeleteFileW(source.value().c_str()));
    }
    scenarios[k]->Start(held ? L"--copyonly=1" : L"--allusers=0");
  }
  for (size_t k = 0; k < entries.size(); ++k) {
    const auto& [entry, root] = entries[k];
    SCOPED_TRACE(entry);
    Scenario& scenario = *scenarios[k];
    EXPECT_EQ(kControllerFailed, scenario.WaitController());
    const base::FilePath destination =
        (root ? scenario.install() : scenario.install().Append(base::UTF8ToWide(GetFullVersionString())))
            .Append(base::UTF8ToWide(entry));
    Lines expected = Started(scenario.Total());
    // Steps before the failing file: the copy step, the files before it, and for a root file the root step.
    const std::vector<std::string>& list = root ? scenario.package().root_files() : scenario.package().files();
    const int index = static_cast<int>(std::find(list.begin(), list.end(), entry) - list.begin());
    const int files = static_cast<int>(scenario.package().files().size());
    expected.insert(expected.end(), root ? files + 1 + index : 1 + index, kStep);
    expected.push_back(Recorder::ErrorLine(kInstallerErrorCopy, destination.value(), "Failed copying " + entry));
    expected.push_back(Recorder::TerminatedLine(false));
    EXPECT_EQ(expected, scenario.ObserverLines());
    EXPECT_EQ(scenario.before(), ReadTree(scenario.install()));
    EXPECT_EQ(L"(none)", scenario.LastInstallPathValue());
    scenario.Expect("unchanged");
    // The package is no longer needed by the Linux-side check.
    holders[k].reset();
    test_support::RemoveTree(scenario.package().folder().value());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FailedCopyScenarioTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "HeldOpen" : "Missing"; });

// The controller's Stop, or its death, at the k-th step: the backend (held at that step until the controller has
// acted) rolls back and ends without success.
TEST(InstallerScenarioTest, StopOrDeathAtAStepRollsBack) {
  struct Row {
    const char* name;
    bool die;
    int step;
  };
  const Row rows[] = {
      {"stop at the first step", false, 1}, {"stop while copying", false, 3}, {"stop at the root files", false, 7},
      {"death at the first step", true, 1}, {"death while copying", true, 4}, {"death late", true, 9},
  };
  std::vector<std::unique_ptr<Scenario>> scenarios;
  for (const Row& row : rows) {
    scenarios.push_back(std::make_unique<Scenario>(row.die ? L"death" : L"stop", PackageOptions{}));
    // Observer calls before the k-th step: the folder and the total.
    const std::wstring at = std::to_wstring(row.step + 2);
    const std::wstring hold = scenarios.back()->HoldAt(row.step);
    scenarios.back()->Start(L"--copyonly=1 " + std::wstring(row.die ? L"--die-at=" : L"--stop-at=") + at, hold);
  }
  for (auto& scenario : scenarios) {
    scenario->TakeHeldBackend();
  }
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    Scenario& scenario = *scenarios[i];
    EXPECT_EQ(row.die ? kControllerDied : kControllerFailed, scenario.WaitController());
    EXPECT_NE(0u, scenario.WaitBackend());
    Lines expected = Started(scenario.Total());
    expected.insert(expected.end(), row.step, kStep);
    if (!row.die)
      expected.push_back(Recorder::TerminatedLine(false));
    EXPECT_EQ(expected, scenario.ObserverLines());
    EXPECT_EQ(scenario.before(), ReadTree(scenario.install()));
    scenario.Expect("unchanged");
  }
}

// An install, then its uninstallation by the installer in the version folder, as the installed uninstaller runs,
// into a plain folder and one whose name holds a percent sign, blanks, braces and a letter beyond ASCII: six steps
// and success; everything goes but the preferences and what the uninstallation's own processes hold (the version's
// installer and library), which the clean-up batch deletes once they have ended. The test build records the
// batch's start instead of making it (under wine the batch's wait for its processes ends at once), and the test
// then runs it. testdata_check.sh compares the batch byte for byte with the text it builds from the recorded
// process ids, the kept files with the package's (sha256sum) and the recorded task calls (Python).
TEST(InstallerScenarioTest, UninstallLeavesOnlyThePreferences) {
  const std::wstring install_names[] = {L"Zorvi", L"Zorvi 100% {x} \u00fc"};
  std::vector<std::unique_ptr<Scenario>> scenarios;
  auto seams = [](const Scenario& scenario) {
    return L"detached-starts=" + scenario.root().Append(L"starts.txt").value() +
           L";task-store=" + scenario.root().Append(L"tasks.json").value();
  };
  for (const std::wstring& install_name : install_names) {
    scenarios.push_back(std::make_unique<Scenario>(L"uninstall", PackageOptions{}, install_name));
    scenarios.back()->Start(L"--allusers=0 --launchzorvi=0", seams(*scenarios.back()));
  }
  const std::string name = GetFullVersionString() + "\\";
  for (auto& scenario : scenarios) {
    ASSERT_EQ(kControllerSucceeded, scenario->WaitController());
    // What the launcher, preferences and finalizing steps leave, which this build's install passes over.
    const base::FilePath version = scenario->install().Append(base::UTF8ToWide(name)).StripTrailingSeparators();
    ASSERT_TRUE(CopyFileW(scenario->package().folder().Append(L"launcher.exe").value().c_str(),
                          scenario->install().Append(L"launcher.exe").value().c_str(), FALSE));
    ASSERT_TRUE(test_support::WriteFileBytes(scenario->install().Append(L"installer_prefs.json").value(), "{}"));
    InstallLog log;
    log.app_id = "555";
    log.all_users = false;
    log.subfolder = version.BaseName();
    log.version = GetFullVersionString();
    log.installation_path = scenario->install();
    for (const std::string& file : scenario->package().files())
      log.files.push_back(base::FilePath(base::UTF8ToWide(file)));
    for (const std::string& file : scenario->package().root_files())
      log.root_files.push_back(base::FilePath(base::UTF8ToWide(file)));
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const bool saved = SaveInstallLog(log, scenario->install().Append(kInstallLogFileName));
    CoUninitialize();
    ASSERT_TRUE(saved);
    test_support::RemoveTree(scenario->root().Append(L"observer.jsonl").value());
    scenario->Start(L"--uninstall", seams(*scenario), version);
  }
  for (auto& scenario : scenarios) {
    SCOPED_TRACE(scenario->install().AsUTF8());
    ASSERT_EQ(kControllerSucceeded, scenario->WaitController());
    EXPECT_EQ(Succeeded(6), scenario->ObserverLines());
    const base::FilePath batch = scenario->install().Append(L"k.bat");
    ASSERT_TRUE(CopyFileW(batch.value().c_str(), scenario->root().Append(L"k.bat.written").value().c_str(), FALSE));
    std::set<std::string> names;
    for (const auto& [relative, digest] : ReadTree(scenario->install()))
      names.insert(relative);
    EXPECT_EQ((std::set<std::string>{"installer_prefs.json", "k.bat", name, name + "installer.exe", name + "zorvi.dll"}),
              names);

    // Every process the batch watches has ended (the controller waited for its backend).
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring command = L"cmd.exe /c \"" + batch.value() + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               scenario->install().value().c_str(), &startup, &process));
    test_support::ScopedTestHandle batch_process(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(0u, ControllerProcess::WaitFor(batch_process.get()));
    std::set<std::string> left = {"installer_prefs.json"};
    // Wine's command processor expands percent signs again in the text that %0 stands for (Windows' does not), so
    // under wine "del %0" cannot name the batch in a folder whose name holds one.
    if (scenario->install().value().find(L'%') != std::wstring::npos)
      left.insert("k.bat");
    names.clear();
    for (const auto& [relative, digest] : ReadTree(scenario->install()))
      names.insert(relative);
    EXPECT_EQ(left, names);
    // For the check: the version's folder and the install folder's name.
    EXPECT_TRUE(test_support::WriteFileBytes(scenario->root().Append(L"uninstalled").value(),
                                             name + "\n" + scenario->install().BaseName().AsUTF8()));
  }
}

// Upgrades of a per-user installation to the next major version: the earlier status log is kept in "old_status",
// the installation keeps its application id and task, and a registered task earns back one failed start of the
// autoupdate run ("au_task_error_count"). A status log that cannot be replaced (another process holds it without
// letting it be deleted) fails the upgrade, which then leaves the installation as it was, preferences included.
TEST(InstallerScenarioTest, UpgradesKeepThePreviousStatus) {
  const struct {
    const char* name;
    int error_count;
    bool block_status;
  } rows[] = {{"error count 3", 3, false}, {"error count 0", 0, false}, {"status held", 2, true}};
  std::vector<std::unique_ptr<Scenario>> scenarios;
  std::vector<std::string> product_names;
  for (size_t i = 0; i < std::size(rows); ++i) {
    // A product of the row's own: its uninstall entries' names are its own too.
    product_names.push_back("ZorviUpgrade" + std::to_string(i));
    scenarios.push_back(
        std::make_unique<Scenario>(L"upgrade", PackageOptions{.data_files = 2, .product_name = product_names[i].c_str()}));
    // Another program's shortcut under the plain name gives the installation versioned shortcuts, which the
    // upgrade moves to its own version's names, and a failed upgrade moves back.
    if (rows[i].block_status) {
      const base::FilePath desktop = scenarios.back()->shortcuts().Append(L"UserDesktop");
      ASSERT_TRUE(base::CreateDirectory(desktop));
      ASSERT_TRUE(test_support::WriteFileBytes(
          desktop.Append(L"Zorvi " + base::UTF8ToWide(GetStreamName()) + L".lnk").value(), "another program's"));
    }
    scenarios.back()->Start(L"--allusers=0 --launchzorvi=0");
  }
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    Scenario& scenario = *scenarios[i];
    ASSERT_EQ(kControllerSucceeded, scenario.WaitController());
    // The count an autoupdate run left after failing to start the task, in preferences the upgrade rewrites.
    ASSERT_TRUE(test_support::WriteFileBytes(scenario.install().Append(L"installer_prefs.json").value(),
                                             "{\"au_task_error_count\": " + std::to_string(rows[i].error_count) +
                                                 ", \"all-installer-experiments\": []}"));
    scenario.NewPackage({.data_files = 2, .major_delta = 1, .product_name = product_names[i].c_str()});
    test_support::ScopedTestHandle holder;
    if (rows[i].block_status) {
      holder.reset(CreateFileW(scenario.install().Append(L"installation_status.xml").value().c_str(), GENERIC_READ,
                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder.valid());
    }
    scenario.Start(L"--launchzorvi=0");
    const int total = scenario.package().StepTotal(11);
    if (rows[i].block_status) {
      EXPECT_EQ(kControllerFailed, scenario.WaitController());
      EXPECT_EQ(JoinLines({Started(total), Lines(total - 1, kStep),
                           {Recorder::ErrorLine(kInstallerErrorGeneric, L"", "Failed saving the installation status"),
                            Recorder::TerminatedLine(false)}}),
                scenario.ObserverLines());
      scenario.Expect("unchanged");
      continue;
    }
    EXPECT_EQ(kControllerSucceeded, scenario.WaitController());
    EXPECT_EQ(JoinLines({Started(total), Lines(total, kStep),
                         {Recorder::SimpleLine("OnInstallerSuccess"), Recorder::TerminatedLine(true)}}),
              scenario.ObserverLines());
    EXPECT_TRUE(test_support::WriteFileBytes(scenario.install().DirName().Append(L"expect").value(),
                                             "installed 40.0.2234.0"));
    scenario.ExpectFinished(R"({"upgraded": true, "au_task_error_count": )" +
                            std::to_string(std::max(rows[i].error_count - 1, 0)) + "}");
  }
}

// Runs handed to other installer processes, through the runner: an all-users install of a split administrator
// runs elevated (the consent stands in for the prompt; the real "runas" starts the elevated backend), whose
// notifications the runner relays between the announcements of the child, and then registers the browser class
// for this user; declined, or for a standard user where the machine turns UAC off (the template's EnableLUA is
// 0), it fails with the elevation error and starts nothing. A backend that waits for the package hands the run to the
// package's installer once the controller has it ready; after an elevated run that waited too, the package's
// installer does this user's part, and the requesting backend reports its end once.
TEST(InstallerScenarioTest, HandOversToElevatedAndPackageInstallers) {
  const std::string success = Recorder::SimpleLine("OnInstallerSuccess");
  const std::string starting = Recorder::StartingNewMainProcessLine(false);
  const std::string returned = Recorder::SimpleLine("OnReturnedToPreviousMainProcess");
  const std::string folder_ready = Recorder::SimpleLine("OnInstallFolderReady");
  const Lines declined = {Recorder::ErrorLine(kInstallerErrorElevation, L"", "Elevated installation failed."),
                          Recorder::TerminatedLine(false)};
  const std::string done = Recorder::TerminatedLine(true);
  struct Row {
    const wchar_t* name;
    const wchar_t* seams;
    int ready_at;  // the observer call after which the package is ready; 0: before the run
    // The whole record, given what an install of the package by one backend reports.
    std::function<Lines(const Lines& install)> expected;
    bool registers;  // the browser class for this user
  };
  const Row rows[] = {
      {L"elevated", L"admin-token=split;elevation=consent", 0,
       [&](const Lines& install) { return JoinLines({{starting}, install, {returned, success, done}}); }, true},
      {L"declined", L"admin-token=split;elevation=decline", 0,
       [&](const Lines&) { return JoinLines({{starting}, declined}); }, false},
      // Where the machine keeps UAC on (the prefix testdata_check.sh makes with EnableLUA 1), a standard user
      // elevates too.
      {L"standard", L"admin-token=standard;elevation=consent", 0,
       [&](const Lines& install) {
         return MachineKeepsUacOn() ? JoinLines({{starting}, install, {returned, success, done}}) : declined;
       },
       MachineKeepsUacOn()},
      {L"package_later", L"", 1,
       [&](const Lines& install) { return JoinLines({{folder_ready, starting}, install, {returned, success, done}}); },
       false},
      {L"elevated_package_later", L"admin-token=split;elevation=consent", 2,
       [&](const Lines& install) {
         return JoinLines({{starting, folder_ready, starting}, install,
                           {returned, success, returned, starting, success, returned, success, done}});
       },
       true},
  };
  std::vector<std::unique_ptr<Scenario>> scenarios;
  std::vector<std::wstring> class_keys;
  for (const Row& row : rows) {
    scenarios.push_back(std::make_unique<Scenario>(row.name, PackageOptions{}));
    Scenario& scenario = *scenarios.back();
    // A product of the scenario's own: the user's part registers its browser class.
    const std::wstring product = test_support::UniqueName(L"ZorviHandOver") + std::to_wstring(class_keys.size());
    std::string branding;
    ASSERT_TRUE(test_support::ReadFileBytes(scenario.package().branding_file().value(), &branding));
    const std::string name = "\"Zorvi\"";
    branding.replace(branding.find(name), name.size(), base::StringPrintf("\"%ls\"", product.c_str()));
    ASSERT_TRUE(test_support::WriteFileBytes(scenario.package().branding_file().value(), branding));
    class_keys.push_back(L"Software\\Classes\\" + product + base::UTF8ToWide(GetStreamName()));
    scenario.Start(L"--allusers=1", row.seams, base::FilePath(),
                   row.ready_at ? scenario.PackageReadyAt(row.ready_at) : L"--package-ready=before");
  }
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(base::WideToUTF8(rows[i].name));
    Scenario& scenario = *scenarios[i];
    const int total = scenario.Total();
    const Lines expected = rows[i].expected(JoinLines({Started(total), Lines(total, kStep), {success}}));
    const bool installed = expected.back() == done;
    EXPECT_EQ(installed ? kControllerSucceeded : kControllerFailed, scenario.WaitController());
    EXPECT_EQ(expected, scenario.ObserverLines());
    base::win::RegKey key;
    EXPECT_EQ(rows[i].registers, key.Open(HKEY_CURRENT_USER, class_keys[i].c_str(), KEY_READ) == ERROR_SUCCESS);
    key.Close();
    RegDeleteTreeW(HKEY_CURRENT_USER, class_keys[i].c_str());
    if (installed) {
      scenario.Expect("installed", true);
    } else {
      EXPECT_EQ(scenario.before(), ReadTree(scenario.install()));
      scenario.Expect("unchanged");
    }
  }
}

// Shortcuts end to end, read back from Linux by lnkinfo (testdata_check.sh): each leads to the install folder's
// launcher and starts in the install folder, and the folders hold nothing else. Per user (all users, which writes
// the machine's registry, runs in process: InstallerTest.ShortcutsOfAnInstallation); a branded name beyond ASCII
// whose plain form is taken (every shortcut versioned, the other file kept); copy-only (none); and an upgrade to
// the next major version, whose shortcuts named with this version's number move to the next one's.
TEST(InstallerScenarioTest, ShortcutsLeadToTheLauncher) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const std::string stream = GetStreamName();
  const std::string major = std::to_string(GetMajorVersion());
  const std::string next_major = std::to_string(GetMajorVersion() + 1);
  const std::wstring every_kind = L" --desktopshortcut=1 --startmenushortcut=1 --quicklaunchshortcut=1";
  struct Row {
    const wchar_t* name;
    std::wstring switches;
    PackageOptions options;
    std::vector<std::string> taken;     // files of the plain name already there
    std::vector<std::string> existing;  // an installation of this version with these shortcuts (upgrade)
    std::vector<std::string> expected;
  };
  const std::string branded = "Zorvi \xC3\x9Cn\xC3\xAF " + stream + " " + major + " (t\xC3\xA9st).lnk";
  const Row rows[] = {
      {L"per_user_shortcuts", L"--allusers=0" + every_kind, {}, {}, {},
       {"made UserDesktop\\Zorvi " + stream + ".lnk", "made StartMenu\\Zorvi " + stream + ".lnk",
        "made QuickLaunch\\Zorvi " + stream + ".lnk"}},
      {L"per_user_branded", L"--allusers=0 --desktopshortcut=1 --startmenushortcut=1 --quicklaunchshortcut=0",
       {.visible_name = "Zorvi \xC3\x9Cn\xC3\xAF", .shortcut_suffix = " (t\xC3\xA9st)"},
       {"StartMenu\\Zorvi \xC3\x9Cn\xC3\xAF " + stream + " (t\xC3\xA9st).lnk"}, {},
       {"kept StartMenu\\Zorvi \xC3\x9Cn\xC3\xAF " + stream + " (t\xC3\xA9st).lnk", "made UserDesktop\\" + branded,
        "made StartMenu\\" + branded}},
      {L"copy_only_shortcuts", L"--copyonly=1" + every_kind, {}, {}, {}, {}},
      {L"per_user_upgrade", L"", {.major_delta = 1}, {},
       {"UserDesktop\\Zorvi " + stream + " " + major + ".lnk", "StartMenu\\Zorvi " + stream + " " + major + ".lnk",
        "QuickLaunch\\Zorvi " + stream + " " + major + ".lnk"},
       {"made UserDesktop\\Zorvi " + stream + " " + next_major + ".lnk",
        "made StartMenu\\Zorvi " + stream + " " + next_major + ".lnk",
        "made QuickLaunch\\Zorvi " + stream + " " + next_major + ".lnk"}},
  };
  std::vector<std::unique_ptr<Scenario>> scenarios;
  for (const Row& row : rows) {
    // A product of its own: installations side by side would otherwise meet at one uninstall entry.
    PackageOptions options = row.options;
    options.product_name = "ZorviShortcuts" + std::to_string(&row - rows);
    scenarios.push_back(std::make_unique<Scenario>(row.name, options));
    Scenario& scenario = *scenarios.back();
    for (const std::string& taken : row.taken) {
      const base::FilePath file = scenario.shortcuts().Append(base::UTF8ToWide(taken));
      ASSERT_TRUE(base::CreateDirectory(file.DirName()));
      ASSERT_TRUE(test_support::WriteFileBytes(file.value(), "another program's"));
    }
    if (!row.existing.empty()) {
      const base::FilePath launcher = scenario.install().Append(L"launcher.exe");
      ASSERT_TRUE(test_support::WriteFileBytes(launcher.value(), "launcher"));
      InstallLog existing;
      existing.all_users = false;
      existing.app_id = "1234567890";
      existing.version = GetFullVersionString();
      existing.subfolder = base::FilePath(base::UTF8ToWide(existing.version));
      existing.installation_path = scenario.install();
      existing.files = {base::FilePath(L"zorvi.exe")};
      base::FilePath* slots[] = {&existing.desktop_shortcut, &existing.start_menu_shortcut,
                                 &existing.quick_launch_shortcut};
      for (size_t i = 0; i < row.existing.size(); ++i) {
        *slots[i] = scenario.shortcuts().Append(base::UTF8ToWide(row.existing[i]));
        MakeShortcutTo(*slots[i], launcher);
      }
      ASSERT_TRUE(SaveInstallLog(existing, scenario.install().Append(kInstallLogFileName)));
    }
    scenario.Start(row.switches);
  }
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(base::WideToUTF8(rows[i].name));
    Scenario& scenario = *scenarios[i];
    EXPECT_EQ(kControllerSucceeded, scenario.WaitController());
    const std::string version = GetFullVersionString();
    const std::string installed = rows[i].existing.empty() ? version : next_major + version.substr(version.find('.'));
    scenario.Expect("installed", false, installed);
    scenario.ExpectShortcuts(rows[i].expected);
  }
  CoUninitialize();
}

}  // namespace
}  // namespace zorvi::installer::test
