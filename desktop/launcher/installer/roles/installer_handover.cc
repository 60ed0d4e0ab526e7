// The Installer's hand-overs to other installer processes: an elevated run of the whole installation, an elevated
// helper that grants this user the install folder, and the package's own installer once the package is ready.
// The thread waits for each child, so the run's tasks (and an interruption) wait too; only the package wait
// returns to the loop until the package-ready event's watcher calls back.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/roles/checked_package_copy.h"
#include "desktop/launcher/installer/roles/elevation.h"
#include "desktop/launcher/installer/roles/folder_permission.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/inherited_handle.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/windows/crash_reporter/client/crash_client_startup.h"

namespace zorvi::installer {

namespace {

// The results of the two elevations.
constexpr int kElevationSucceeded = 0;
constexpr int kElevationImpossible = 1;
constexpr int kElevatedChildFailed = 2;
constexpr int kElevationSetUpError = 3;

void LogError(DWORD error, const char* text) {
  logging::Win32ErrorLogMessage(__FILE__, __LINE__, logging::LOG_ERROR, error).stream() << text;
}

base::win::ScopedHandle CreateAutoResetEvent(const std::wstring& name) {
  return base::win::ScopedHandle(CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
}

// The installer an elevated process starts from: this one, unless it runs from a ready package, whose folder is the
// user's; then the installer the runner runs from. False (logged) when there is none.
bool GetElevatedProgram(base::FilePath* program) {
  const base::CommandLine& process = *base::CommandLine::ForCurrentProcess();
  *program = process.GetSwitchValuePath(kRunnerInstallerSwitch);
  if (program->empty() && !base::PathService::Get(base::kExeFile, program)) {
    LOG(ERROR) << "Failed to obtain installer exe file path";
    return false;
  }
  return true;
}

}  // namespace

void Installer::NotifyChildStarting() {
  observers_.ForEach([](InstallerObserver* observer) { observer->OnStartingNewMainProcess(false); });
}

void Installer::NotifyChildEnded() {
  observers_.ForEach([](InstallerObserver* observer) { observer->OnReturnedToPreviousMainProcess(); });
}

int Installer::RunElevated() {
  LOG(INFO) << "Running the installer elevated.";
  if (!IsUACEnabled()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return kElevationImpossible;
  }
  const base::CommandLine& process = *base::CommandLine::ForCurrentProcess();
  // The browser would start as the administrator: the elevated run never starts it.
  base::CommandLine command_line = settings_->ToCommandLine(true);
  command_line.AppendSwitchASCII(kParentPidSwitch, std::to_string(GetCurrentProcessId()));
  const bool wait_for_package = process.HasSwitch(kWaitForPackageSwitch);
  // Run from a ready package, the elevated run must not take this folder's files: it waits for the package as a
  // run that found it unready does, and so hands over by the ready event's owner (another account's package only
  // as a checked copy). This process then does the user's part itself.
  const base::FilePath package_folder = wait_for_package ? process.GetSwitchValuePath(kWaitForPackageSwitch)
                                        : process.HasSwitch(kRunnerInstallerSwitch) ? own_folder_
                                                                                    : base::FilePath();
  if (!package_folder.empty())
    command_line.AppendSwitchFilePath(kWaitForPackageSwitch, package_folder);
  base::FilePath executable;
  if (!GetElevatedProgram(&executable))
    return kElevationSetUpError;
  NotifyChildStarting();
  // The installer's run holds its file (own_executable.h), this one's or the runner's: the elevated process starts
  // from that same file.
  if (const PackageFileUseHook hook = GetPackageFileUseHook())
    hook(executable);
  const base::win::ScopedHandle child = LaunchElevated(executable, command_line.GetArgumentsString());
  if (!child.IsValid()) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return kElevationImpossible;
  }
  const DWORD wait = WaitForSingleObject(child.Get(), INFINITE);
  const DWORD wait_error = GetLastError();
  NotifyChildEnded();
  if (wait == WAIT_FAILED) {
    LogError(wait_error, "Failed wait for the elevated installer");
    return kElevatedChildFailed;
  }
  if (wait != WAIT_OBJECT_0) {
    LOG(ERROR) << "Unexpected result when waiting for the elevated installer";
    return kElevatedChildFailed;
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(child.Get(), &exit_code) || exit_code != 0) {
    LOG(ERROR) << "The elevated installer ended with exit code " << exit_code;
    return kElevatedChildFailed;
  }
  // The elevated run waited for the package and handed over to it, so the event is set: the hand-over for this
  // user runs at once.
  if (wait_for_package)
    WaitForPackage(true);
  else
    RunPostElevationTasks();
  return kElevationSucceeded;
}

int Installer::ObtainFolderPermissionElevated(const base::FilePath& folder, bool permanent) {
  LOG(INFO) << "Run an elevated process in order to " << (permanent ? "permanently" : "temporarily")
            << " give permissions on the" << "install folder to this process";
  if (!IsUACEnabled()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return kElevationImpossible;
  }
  const base::CommandLine& process = *base::CommandLine::ForCurrentProcess();
  FolderPermissionRequest request;
  request.folder = folder;
  if (!GetCurrentUserName(false, &request.user_name)) {
    LOG(ERROR) << "Failed to obtain user name";
    return kElevationSetUpError;
  }
  LOG(INFO) << "User name is" << request.user_name;
  request.permanent = permanent;
  // A helper that grants for good ends at once, before the uninstallation has written its batch: the run then
  // starts the batch itself.
  request.run_uninstall_batch = !permanent && settings_->operation() == Settings::kOperationUninstall;
  request.crash_reporter_pid = GetCrashReporterProcessId();
  request.wait_for_package = process.HasSwitch(kWaitForPackageSwitch);
  request.package_folder = process.GetSwitchValuePath(kWaitForPackageSwitch);
  request.initial_pid = process.GetSwitchValueNative(kInitialPidSwitch);
  base::CommandLine command_line;
  AppendFolderPermissionSwitches(request, &command_line);
  base::FilePath executable;
  if (!GetElevatedProgram(&executable))
    return kElevationSetUpError;
  base::win::ScopedHandle granted = CreateAutoResetEvent(GetGiveInstallPermissionEventName(folder));
  base::win::ScopedHandle undo = granted.IsValid() ? CreateAutoResetEvent(GetGiveInstallPermissionUndoEventName(folder))
                                                   : base::win::ScopedHandle();
  if (!undo.IsValid()) {
    PLOG(ERROR) << "Failed to create event for communicating with " << "the elevated process";
    return kElevationSetUpError;
  }
  // Before Vista the helper may run as another account, which the events' default access would keep out.
  if (base::win::GetVersion() < base::win::VERSION_VISTA && (!FixEventACL(granted.Get()) || !FixEventACL(undo.Get())))
    return kElevationSetUpError;
  const base::win::ScopedHandle helper = LaunchElevated(executable, command_line.GetArgumentsString());
  if (!helper.IsValid()) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return kElevationImpossible;
  }
  // The grant first: a helper that granted for good may already have ended as well.
  const HANDLE objects[] = {granted.Get(), helper.Get()};
  if (WaitForMultipleObjects(2, objects, FALSE, INFINITE) != WAIT_OBJECT_0) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return kElevatedChildFailed;
  }
  // Kept until the Installer goes: the end of the run sets it, and the helper then restores the folder.
  undo_event_ = std::move(undo);
  helper_runs_uninstall_batch_ = request.run_uninstall_batch;
  other_process_id_ = GetProcessId(helper.Get());
  return kElevationSucceeded;
}

