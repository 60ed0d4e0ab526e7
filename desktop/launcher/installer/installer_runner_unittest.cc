// The runner and its backend end to end: the headless controller runs an InstallerRunner whose backend is the
// fake backend (the product's InstallerRunnerBackend with a scripted installation), copied as "installer.exe"
// into a package folder or standing for the controller's own executable. Every observer call the controller
// saw is compared with the script, and the backend's record says how it was started.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/json/json_reader.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/installer_runner_backend.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/service/utils.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {
namespace {

using Recorder = test_support::InstallerObserverRecorder;

// How often `text` occurs in the file.
int Occurrences(const base::FilePath& path, const std::string& text) {
  std::string contents;
  test_support::ReadFileBytes(path.value(), &contents);
  int found = 0;
  for (size_t at = contents.find(text); at != std::string::npos; at = contents.find(text, at + 1))
    ++found;
  return found;
}

// One installation: a folder of its own with the package folder, an installer in a version subfolder that
// stands for the controller's executable, and the install folder.
class Scenario {
 public:
  explicit Scenario(const std::wstring& name) : root_(name), root_path_(root_.path()) {
    package_ = root_path_.Append(L"download");
    own_ = root_path_.Append(L"Zorvi").Append(L"39.0.2234.0");
    install_ = root_path_.Append(L"Zorvi");
    CreateDirectoryW(package_.value().c_str(), nullptr);
    CreateDirectoryW(install_.value().c_str(), nullptr);
    CreateDirectoryW(own_.value().c_str(), nullptr);
  }

  // Puts the fake backend as "installer.exe" with `script` into the package folder or the version folder.
  void PutBackend(bool in_package, const std::string& script) {
    const base::FilePath folder = in_package ? package_ : own_;
    ASSERT_TRUE(CopyFileW(TestProgram(L"fake_backend_test_child.exe").value().c_str(),
                          folder.Append(L"installer.exe").value().c_str(), FALSE));
    ASSERT_TRUE(test_support::WriteFileBytes(folder.Append(L"fake_backend_script.txt").value(), script));
  }

  std::wstring ControllerSwitches(const std::wstring& switches, const std::wstring& log_name = L"") const {
    const std::wstring log = log_name.empty() ? L"" : log_name + L"_";
    return L"--installfolder=\"" + install_folder_or_override() + L"\" --package-folder=\"" + package_.value() +
           L"\" --own-exe=\"" + own_.Append(L"installer.exe").value() + L"\" --observer-log=\"" +
           root_path_.Append(log + L"observer.jsonl").value() + L"\" --log-file=\"" +
           root_path_.Append(log + L"controller.log").value() + L"\" " + switches;
  }

  std::vector<std::string> ObserverLines(const std::wstring& log_name = L"") const {
    return ReadLines(root_path_.Append((log_name.empty() ? L"" : log_name + L"_") + L"observer.jsonl"));
  }

  // The backend's records in `folder`, parsed.
  std::vector<std::unique_ptr<base::Value>> Records(const base::FilePath& folder) const {
    std::vector<std::unique_ptr<base::Value>> records;
    for (const std::string& line : ReadLines(folder.Append(L"fake_backend_record.jsonl")))
      records.push_back(base::JsonReader::Read(line));
    return records;
  }

  void set_install_folder(const base::FilePath& folder) { install_override_ = folder; }
  std::wstring install_folder_or_override() const {
    return install_override_.empty() ? install_.value() : install_override_.value();
  }
  const base::FilePath& root() const { return root_path_; }
  const base::FilePath& package() const { return package_; }
  const base::FilePath& own() const { return own_; }

