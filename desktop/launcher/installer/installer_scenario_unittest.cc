// Installations end to end: the headless controller runs an InstallerRunner whose backend is the package's own
// installer.exe with the test build of the library (installer_package_test_util.h). The test seams of every
// process come from the environment; each scenario has a product (and so registry keys) and folders of its own
// and runs beside the others. The folders stay in the test data folder, where testdata_check.sh compares them
// with sha256sum and find: an installed scenario holds the package's files, a failed one the tree it had before.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_package_test_util.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/install_log.h"
#include "desktop/launcher/installer/records/install_log_test_util.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/service/xml_document.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/installer/installer_test_seams_from_environment.h"
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
const std::string kSuccess = Recorder::SimpleLine("OnInstallerSuccess");

void CopyTree(const base::FilePath& from, const base::FilePath& to) {
  test_support::RemoveTree(to.value());
  CreateDirectoryW(to.value().c_str(), nullptr);
  for (const auto& [relative, digest] : ReadTree(from)) {
    const std::wstring name = base::UTF8ToWide(relative);
    if (relative.back() == '\\')
      CreateDirectoryW(to.Append(name).value().c_str(), nullptr);
    else
      EXPECT_TRUE(CopyFileW(from.Append(name).value().c_str(), to.Append(name).value().c_str(), FALSE));
  }
}

