// A controller without a window or a fetcher, for tests of everything that runs under a controller: it builds
// the Settings from its command line as the installer's entry does, waits for their status, runs an
// InstallerRunner and records every InstallerObserver call. Test programs only; never shipped.
//
// Switches (besides the installer's own "installfolder", "uninstall", "silent", "autoupdate",
// "replacekadroinstallation" and whatever the Settings read):
//   --package-folder=DIR     the runner's package (download) folder; its "installer.exe" is the package's
//   --own-exe=PATH           stands for this process's executable (path keys 6 and 2), e.g. an installer in a
//                            version subfolder: the runner starts it as the backend until the package is ready
//   --package-ready=before   OnPackageReady before Run
//   --package-ready-at=N     OnPackageReady, twice, right after the N-th observer call
//   --stop-at=N              InstallerRunner::Stop right after the N-th observer call
//   --die-at=N               ends this process (TerminateProcess) right after the N-th observer call
//   --observer-log=PATH      every observer call appended as a JSON line (see testing/installer/installer_observer_recorder.h)
//   --log-file=PATH          this process's log (verbosity from --v, 2 by default)
//   --time-limit=SECONDS     hard limit (default 60): past it the message "time limit of N s reached" goes to
//                            standard error and the whole process tree (this process and every backend it
//                            started) is ended with exit code 124
// The installer's test seams come from the environment (testing/installer/installer_test_seams_from_environment.h), as in
// every other process of the scenario.
// Exit code: 0 after OnInstallerTerminated(true); 1 after OnInstallerTerminated(false); 2 when Run refused to
// start; 3 when the process could not be set up; 124 at the time limit.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/settings.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/installer/installer_test_seams_from_environment.h"
#include "testing/installer/settings_status_wait.h"

namespace {

using namespace zorvi::installer;

constexpr int kExitTimeLimit = 124;

int IntSwitch(const base::CommandLine& command_line, const char* name) {
  return command_line.HasSwitch(name) ? std::stoi(command_line.GetSwitchValueASCII(name)) : -1;
}

// Ends this process and its descendants after `seconds`: they all belong to a job of this process's own (a
// backend started without breaking away stays in it), and the job is not killed when this process merely dies.
void StartTimeLimit(int seconds) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  const bool whole_tree = job && AssignProcessToJobObject(job, GetCurrentProcess());
  std::thread([job, whole_tree, seconds] {
    Sleep(static_cast<DWORD>(seconds) * 1000);
    std::fprintf(stderr, "headless controller: time limit of %d s reached, ending %s\n", seconds,
                 whole_tree ? "the process tree" : "this process (its job could not be made)");
    std::fflush(stderr);
    if (whole_tree)
      TerminateJobObject(job, kExitTimeLimit);
    TerminateProcess(GetCurrentProcess(), kExitTimeLimit);
  }).detach();
}

}  // namespace

int main() {
  base::CommandLine::Init();
  base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  base::AtExitManager exit_manager;
  StartTimeLimit(command_line.HasSwitch("time-limit") ? IntSwitch(command_line, "time-limit") : 60);
  if (!command_line.HasSwitch("v"))
    command_line.AppendSwitchASCII("v", "2");
  const std::wstring log_file = command_line.GetSwitchValueNative("log-file");
  logging::LoggingSettings log_settings;
  if (!log_file.empty())
    log_settings.log_file = log_file.c_str();
  logging::InitLogging(log_settings);
  logging::SetLogItems(true, true, true, false);
  std::string seams_error;
  if (!test_support::ApplyInstallerTestSeamsFromEnvironment(&seams_error)) {
    LOG(ERROR) << seams_error;
    std::fprintf(stderr, "headless controller: %s\n", seams_error.c_str());
    return 3;
  }

  if (command_line.HasSwitch("own-exe")) {
    const base::FilePath own_exe = command_line.GetSwitchValuePath("own-exe");
    if (!base::PathService::Override(base::kExeFile, own_exe) ||
        !base::PathService::Override(base::kExeDir, own_exe.DirName())) {
      return 3;
    }
  }
  test_support::InstallerObserverRecorder recorder;
  if (command_line.HasSwitch("observer-log") && !recorder.AppendToFile(command_line.GetSwitchValueNative("observer-log")))
    return 3;

  base::MessageLoop loop;
  int exit_code = 2;
  {
    std::unique_ptr<Settings> settings = test_support::SettingsAsTheEntryMakesThem(command_line);
    if (!settings)
      return 3;
    test_support::WaitForSettingsStatus(settings.get());

    InstallerRunner runner(command_line.GetSwitchValuePath("package-folder"));
    runner.AddObserver(&recorder);
    base::RunLoop run_loop;
    const int package_ready_at = IntSwitch(command_line, "package-ready-at");
    const int stop_at = IntSwitch(command_line, "stop-at");
    const int die_at = IntSwitch(command_line, "die-at");
    recorder.set_after_call([&](const std::string& line, size_t count) {
      const int n = static_cast<int>(count);
      if (n == package_ready_at) {
        runner.OnPackageReady();
        runner.OnPackageReady();
      }
      if (n == stop_at)
        runner.Stop();
      if (n == die_at)
        TerminateProcess(GetCurrentProcess(), 3);
      if (line == test_support::InstallerObserverRecorder::TerminatedLine(true) ||
          line == test_support::InstallerObserverRecorder::TerminatedLine(false)) {
        exit_code = line == test_support::InstallerObserverRecorder::TerminatedLine(true) ? 0 : 1;
        run_loop.Quit();
      }
    });
    if (command_line.GetSwitchValueASCII("package-ready") == "before")
      runner.OnPackageReady();
    if (runner.Run(settings.get()))
      run_loop.Run();
    LOG(INFO) << "Controller exiting";
  }
  CoUninitialize();
  return exit_code;
}