 private:
  test_support::ScopedTestFolder root_;
  const base::FilePath root_path_;
  base::FilePath package_;
  base::FilePath own_;
  base::FilePath install_;
  base::FilePath install_override_;
};

// A record's value under `key`, else `value`.
template <typename T>
T ValueOf(const base::Value& record, const char* key, T value = T()) {
  const base::DictionaryValue* dictionary = nullptr;
  if (!record.GetAsDictionary(&dictionary))
    return value;
  if constexpr (std::is_same_v<T, std::string>)
    dictionary->GetString(key, &value);
  else if constexpr (std::is_same_v<T, int>)
    dictionary->GetInteger(key, &value);
  else
    dictionary->GetBoolean(key, &value);
  return value;
}

enum class Backend { kNone, kPackage, kOwn };
// How the backend's own run ended: as the controller's did, with success although the controller's failed, or
// killed (nothing recorded at its end).
enum class BackendEnd { kAsTheController, kSucceeded, kKilled };

struct ScenarioRow {
  const char* name;
  Backend backend;  // which copy the runner must start
  const char* script;
  const wchar_t* switches;
  std::vector<std::string> expected;
  DWORD exit_code;
  BackendEnd end = BackendEnd::kAsTheController;
};

std::vector<std::string> Steps(int count) {
  return std::vector<std::string>(count, Recorder::SimpleLine("OnStep"));
}

const ScenarioRow kRows[] = {
    {"EveryNotificationWithThePackageReadyBeforeRun", Backend::kPackage,
     "folder-ready\nstarting 1\nreturned\nstarting 0\nreturned\ntotal 4\nstep 4\nsuccess\n", L"--package-ready=before",
     JoinLines({{Recorder::SimpleLine("OnInstallFolderReady"), Recorder::StartingNewMainProcessLine(true),
            Recorder::SimpleLine("OnReturnedToPreviousMainProcess"), Recorder::StartingNewMainProcessLine(false),
            Recorder::SimpleLine("OnReturnedToPreviousMainProcess"), Recorder::TotalStepsLine(4)},
           Steps(4),
           {Recorder::SimpleLine("OnInstallerSuccess"), Recorder::TerminatedLine(true)}}),
     0},
    {"PackageReadyAtTheSecondNotification", Backend::kOwn, "folder-ready\ntotal 2\nwait-package\nstep 2\nsuccess\n",
     L"--package-ready-at=2",
     JoinLines({{Recorder::SimpleLine("OnInstallFolderReady"), Recorder::TotalStepsLine(2)},
           Steps(2),
           {Recorder::SimpleLine("OnInstallerSuccess"), Recorder::TerminatedLine(true)}}),
     0},
    {"ExitCodeZeroAfterAnError", Backend::kOwn, "total 1\nresult 1\nerror 37055 C:\\Z\xC3\xB6rvi|no write access\n",
     L"",
     {Recorder::TotalStepsLine(1), Recorder::ErrorLine(37055, L"C:\\Z\u00f6rvi", "no write access"),
      Recorder::TerminatedLine(false)},
     1, BackendEnd::kSucceeded},
    // A backend that ends without a success or an error failed, whatever its exit code: its process may have been
    // killed (wine reports a killed process's exit code as 0).
    {"CleanExitWithoutAWord", Backend::kOwn, "folder-ready\nresult 1\nterminated 1\n", L"",
     {Recorder::SimpleLine("OnInstallFolderReady"), Recorder::ErrorLine(37050, L"", kBackendEndedWithoutResultMessage),
      Recorder::TerminatedLine(false)},
     1, BackendEnd::kSucceeded},
    {"KilledWithExitCodeZero", Backend::kOwn, "kill 0\n", L"",
     {Recorder::ErrorLine(37050, L"", kBackendEndedWithoutResultMessage), Recorder::TerminatedLine(false)}, 1,
     BackendEnd::kKilled},
    // The package's installer reports its success to the same mailslot; the backend that handed the run over is
    // killed after it has returned (the announcement of another child makes sure that its messages are out).
    {"KilledAfterTheHandOversSuccess", Backend::kOwn, "starting 0\nrun-package\nreturned\nstarting 0\nkill 0\n", L"",
     {Recorder::StartingNewMainProcessLine(false), Recorder::SimpleLine("OnInstallerSuccess"),
      Recorder::SimpleLine("OnReturnedToPreviousMainProcess"), Recorder::StartingNewMainProcessLine(false),
      Recorder::ErrorLine(37050, L"", kBackendEndedWithoutResultMessage), Recorder::TerminatedLine(false)},
     1, BackendEnd::kKilled},
    {"ErrorAndFailure", Backend::kOwn, "error 37057 |copy failed\n", L"",
     {Recorder::ErrorLine(37057, L"", "copy failed"), Recorder::TerminatedLine(false)}, 1},
    {"StopAtTheFirstNotification", Backend::kOwn,
     "folder-ready\nwait-interrupt\nerror 37050 |interrupted\n", L"--stop-at=1",
     {Recorder::SimpleLine("OnInstallFolderReady"), Recorder::TerminatedLine(false)}, 1},
    {"NoOperation", Backend::kNone, "success\n", L"",
     {Recorder::ErrorLine(37053, L"", "Attempting to start installation with invalid settings")}, 2},
    {"MailslotPathOf260Characters", Backend::kOwn, "folder-ready\ntotal 1\nsuccess\n", L"",
     {Recorder::TerminatedLine(true)}, 0},
    {"EventsLeftSetByAnEarlierRun", Backend::kOwn, "folder-ready\nsuccess\n", L"",
     {Recorder::SimpleLine("OnInstallFolderReady"), Recorder::SimpleLine("OnInstallerSuccess"),
      Recorder::TerminatedLine(true)},
     0},
};

void PrintTo(const ScenarioRow& row, std::ostream* out) {
  *out << row.name;
}

class RunnerScenarioTest : public testing::TestWithParam<ScenarioRow> {};

TEST_P(RunnerScenarioTest, ControllerHearsWhatTheBackendSends) {
  const ScenarioRow& row = GetParam();
  Scenario scenario(L"Runner");
  scenario.PutBackend(row.backend == Backend::kPackage, row.script);
  const std::string name = row.name;
  if (name == "NoOperation") {
    scenario.set_install_folder(scenario.root().Append(L"bad|name"));
  } else if (name == "KilledAfterTheHandOversSuccess") {
    scenario.PutBackend(true, "success\n");
  } else if (name == "MailslotPathOf260Characters") {
    // "\\.\mailslot\zorvi_installer\" is 29 characters: a folder of 231 makes the mailslot's path 260 long.
    const size_t length = scenario.root().value().size() + 1;
    scenario.set_install_folder(scenario.root().Append(std::wstring(231 - length, L'l')));
    ASSERT_EQ(231u, scenario.install_folder_or_override().size());
  }
  // An earlier run's backend may still hold the installation's events, set by its controller.
  test_support::ScopedTestHandle earlier_events[2];
  if (name == "EventsLeftSetByAnEarlierRun") {
    const wchar_t* const bases[] = {kPackageReadyEventBase, kInstallationInterruptedEventBase};
    for (int i = 0; i < 2; ++i) {
      const std::wstring event_name =
          GetInstallerKernelObjectName(scenario.install_folder_or_override(), bases[i], true);
      earlier_events[i].reset(CreateEventW(nullptr, TRUE, TRUE, event_name.c_str()));
      ASSERT_TRUE(earlier_events[i].valid());
    }
  }
  ControllerProcess controller(scenario.ControllerSwitches(row.switches));
  EXPECT_EQ(row.exit_code, controller.Wait());
  EXPECT_EQ(row.expected, scenario.ObserverLines());

  const base::FilePath backend_folder = row.backend == Backend::kPackage ? scenario.package() : scenario.own();
  const std::vector<std::unique_ptr<base::Value>> records = scenario.Records(backend_folder);
  if (row.backend == Backend::kNone) {
    EXPECT_TRUE(records.empty());
    return;
  }
  ASSERT_EQ(row.end == BackendEnd::kKilled ? 1u : 2u, records.size());
  const base::Value& start = *records[0];
  const std::string command_line = ValueOf<std::string>(start, "command_line");
  const std::string program = base::WideToUTF8(backend_folder.Append(L"installer.exe").value());
  EXPECT_EQ(0u, command_line.find("\"" + program + "\"")) << command_line;
  const std::string wait_switch = "--wait-for-package=\"" + base::WideToUTF8(scenario.package().value()) + "\"";
  EXPECT_EQ(row.backend == Backend::kOwn, command_line.find(wait_switch) != std::string::npos) << command_line;
  // The package's backend is told the runner's installer, which its elevated run starts from, waiting for the
  // package, whose event is set already.
  const std::string runner_installer =
      "--runner-installer=\"" + base::WideToUTF8(scenario.own().Append(L"installer.exe").value()) + "\"";
  EXPECT_EQ(row.backend == Backend::kPackage, command_line.find(runner_installer) != std::string::npos)
      << command_line;
  EXPECT_TRUE(ValueOf(start, "package_ready_event", false));
  // A run starts without an interruption, and with the package ready only when it was ready before.
  EXPECT_EQ(row.backend == Backend::kPackage, ValueOf(start, "package_ready_set", false));
  EXPECT_FALSE(ValueOf(start, "interrupted_set", true));
  EXPECT_NE(std::string::npos, command_line.find(" --backend")) << command_line;
  // The handle named on the command line: the controller's process, for waiting only.
  EXPECT_EQ(std::to_string(controller.pid()), ValueOf<std::string>(start, "initial_pid"));
  EXPECT_EQ("Process", ValueOf<std::string>(start, "handle_type"));
  EXPECT_EQ(SYNCHRONIZE, static_cast<DWORD>(ValueOf(start, "handle_access", -1)));
  EXPECT_TRUE(ValueOf(start, "handle_is_initial_process", false));
  if (row.end != BackendEnd::kKilled) {
    EXPECT_EQ(row.end == BackendEnd::kSucceeded || row.exit_code == 0, ValueOf(*records[1], "returned", false));
  }

  EXPECT_EQ(name == "PackageReadyAtTheSecondNotification" ? 1 : 0,
            Occurrences(scenario.root().Append(L"controller.log"),
                        "Informing the installer backend that the package is ready"));
  if (name == "MailslotPathOf260Characters") {
    EXPECT_LT(0, Occurrences(scenario.root().Append(L"controller.log"), "Failed creating \\\\.\\mailslot\\"));
    EXPECT_LT(0, Occurrences(backend_folder.Append(L"fake_backend.log"), "Failed opening \\\\.\\mailslot\\"));
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, RunnerScenarioTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<ScenarioRow>& info) { return std::string(info.param.name); });

// Also once the first controller has been stopped: its backend outlives the Stop (here until the test lets it go).
// The second controller may spell the folder otherwise: in upper case, or with a doubled separator.
enum class Spelling { kSame, kUpperCase, kDoubledSeparator };
class SecondControllerTest : public testing::TestWithParam<std::tuple<bool, Spelling>> {};

TEST_P(SecondControllerTest, OnTheSameFolderIsRefusedWhileTheFirstsBackendRuns) {
  const auto [stopped, spelling] = GetParam();
  Scenario scenario(L"Runner");
  test_support::ScopedTestHandle started(CreateEventW(nullptr, TRUE, FALSE, test_support::UniqueName(L"started").c_str()));
  test_support::ScopedTestHandle go_on(CreateEventW(nullptr, TRUE, FALSE, test_support::UniqueName(L"go_on").c_str()));
  scenario.PutBackend(false, std::string(stopped ? "folder-ready\nwait-interrupt" : "folder-ready") + "\nsignal " +
                                 base::WideToUTF8(test_support::UniqueName(L"started")) +
                                 "\nwait-event " + base::WideToUTF8(test_support::UniqueName(L"go_on")) + "\nsuccess\n");
  ControllerProcess first(scenario.ControllerSwitches(stopped ? L"--stop-at=1" : L"", L"first"));
  HANDLE waits[] = {started.get(), first.handle()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, ControllerProcess::kWaitLimitMs))
      << "the first backend never started";