// The relative paths below `folder` (a folder's with a trailing backslash).
std::set<std::string> Names(const base::FilePath& folder) {
  std::set<std::string> names;
  for (const auto& [relative, digest] : ReadTree(folder))
    names.insert(relative);
  return names;
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
// (holding an earlier root file), the processes' temporary folder, and the controller's records.
class Scenario {
 public:
  Scenario(const std::wstring& name, const PackageOptions& options, const std::wstring& install_name)
      : root_(base::FilePath(test_support::TestDataDir()).Append(L"scenarios").Append(ScenarioName(name))),
        install_(root_.Append(install_name)),
        options_(options) {
    CreateDirectoryW(root_.DirName().value().c_str(), nullptr);
    CreateDirectoryW(root_.value().c_str(), nullptr);
    CreateDirectoryW(root_.Append(L"temp").value().c_str(), nullptr);
    company_ = "ZorviScenario_" + base::WideToUTF8(root_.BaseName().value());
    package_ = std::make_unique<PackageFixture>(root_.Append(L"download"), company_, options_);
    CreateDirectoryW(install_.value().c_str(), nullptr);
    EXPECT_TRUE(test_support::WriteFileBytes(install_.Append(L"root notes.txt").value(), "earlier notes"));
    EXPECT_TRUE(test_support::WriteFileBytes(root_.Append(L"company").value(), company_));
  }

  // Starts the controller with the scenario's temporary folder and test seams, which its backend inherits. With
  // `own_folder` the controller stands in that folder's installer, which is also its package; the package is ready
  // before the run unless `readiness` says otherwise.
  void Start(const std::wstring& switches,
             const std::wstring& extra_seams = L"",
             const base::FilePath& own_folder = base::FilePath(),
             const std::wstring& readiness = L"--package-ready=before") {
    CopyTree(install_, root_.Append(L"before"));
    CopyTree(shortcuts(), root_.Append(L"shortcuts_before"));
    // The records are this run's alone.
    DeleteFileW(root_.Append(L"observer.jsonl").value().c_str());
    std::wstring seams = L"branding-file=" + package_->branding_file().value() + L";task-store=" +
                         root_.Append(L"tasks.json").value() + L";shortcut-folders=" + shortcuts().value();
    if (!extra_seams.empty())
      seams += L";" + extra_seams;
    const std::wstring environment = EnvironmentWith({{L"TEMP", root_.Append(L"temp").value()},
                                                      {L"TMP", root_.Append(L"temp").value()},
                                                      {test_support::kInstallerTestSeamsVariable, seams}});
    controller_ = std::make_unique<ControllerProcess>(
        L"--installfolder=\"" + install_.value() + L"\" --package-folder=\"" +
            (own_folder.empty() ? package_->folder() : own_folder).value() +
            (own_folder.empty() ? L"" : L"\" --own-exe=\"" + own_folder.Append(L"installer.exe").value()) + L"\" " +
            readiness + L" --observer-log=\"" + root_.Append(L"observer.jsonl").value() + L"\" --log-file=\"" +
            root_.Append(L"controller.log").value() + L"\" " + switches,
        environment);
  }

  // Uninstalls as the installed uninstaller does: the installer in the version's folder stands in for its package.
  // The test build records the clean-up batch's and the survey's starts instead of making them.
  void Uninstall() {
    Start(L"--uninstall", L"detached-starts=" + root_.Append(L"starts.txt").value(),
          install_.Append(base::UTF8ToWide(version())));
  }

  // The controller's installer: the installer of the current version (a copy of the package's in a folder of its
  // own), and the readiness switch `readiness`.
  std::wstring OwnInstaller(const std::wstring& readiness) {
    const base::FilePath current = root_.Append(L"current");
    CreateDirectoryW(current.value().c_str(), nullptr);
    // Copied once: a later run of the scenario finds them there, perhaps still held by the last run's programs.
    for (const wchar_t* file : {L"installer.exe", L"zorvi.dll"}) {
      EXPECT_TRUE(CopyFileW(package_->folder().Append(file).value().c_str(), current.Append(file).value().c_str(),
                            TRUE) ||
                  GetLastError() == ERROR_FILE_EXISTS);
    }
    return L"--own-exe=\"" + current.Append(L"installer.exe").value() + L"\" " + readiness;
  }

  // The readiness switches of a run whose backend starts as the controller's installer and waits for the package
  // until the controller's `at`-th observer call.
  std::wstring PackageReadyAt(int at) { return OwnInstaller(L"--package-ready-at=" + std::to_wstring(at)); }

  // The events of the hold-at-step seam (named after the scenario) and its value for the step.
  std::wstring HoldAt(int step) {
    held_.reset(CreateEventW(nullptr, TRUE, FALSE, (hold_events_ + L"/held").c_str()));
    go_.reset(CreateEventW(nullptr, TRUE, FALSE, (hold_events_ + L"/go").c_str()));
    return L"hold-at-step=" + std::to_wstring(step) + L":" + hold_events_ + L";held-file=" +
           root_.Append(L"held.txt").value();
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

  // Kills the installer that holds, the package's that the backend handed the run to, as a kill from outside would
  // (wine reports exit code 0 for a process killed by a signal). It wrote its id before it said it held.
  void KillHeldInstaller() {
    std::string text;
    ASSERT_TRUE(test_support::ReadFileBytes(root_.Append(L"held.txt").value(), &text));
    const DWORD pid = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
    ASSERT_NE(pid, GetProcessId(backend_.get())) << "the backend itself holds: it handed nothing over";
    test_support::ScopedTestHandle held(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    ASSERT_TRUE(held.valid() && TerminateProcess(held.get(), 0));
    EXPECT_EQ(0u, ControllerProcess::WaitFor(held.get()));
  }

  DWORD WaitController() { return controller_->Wait(); }
  DWORD WaitBackend() { return ControllerProcess::WaitFor(backend_.get()); }

  Lines ObserverLines() const { return ReadLines(root_.Append(L"observer.jsonl")); }

  // Tells the Linux-side check what the install folder must hold: "installed" (in the version's folder) or
  // "unchanged", and whether the install recorded its folder as the last one (a per-user scenario always does);
  // then the install folder's name, and each version folder it must hold with the package that version came from:
  // the current one and, after an upgrade, the one the upgrade replaced (which the next upgrade removes).
  void Expect(const char* outcome, bool records_last_path) const {
    EXPECT_TRUE(test_support::WriteFileBytes(root_.Append(L"expect").value(),
                                             std::string(outcome) + " " + version() +
                                                 (records_last_path ? " last-path" : "") + "\n" +
                                                 install_.BaseName().AsUTF8() + "\n" + version() + " " +
                                                 package_->folder().BaseName().AsUTF8() + "\n" + previous_));
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

  // What the Linux-side check reads besides the install folder: the facts the finishing steps must have left.
  void ExpectFinished(const std::string& facts) const {
    EXPECT_TRUE(test_support::WriteFileBytes(root_.Append(L"finished.json").value(), facts));
  }

  // The steps a run of `listed_steps` steps over the current package reports (an install's by default).
  int Total(int listed_steps = 7) const { return package_->StepTotal(listed_steps); }

  // A later package of the same product, `major_delta` versions on, in a folder of its own, for the next run.
  void NewPackage(int major_delta) {
    previous_ = version() + " " + package_->folder().BaseName().AsUTF8() + "\n";
    options_.major_delta = major_delta;
    package_ =
        std::make_unique<PackageFixture>(root_.Append(L"download_" + std::to_wstring(major_delta)), company_, options_);
  }

  // The version of the current package.
  std::string version() const {
    const std::string full = GetFullVersionString();
    return std::to_string(GetMajorVersion() + options_.major_delta) + full.substr(full.find('.'));
  }

  // The product's browser class key below a user's or the machine's root.
  std::wstring ClassKey() const {
    return L"Software\\Classes\\" + base::UTF8ToWide(options_.product_name + GetStreamName());
  }

  const base::FilePath& install() const { return install_; }
  const base::FilePath& root() const { return root_; }
  const std::string& product() const { return options_.product_name; }
  PackageFixture& package() { return *package_; }

 private:
  base::FilePath root_;
  base::FilePath install_;
  PackageOptions options_;
  std::string company_;
  std::unique_ptr<PackageFixture> package_;
  std::string previous_;  // the version and package an upgrade replaced, as Expect writes them
  std::wstring hold_events_ = L"Local\\" + root_.BaseName().value();
  test_support::ScopedTestHandle held_;
  test_support::ScopedTestHandle go_;
  std::unique_ptr<ControllerProcess> controller_;
  test_support::ScopedTestHandle backend_;
};

Lines Started(int total) {
  return {Recorder::SimpleLine("OnInstallFolderReady"), Recorder::TotalStepsLine(total)};
}

// What a backend reports that installs the package, or runs `total` steps, itself.
Lines Installed(int total) {
  return JoinLines({Started(total), Lines(total, kStep), {kSuccess}});
}

Lines Succeeded(int total) {
  return JoinLines({Installed(total), {Recorder::TerminatedLine(true)}});
}

// One run of a scenario, and what it must report.
struct ScenarioRun {
  std::wstring switches = L"";
  std::wstring seams = L"";  // beyond every run's
  // The whole observer record; by default an install's steps and success.
  std::function<Lines(Scenario& scenario)> expected = nullptr;
  std::function<void(Scenario& scenario)> setup = nullptr;  // stages the run's case before it starts
  std::function<void(Scenario& scenario)> check = nullptr;  // what only this run leaves, once it has ended
  int ready_at = 0;        // the observer call after which the package is ready; 0: before the run
  int hold_at = 0;         // the step at which the backend waits for the controller's Stop or death; 0: none
  bool kill_held = false;  // the held installer, the package's that the backend handed the run to, is killed
  bool uninstall = false;  // by the installer in the version's folder
};

// A scenario of a table: a product and folders of its own, and its runs, one after the other.
struct Row {
  const wchar_t* name;
  std::vector<ScenarioRun> runs;
  bool registers;  // whether the product's browser class is this user's after the last run
  PackageOptions options = {};
  const wchar_t* folder = L"Zorvi";
  std::string finished = "";  // what the finishing steps must have left (finished_oracle.py)
};

// Runs the rows' scenarios side by side, each one's runs one after the other, and checks each run's controller exit
// code and whole observer record; after the last run, whether the browser class is the user's, and it tells
// testdata_check.sh what the install folder must hold (the package, or the tree it had before a failed run).
std::vector<std::unique_ptr<Scenario>> RunScenarios(const std::vector<Row>& rows) {
  std::vector<std::unique_ptr<Scenario>> scenarios;
  const auto start = [&](size_t i, size_t run) {
    Scenario& scenario = *scenarios[i];
    const ScenarioRun& r = rows[i].runs[run];
    if (r.setup)
      r.setup(scenario);
    if (r.uninstall)
      scenario.Uninstall();
    else
      scenario.Start(r.switches, r.hold_at ? scenario.HoldAt(r.hold_at) : r.seams, base::FilePath(),
                     r.ready_at ? scenario.PackageReadyAt(r.ready_at) : scenario.OwnInstaller(L"--package-ready=before"));
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    PackageOptions options = rows[i].options;
    static int products = 0;
    options.product_name = base::WideToUTF8(test_support::UniqueName(L"Zorvi")) + std::to_string(++products);
    scenarios.push_back(std::make_unique<Scenario>(rows[i].name, options, rows[i].folder));
    start(i, 0);
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].runs[0].hold_at)
      scenarios[i]->TakeHeldBackend();
    if (rows[i].runs[0].kill_held)
      scenarios[i]->KillHeldInstaller();
  }
  for (size_t run = 0, more = 1; more; ++run) {
    more = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (run >= rows[i].runs.size())
        continue;
      Scenario& scenario = *scenarios[i];
      const ScenarioRun& r = rows[i].runs[run];
      SCOPED_TRACE(scenario.root().BaseName().AsUTF8() + ", run " + std::to_string(run + 1));
      const Lines expected = r.expected ? r.expected(scenario) : Succeeded(scenario.Total());
      const bool succeeded = expected.back() == Recorder::TerminatedLine(true);
      EXPECT_EQ(succeeded                  ? kControllerSucceeded
                : expected.back() == kStep ? kControllerDied
                                           : kControllerFailed,
                scenario.WaitController());
      if (r.hold_at) {
        EXPECT_NE(0u, scenario.WaitBackend());
      }
      EXPECT_EQ(expected, scenario.ObserverLines());
      if (r.check)
        r.check(scenario);
      if (run + 1 < rows[i].runs.size()) {
        start(i, run + 1);
        more = 1;
        continue;
      }
      base::win::RegKey key;
      EXPECT_EQ(rows[i].registers, key.Open(HKEY_CURRENT_USER, scenario.ClassKey().c_str(), KEY_READ) == ERROR_SUCCESS);
      if (!r.uninstall)
        scenario.Expect(succeeded ? "installed" : "unchanged", r.switches.find(L"--copyonly") == std::wstring::npos);
      if (!rows[i].finished.empty())
        scenario.ExpectFinished(rows[i].finished);
    }
  }
  return scenarios;
}

// A per-user install that leaves the browser alone.
ScenarioRun PerUser() {
  return {.switches = L"--allusers=0 --launchzorvi=0"};
}

// A copy-only install that the controller stops, or dies in, at the `step`-th step (held there until it has): that
// many steps, then the end unless the controller died.
ScenarioRun Interrupted(int step, bool died) {
  ScenarioRun run;
  // The folder and the total come before the steps.
  run.switches = (died ? L"--copyonly=1 --die-at=" : L"--copyonly=1 --stop-at=") + std::to_wstring(step + 2);
  run.hold_at = step;
  run.expected = [=](Scenario& scenario) {
    return JoinLines(
        {Started(scenario.Total()), Lines(step, kStep), died ? Lines() : Lines{Recorder::TerminatedLine(false)}});
  };
  return run;
}

// An install handed over to the package's installer, which is killed after its first step: the backend that waited
// for it must not take the exit code 0 of the killed process for a success.
ScenarioRun HandedOverAndKilled() {
  ScenarioRun run;
  run.switches = L"--copyonly=1";
  run.ready_at = 1;
  run.hold_at = 1;
  run.kill_held = true;
  run.expected = [](Scenario& scenario) {
    return JoinLines({{Recorder::SimpleLine("OnInstallFolderReady"), Recorder::StartingNewMainProcessLine(false)},
                      Started(scenario.Total()),
                      {kStep, Recorder::SimpleLine("OnReturnedToPreviousMainProcess"),
                       Recorder::ErrorLine(kInstallerErrorGeneric, L"", kBackendEndedWithoutResultMessage),
                       Recorder::TerminatedLine(false)}});
  };
  return run;
}

// An install whose copy of the last entry of the version's list (missing from the package) or of the root list
// (held open by another process, in `holders`) fails: the steps before it, then the copy error naming it.
ScenarioRun CopyFails(bool root, std::list<test_support::ScopedTestHandle>* holders) {
  ScenarioRun run;
  run.switches = root ? L"--copyonly=1" : L"--allusers=0";
  const auto entry = [root](Scenario& scenario) {
    return root ? scenario.package().root_files().back() : scenario.package().files().back();
  };
  run.setup = [=](Scenario& scenario) {
    const base::FilePath file = scenario.package().folder().Append(base::UTF8ToWide(entry(scenario)));
    if (root)
      holders->emplace_back(CreateFileW(file.value().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(root ? holders->back().valid() : DeleteFileW(file.value().c_str()));
  };
  run.expected = [=](Scenario& scenario) {
    const base::FilePath folder =
        root ? scenario.install() : scenario.install().Append(base::UTF8ToWide(scenario.version()));
    const size_t steps = scenario.package().files().size() + (root ? scenario.package().root_files().size() : 0);
    return JoinLines(
        {Started(scenario.Total()),
         Lines(steps, kStep),
         {Recorder::ErrorLine(kInstallerErrorCopy, folder.Append(base::UTF8ToWide(entry(scenario))).value(),
                              "Failed copying " + entry(scenario) + (root ? "" : " (missing from the package)")),
          Recorder::TerminatedLine(false)}});
  };
  return run;
}

// An upgrade to the package `major_delta` versions on, after an autoupdate run failed `error_count` times to start
// the task; with `holders` another process (the test, whose handle goes there) holds the status log without
// letting it be deleted, and with `old_status_taken` a file has the name of the folder that keeps earlier logs.
ScenarioRun Upgrade(int major_delta, int error_count, std::list<test_support::ScopedTestHandle>* holders = nullptr,
                    bool old_status_taken = false) {
  ScenarioRun run;
  run.switches = L"--launchzorvi=0";
  run.setup = [=](Scenario& scenario) {
    EXPECT_TRUE(test_support::WriteFileBytes(
        scenario.install().Append(L"installer_prefs.json").value(),
        "{\"au_task_error_count\": " + std::to_string(error_count) + ", \"all-installer-experiments\": []}"));
    scenario.NewPackage(major_delta);
    if (holders) {
      holders->emplace_back(CreateFileW(scenario.install().Append(kInstallLogFileName).value().c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      EXPECT_TRUE(holders->back().valid());
    }
    if (old_status_taken) {
      EXPECT_TRUE(test_support::WriteFileBytes(scenario.install().Append(kOldStatusFolderName).value(), "a file"));
    }
  };
  run.expected = [=](Scenario& scenario) {
    const int total = scenario.Total(11);
    if (!holders && !old_status_taken)
      return Succeeded(total);
    // The step before the last keeps the earlier log aside.
    const std::string error = "Could not keep the previous installation status";
    return JoinLines({Started(total),
                      Lines(total - 2, kStep),
                      {Recorder::ErrorLine(kInstallerErrorGeneric, L"", error), Recorder::TerminatedLine(false)}});
  };
  return run;
}

// An uninstallation, by the installer in the version's folder: six steps and success.
ScenarioRun Uninstall() {
  ScenarioRun run;
  run.uninstall = true;
  run.expected = [](Scenario&) { return Succeeded(6); };
  return run;
}

// - A copy-only and a per-user install report exactly their steps and succeed; the per-user one records its folder.
// - Runs handed to other installer processes, through the runner: an all-users install of a split administrator runs
//   elevated (the consent stands in for the prompt; the real "runas" starts the elevated backend, from the
//   controller's installer, never from the package folder, waiting for the package), whose notifications the runner
//   relays between the announcements of the children, and then registers the browser class for this user; declined, or for a standard user where the machine turns UAC off (the template's EnableLUA is
//   0), it fails with the elevation error and starts nothing. A backend that waits for the package hands the run to
//   the package's installer once the controller has it ready; after an elevated run that waited too, the package's
//   installer does this user's part, and the requesting backend reports its end once.
// - The controller's Stop, or its death, at the k-th step: the backend rolls back and ends without success.
// - A copy that fails rolls the run back (EveryStepTest/InstallFileMissing and InstallFileHeld fail every entry).
// - Upgrades of a per-user installation to the next major version keep the earlier status log in "old_status", the
//   application id and the task, and a registered task earns back one failed start of the autoupdate run
//   ("au_task_error_count"). The earlier version's folder stays until the upgrade after, whose clean-up removes it
//   with what its status log in "old_status" lists. A status log that cannot be kept there (held without delete
//   sharing, or "old_status" is a file) fails the upgrade, which then leaves the installation as it was, preferences
//   included.
TEST(InstallerScenarioTest, RunsEndAsTheirRowsSay) {
  const std::string starting = Recorder::StartingNewMainProcessLine(false);
  const std::string returned = Recorder::SimpleLine("OnReturnedToPreviousMainProcess");
  const std::string folder_ready = Recorder::SimpleLine("OnInstallFolderReady");
  const std::string done = Recorder::TerminatedLine(true);
  const Lines declined = {Recorder::ErrorLine(kInstallerErrorElevation, L"", "Elevated installation failed."),
                          Recorder::TerminatedLine(false)};
  // The package was ready before: the elevated run starts from the controller's installer, waits for the package and
  // hands over to its installer, and the requesting backend then does this user's part itself.
  const auto elevated = [&](Scenario& scenario) {
    return JoinLines(
        {{starting, folder_ready, starting}, Installed(scenario.Total()), {returned, kSuccess, returned, kSuccess, done}});
  };
  const auto later = [&](Scenario& scenario) {
    return JoinLines({{folder_ready, starting}, Installed(scenario.Total()), {returned, kSuccess, done}});
  };
  const auto elevated_later = [&](Scenario& scenario) {
    return JoinLines({{starting, folder_ready, starting},
                      Installed(scenario.Total()),
                      {returned, kSuccess, returned, starting, kSuccess, returned, kSuccess, done}});
  };
  const auto upgraded = [](int error_count) {
    return R"({"upgraded": true, "au_task_error_count": )" + std::to_string(std::max(error_count - 1, 0)) + "}";
  };
  const std::wstring split = L"admin-token=split;elevation=consent";
  // Where the machine keeps UAC on (the prefix testdata_check.sh makes with EnableLUA 1), a standard user elevates.
  const bool uac_on = MachineKeepsUacOn();
  std::list<test_support::ScopedTestHandle> holders;
  const PackageOptions two_files = {.data_files = 2};
  // Another program's shortcut under the plain name gives the installation versioned shortcuts, which the upgrade
  // moves to its own version's names, and a failed upgrade moves back.
  ScenarioRun shortcut_taken = PerUser();
  shortcut_taken.setup = [](Scenario& scenario) {
    const base::FilePath desktop = scenario.shortcuts().Append(L"UserDesktop");
    EXPECT_TRUE(base::CreateDirectory(desktop));
    EXPECT_TRUE(test_support::WriteFileBytes(
        desktop.Append(L"Zorvi " + base::UTF8ToWide(GetStreamName()) + L".lnk").value(), "another program's"));
  };
  const auto launched = [](bool copy_only) {
    return std::string(R"({"launcher": ["--start-maximized"], "copy_only": )") + (copy_only ? "true}" : "false}");
  };
  const auto declined_run = [&](Scenario&) { return JoinLines({{starting}, declined}); };
  const auto standard_run = [&](Scenario& scenario) { return uac_on ? elevated(scenario) : declined; };
  RunScenarios({
      {L"copy_only", {{L"--copyonly=1"}}, false, {}, L"Zorvi", launched(true)},
      {L"per_user", {{L"--allusers=0"}}, true, {}, L"Zorvi", launched(false)},
      {L"elevated", {{L"--allusers=1", split, elevated}}, true},
      {L"declined", {{L"--allusers=1", L"admin-token=split;elevation=decline", declined_run}}, false},
      {L"standard", {{L"--allusers=1", L"admin-token=standard;elevation=consent", standard_run}}, uac_on},
      {L"package_later", {{L"--allusers=1", L"", later, nullptr, nullptr, 1}}, false},
      {L"elevated_package_later", {{L"--allusers=1", split, elevated_later, nullptr, nullptr, 2}}, true},
      {L"stop", {Interrupted(1, false)}, false},
      {L"stop", {Interrupted(3, false)}, false},
      {L"stop", {Interrupted(7, false)}, false},
      {L"death", {Interrupted(1, true)}, false},
      {L"death", {Interrupted(4, true)}, false},
      {L"death", {Interrupted(9, true)}, false},
      {L"handed_over_killed", {HandedOverAndKilled(), {L"--copyonly=1"}}, false},
      {L"missing", {CopyFails(false, &holders)}, false},
      {L"held", {CopyFails(true, &holders)}, false},
      {L"upgrade", {PerUser(), Upgrade(1, 3)}, true, two_files, L"Zorvi", upgraded(3)},
      {L"upgrade", {PerUser(), Upgrade(1, 1), Upgrade(2, 0)}, true, two_files, L"Zorvi", upgraded(0)},
      {L"upgrade", {shortcut_taken, Upgrade(1, 2, &holders)}, true, two_files},
      {L"upgrade", {PerUser(), Upgrade(1, 2, nullptr, true)}, true, two_files},
  });
}

// An install, then its uninstallation as the installed uninstaller runs it, also after two upgrades (the older
// version's folder, which the second upgrade kept, goes with the rest), into a plain folder and one whose name holds
// a percent sign, blanks, braces and a letter beyond ASCII that the OEM code page, in which the clean-up batch is
// written, carries (testdata_check.sh also runs this test in a Russian locale; UninstallBatchTest writes the names a
// page lacks by their short names). The test build records the clean-up batch's start instead of making it (under
// wine the batch's wait for its processes ends at once), and the test then runs it. testdata_check.sh compares the
// batch byte for byte with the text it builds from the recorded process ids, finds only the preferences left after
// it, as they were before (sha256sum), and reads the recorded task calls (Python).
TEST(InstallerScenarioTest, UninstallLeavesOnlyThePreferences) {
  ScenarioRun uninstall = Uninstall();
  uninstall.setup = [](Scenario& scenario) {
    EXPECT_TRUE(CopyFileW(scenario.install().Append(L"installer_prefs.json").value().c_str(),
                          scenario.root().Append(L"installer_prefs.before").value().c_str(), FALSE));
  };
  uninstall.check = [](Scenario& scenario) {
    // Every process the batch watches has ended (the controller waited for its backend).
    const base::FilePath batch = scenario.install().Append(L"k.bat");
    ASSERT_TRUE(CopyFileW(batch.value().c_str(), scenario.root().Append(L"k.bat.written").value().c_str(), FALSE));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring command = L"cmd.exe /c \"" + batch.value() + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               scenario.install().value().c_str(), &startup, &process));
    test_support::ScopedTestHandle batch_process(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(0u, ControllerProcess::WaitFor(batch_process.get()));
    // For the check: the version's folder and the install folder's name.
    EXPECT_TRUE(test_support::WriteFileBytes(scenario.root().Append(L"uninstalled").value(),
                                             scenario.version() + "\n" + scenario.install().BaseName().AsUTF8()));
  };
  std::wstring folder = L"Zorvi 100% {x} ";
  for (const wchar_t* letter : {L"\u00fc", L"\u0436"}) {
    char bytes[4];
    BOOL lost = FALSE;
    if (WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, letter, 1, bytes, sizeof(bytes), nullptr, &lost) == 1 &&
        !lost) {
      folder += letter;
      break;
    }
  }
  RunScenarios({{L"uninstall", {PerUser(), uninstall}, false},
                {L"uninstall", {PerUser(), Upgrade(1, 0), Upgrade(2, 0), uninstall}, false},
                {L"uninstall", {PerUser(), uninstall}, false, {}, folder.c_str()}});
}

// Shortcuts end to end, read back from Linux by lnkinfo (testdata_check.sh): each leads to the install folder's
// launcher and starts in the install folder, and the folders hold nothing else. Per user (all users, which writes
// the machine's registry, runs in process: InstallerTest.CompleteRunsReportEveryStepOfTheirTotal); a branded name
// beyond ASCII whose plain form is taken (every shortcut versioned, the other file kept); copy-only (none); and an
// upgrade to the next major version of an installation whose plain names were taken, whose shortcuts named with
// its version's number move to the next one's.
TEST(InstallerScenarioTest, ShortcutsLeadToTheLauncher) {
  const std::string stream = GetStreamName();
  const std::wstring every_kind = L" --desktopshortcut=1 --startmenushortcut=1 --quicklaunchshortcut=1";
  // Other programs' files of the `taken` names before `run`.
  const auto taken = [](ScenarioRun run, const std::vector<std::string>& names) {
    run.setup = [=, setup = run.setup](Scenario& scenario) {
      for (const std::string& name : names) {
        const base::FilePath file = scenario.shortcuts().Append(base::UTF8ToWide(name));
        EXPECT_TRUE(base::CreateDirectory(file.DirName()));
        EXPECT_TRUE(test_support::WriteFileBytes(file.value(), "another program's"));
      }
      if (setup)
        setup(scenario);
    };
    return run;
  };
  // The shortcut folders' files after `run`: "made" by it or "kept" from before.
  const auto leaves = [](ScenarioRun run, const std::vector<std::string>& files) {
    run.check = [=](Scenario& scenario) { scenario.ExpectShortcuts(files); };
    return run;
  };
  // `name` in the folder of every kind, each line starting with `prefix`.
  const auto everywhere = [](const std::string& prefix, const std::string& name) {
    return Lines{prefix + "UserDesktop\\" + name, prefix + "StartMenu\\" + name, prefix + "QuickLaunch\\" + name};
  };
  const std::string plain = "Zorvi " + stream + ".lnk";
  const std::string next = "Zorvi " + stream + " " + std::to_string(GetMajorVersion() + 1) + ".lnk";
  const std::string branded = "Zorvi \xC3\x9Cn\xC3\xAF " + stream + " (t\xC3\xA9st).lnk";
  const std::string branded_versioned =
      "Zorvi \xC3\x9Cn\xC3\xAF " + stream + " " + std::to_string(GetMajorVersion()) + " (t\xC3\xA9st).lnk";
  RunScenarios({
      {L"per_user_shortcuts", {leaves({L"--allusers=0" + every_kind}, everywhere("made ", plain))}, true},
      {L"per_user_branded",
       {leaves(taken({L"--allusers=0 --desktopshortcut=1 --startmenushortcut=1 --quicklaunchshortcut=0"},
                     {"StartMenu\\" + branded}),
               {"kept StartMenu\\" + branded, "made UserDesktop\\" + branded_versioned,
                "made StartMenu\\" + branded_versioned})},
       true,
       {.visible_name = "Zorvi \xC3\x9Cn\xC3\xAF", .shortcut_suffix = " (t\xC3\xA9st)"}},
      {L"copy_only_shortcuts", {leaves({L"--copyonly=1" + every_kind}, {})}, false},
      {L"per_user_upgrade",
       {taken({L"--allusers=0 --launchzorvi=0" + every_kind}, everywhere("", plain)),
        leaves(Upgrade(1, 0), JoinLines({everywhere("kept ", plain), everywhere("made ", next)}))},
       true},
  });
}

// The registry rows end to end, in a prefix of their own since they write the machine's classes and uninstall
// entries: the area's check copies the prefix template, runs this test there and, once the prefix's wine server has
// written user.reg and system.reg, testdata/registry_rows_oracle.py works each product's rows out from the table and
// compares them with the hives and with the status log's records. Per user and machine-wide, at the prefix's
// Windows 7 and then at an XP-level version (wine's version for the backend's program name), each a product of its
// own; at Windows 7 in folders whose names hold braces, the per-user entry taking the first free suffix and the
// machine-wide class over an earlier DDE key. Two installations are uninstalled again and leave none of their rows:
// a machine-wide one, and a per-user one whose status log was damaged to climb from ".zex" and from the uninstall
// entry to keys it does not own (which stay, beside another program's values). Until its clean-up batch has run, an
// uninstallation leaves the preferences, the batch and what its own processes hold (the version's installer and
// library).
TEST(InstallerScenarioTest, RegistryRowsInAPrefixOfTheirOwn) {
  if (!std::getenv("ZORVI_OWN_PREFIX"))
    GTEST_SKIP()
        << "Writes the machine's classes and uninstall entries: the area's check runs it in a prefix of its own";
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  // The product's uninstall entries "" and "1" .. `taken` - 1 already there (the oracle reads their number in
  // "taken"), and for a machine-wide one an earlier DDE key below its class.
  const auto install = [](bool machine, int taken = 0) {
    ScenarioRun run = PerUser();
    if (machine)
      run.switches = L"--allusers=1 --launchzorvi=0";
    run.setup = [=](Scenario& scenario) {
      for (int suffix = 0; suffix < taken; ++suffix) {
        const std::wstring entry = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                   base::UTF8ToWide(scenario.product() + " " + scenario.version()) +
                                   (suffix ? std::to_wstring(suffix) : L"");
        EXPECT_EQ(ERROR_SUCCESS, base::win::RegKey().Create(HKEY_CURRENT_USER, entry.c_str(), KEY_READ));
      }
      EXPECT_TRUE(test_support::WriteFileBytes(scenario.root().Append(L"taken").value(), std::to_string(taken)));
      const std::wstring dde = scenario.ClassKey() + L"\\shell\\open\\ddeexec\\Topic";
      EXPECT_TRUE(!machine || base::win::RegKey().Create(HKEY_LOCAL_MACHINE, dde.c_str(), KEY_READ) == ERROR_SUCCESS);
    };
    return run;
  };
  const auto uninstall = [](bool damaged) {
    ScenarioRun run = Uninstall();
    run.setup = [=](Scenario& scenario) {
      if (!damaged)
        return;
      const base::FilePath path = scenario.install().Append(kInstallLogFileName);
      InstallLog log;
      XmlDocument document;
      ASSERT_TRUE(LoadInstallLog(&document, &log, path));
      for (InstallLogKey& key : log.user_keys) {
        if (key.path == "Software\\Classes\\.zex" || key.path.find("\\Uninstall\\") != std::string::npos)
          key.clean_level = 3;
      }
      ASSERT_TRUE(SaveInstallLog(log, path));
      base::win::RegKey others(HKEY_CURRENT_USER, L"Software\\Classes\\.htm\\OpenWithProgIDs", KEY_SET_VALUE);
      EXPECT_EQ(ERROR_SUCCESS, others.WriteValue(L"OtherBrowser.HTML", L""));
      EXPECT_EQ(ERROR_SUCCESS, others.Create(HKEY_CURRENT_USER, L"Software", KEY_SET_VALUE));
      EXPECT_EQ(ERROR_SUCCESS, others.WriteValue(L"Sentinel", L"kept"));
    };
    run.check = [](Scenario& scenario) {
      const std::string version = scenario.version() + "\\";
      EXPECT_EQ((std::set<std::string>{"installer_prefs.json", "k.bat", version, version + "installer.exe",
                                       version + "zorvi.dll"}),
                Names(scenario.install()));
    };
    return run;
  };
  // Groups run one after the other: an uninstallation removes ".zex\OpenWithProgIDs" whole, as the product's own
  // key, and the XP-level version is the backend's program's.
  const PackageOptions small = {.data_files = 1};
  const std::vector<Row> groups[] = {
      {{L"per_user_damaged_uninstalled", {install(false), uninstall(true)}, false, small},
       {L"machine_wide_uninstalled", {install(true), uninstall(false)}, false, small}},
      {{L"per_user_win7", {install(false, 2)}, true, small, L"Apps {Version} x"},
       {L"machine_wide_win7", {install(true)}, false, small, L"{InstallFolder}"}},
      {{L"per_user_xp", {install(false)}, true, small}, {L"machine_wide_xp", {install(true)}, false, small}},
  };
  const std::wstring version_key = L"Software\\Wine\\AppDefaults\\installer.exe";
  std::string listing;
  for (const std::vector<Row>& group : groups) {
    if (&group == &groups[2]) {
      base::win::RegKey key(HKEY_CURRENT_USER, version_key.c_str(), KEY_SET_VALUE);
      EXPECT_EQ(ERROR_SUCCESS, key.WriteValue(L"Version", L"winxp64"));
    }
    const std::vector<std::unique_ptr<Scenario>> scenarios = RunScenarios(group);
    for (size_t i = 0; i < group.size(); ++i) {
      listing += base::WideToUTF8(group[i].name) + "\t" + scenarios[i]->root().BaseName().AsUTF8() + "\t" +
                 scenarios[i]->install().AsUTF8() + "\n";
    }
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, version_key.c_str());
  CoUninitialize();
  EXPECT_TRUE(test_support::WriteFileBytes(
      base::FilePath(test_support::TestDataDir()).Append(L"registry_scenarios.txt").value(), listing));
}

}  // namespace
}  // namespace zorvi::installer::test