void Installer::WaitForPackage(bool post_elevated) {
  LOG(INFO) << "Need to wait for actual package";
  post_elevated_ = post_elevated;
  const std::wstring name = GetPackageReadyEventName(install_folder());
  LOG(INFO) << "Event name for package_ready: " << name;
  package_ready_watcher_.StopWatching();
  package_ready_event_.Set(OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE, name.c_str()));
  // An event whose owner may not be read is waited for all the same; its owner is then unknown.
  if (!package_ready_event_.IsValid())
    package_ready_event_.Set(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!package_ready_event_.IsValid()) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed to open a handle to the package ready event");
    return;
  }
  // The event's maker named the package folder and says when it is ready. Only an owner that a process of
  // another account cannot give an object it creates vouches for them.
  const OwnerRights maker = OwnerRightsOf(package_ready_event_.Get());
  package_from_own_rights_ = maker == OwnerRights::kThisProcess;
  if (maker == OwnerRights::kUnreadable)
    LOG(WARNING) << "Cannot read the owner of the package ready event: the package is taken for another account's";
  if (WaitForSingleObject(package_ready_event_.Get(), 0) == WAIT_OBJECT_0) {
    OnObjectSignaled(package_ready_event_.Get());
    return;
  }
  if (!package_ready_watcher_.StartWatchingOnce(package_ready_event_.Get(), this))
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed to watch the package ready event");
}