  std::wstring folder = scenario.install_folder_or_override();
  if (spelling == Spelling::kUpperCase) {
    for (wchar_t& c : folder)
      c = base::ToUpperASCII(c);
  } else if (spelling == Spelling::kDoubledSeparator) {
    folder.insert(folder.rfind(L'\\'), L"\\");
  }
  scenario.set_install_folder(base::FilePath(folder));
  ControllerProcess second(scenario.ControllerSwitches(L"", L"second"));
  EXPECT_EQ(2u, second.Wait());
  EXPECT_EQ(std::vector<std::string>{Recorder::ErrorLine(37052, L"", "Could not acquire installer mutex")},
            scenario.ObserverLines(L"second"));

  SetEvent(go_on.get());
  // A stopped run hears nothing more, its backend's success included: it is no success.
  EXPECT_EQ(stopped ? 1u : 0u, first.Wait());
  std::vector<std::string> lines = {Recorder::SimpleLine("OnInstallFolderReady"),
                                      Recorder::SimpleLine("OnInstallerSuccess"), Recorder::TerminatedLine(!stopped)};
  if (stopped)
    lines.erase(lines.begin() + 1);
  EXPECT_EQ(lines, scenario.ObserverLines(L"first"));
}

INSTANTIATE_TEST_SUITE_P(RunOnOrStopped, SecondControllerTest,
                         testing::Combine(testing::Bool(), testing::Values(Spelling::kSame, Spelling::kUpperCase,
                                                                           Spelling::kDoubledSeparator)));

TEST(RunnerTest, ControllersDeathEndsTheBackendsRun) {
  Scenario scenario(L"Runner");
  scenario.PutBackend(false, "folder-ready\nhang\n");
  ControllerProcess controller(scenario.ControllerSwitches(L"--die-at=1"));
  EXPECT_EQ(3u, controller.Wait());
  EXPECT_EQ(std::vector<std::string>{Recorder::SimpleLine("OnInstallFolderReady")}, scenario.ObserverLines());
  std::vector<std::unique_ptr<base::Value>> records = scenario.Records(scenario.own());
  ASSERT_FALSE(records.empty());
  // Its process may be gone already; if not, it must end by itself.
  HANDLE backend = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(ValueOf(*records[0], "pid", -1)));
  if (backend) {
    ControllerProcess::WaitFor(backend);
    CloseHandle(backend);
  }
  records = scenario.Records(scenario.own());
  ASSERT_EQ(2u, records.size());
  EXPECT_FALSE(ValueOf(*records[1], "returned", false));
  EXPECT_LT(0, Occurrences(scenario.own().Append(L"fake_backend.log"), "Installer UI process ended"));
}

TEST(RunnerTest, SuccessSentJustBeforeTheBackendEndsIsNeverLost) {
  constexpr int kRuns = 50;
  constexpr int kAtOnce = 10;
  const std::vector<std::string> expected = {Recorder::SimpleLine("OnInstallerSuccess"), Recorder::TerminatedLine(true)};
  int complete = 0;
  for (int batch = 0; batch < kRuns / kAtOnce; ++batch) {
    std::vector<std::unique_ptr<Scenario>> scenarios;
    std::vector<std::unique_ptr<ControllerProcess>> controllers;
    for (int i = 0; i < kAtOnce; ++i) {
      scenarios.push_back(std::make_unique<Scenario>(L"Runner" + std::to_wstring(i)));
      scenarios.back()->PutBackend(false, "success\n");
      controllers.push_back(std::make_unique<ControllerProcess>(scenarios.back()->ControllerSwitches(L"")));
    }
    for (int i = 0; i < kAtOnce; ++i) {
      EXPECT_EQ(0u, controllers[i]->Wait());
      const std::vector<std::string> lines = scenarios[i]->ObserverLines();
      EXPECT_EQ(expected, lines) << "run " << batch * kAtOnce + i;
      complete += lines == expected;
    }
  }
  EXPECT_EQ(kRuns, complete);
}