void Installer::HandOverToPackage() {
  // A run stopped while this thread waited for a child, or as the package became ready, starts no installer.
  if (TakeInterruption())
    return;
  LOG(INFO) << "Package is ready";
  const base::CommandLine& process = *base::CommandLine::ForCurrentProcess();
  const base::FilePath package_folder = process.GetSwitchValuePath(kWaitForPackageSwitch);
  // Another account's folder may hold anything by now: only the checked copy of its package runs, kept until its
  // installer has ended. The copy is unpacked afresh, so its files list names only the package's own files.
  std::optional<CheckedPackageCopy> copy;
  if (!package_from_own_rights_) {
    LOG(WARNING) << "The package was made ready by another account: only a checked copy of it is started; partner "
                    "content from another account's download is left out";
    if (!copy.emplace().Make(package_folder)) {
      LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "The package failed its checks.");
      return;
    }
  }
  base::CommandLine command_line = settings_->ToCommandLine(false);
  command_line.SetProgram(copy ? copy->installer() : package_folder.Append(kPackageInstallerFileName));
  if (post_elevated_)
    command_line.AppendSwitch(kPostElevatedInstallTasksSwitch);
  // The grant lasts for the package's installer, which therefore finds the folder writable and gets no helper of
  // its own; and a run started for another installer process hands that process on, as an elevated run's does.
  if (undo_event_.IsValid())
    command_line.AppendSwitch(kBorrowedWriteAccessSwitch);
  if (process.HasSwitch(kParentPidSwitch))
    command_line.AppendSwitchNative(kParentPidSwitch, process.GetSwitchValueNative(kParentPidSwitch));
  command_line.AppendSwitchASCII(kCrashReporterPidSwitch, std::to_string(GetCrashReporterProcessId()));
  NotifyChildStarting();
  // A folder-permission helper keeps its grant until this run ends (after the package's installer), since the
  // package's installer writes into the folder with it. The process that unpacked the package holds its
  // installer until the run ends, so the file started by its name is the one unpacked; a copy's is held by the copy.
  if (const PackageFileUseHook hook = GetPackageFileUseHook())
    hook(command_line.GetProgram());
  const base::win::ScopedHandle success_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!success_event.IsValid()) {
    PLOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Could not create the package installer's success event");
    return;
  }
  command_line.AppendSwitchASCII(kHandOverSuccessEventSwitch, InheritedHandleSwitchValue(success_event.Get()));
  LOG(INFO) << "Running installer from the package with command line: " << command_line.GetCommandLineString();
  std::vector<HANDLE> inherited = {success_event.Get()};
  base::LaunchOptions options;
  options.wait = true;
  options.handles_to_inherit = &inherited;
  const base::Process child = base::LaunchProcess(command_line, options);
  NotifyChildEnded();
  if (!child.IsValid()) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed to start installer process from the package folder.");
    return;
  }
  EndHandedOverRun(child.Handle(), success_event.Get());
}

void Installer::EndHandedOverRun(HANDLE child, HANDLE success_event) {
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(child, &exit_code) || exit_code != 0) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Installer process did not complete successfully.");
    return;
  }
  // A killed process may leave exit code 0 (wine reports 0 for one killed by a signal, and so does
  // TerminateProcess with 0): without its word of success the child ended without a result.
  if (WaitForSingleObject(success_event, 0) != WAIT_OBJECT_0) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", kBackendEndedWithoutResultMessage);
    return;
  }
  Succeed();
}

void Installer::ReportSuccessToHandingOverInstaller() {
  const base::CommandLine& process = *base::CommandLine::ForCurrentProcess();
  if (!process.HasSwitch(kHandOverSuccessEventSwitch))
    return;
  HANDLE success_event = nullptr;
  if (!ParseInheritedHandleSwitchValue(process.GetSwitchValueNative(kHandOverSuccessEventSwitch), &success_event)) {
    LOG(ERROR) << "Cannot read the success event's handle; the waiting installer will take this run for failed";
    return;
  }
  if (!SetEvent(success_event))
    PLOG(ERROR) << "Cannot set the success event; the waiting installer will take this run for failed";
}

}  // namespace zorvi::installer