// The backend's start-up checks, in this process: each failure is logged and nothing reaches a mailslot. (A
// usable handle starts the installation: the scenarios above.)
class BackendStartUpTest : public InstallerMainThreadTest {
 protected:
  BackendStartUpTest() : saved_(*base::CommandLine::ForCurrentProcess()) {}
  ~BackendStartUpTest() override { *base::CommandLine::ForCurrentProcess() = saved_; }

 private:
  const base::CommandLine saved_;
};

TEST_F(BackendStartUpTest, InitialProcessSwitchesThatCannotBeUsedEndTheRun) {
  HANDLE own = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0));
  const uint64_t own_value = reinterpret_cast<uintptr_t>(own);
  char own_hex[17];
  for (int i = 0; i < 8; ++i)
    snprintf(own_hex + 2 * i, 3, "%02X", static_cast<unsigned>(own_value >> (8 * i) & 0xFF));
  struct Row {
    const char* switch_name;
    std::string value;
    const char* error;
  } rows[] = {
      {"initial-proc-handle", std::string(own_hex).substr(0, 14), "Failed parsing initial process handle"},
      {"initial-proc-handle", std::string(own_hex) + "00", "Failed parsing initial process handle"},
      {"initial-proc-handle", "0G00000000000000", "Failed parsing initial process handle"},
      {"initial-pid", "12x", "Failed parsing initial pid"},
      {"initial-pid", "4294967292", "Failed opening initial process"},
      {nullptr, "", "Missing information about initial process"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.switch_name ? row.switch_name : "none") + "=" + row.value);
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    command_line.AppendSwitch("backend");
    if (row.switch_name)
      command_line.AppendSwitchASCII(row.switch_name, row.value);
    *base::CommandLine::ForCurrentProcess() = command_line;
    test_support::ScopedLogCapture log;
    {
      InstallerRunnerBackend backend;
      EXPECT_FALSE(backend.Run(nullptr));
    }
    EXPECT_TRUE(log.HasLineStartingWith(row.error, logging::LOG_ERROR)) << log.Text();
    EXPECT_FALSE(log.HasLineStartingWith("Preparing to send IPC")) << log.Text();
  }
  CloseHandle(own);
}

}  // namespace
}  // namespace zorvi::installer::test
