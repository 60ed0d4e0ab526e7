#include "desktop/launcher/installer/roles/folder_permission.h"

#include <windows.h>

#include <cstdio>
#include <iterator>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/roles/checked_package_copy.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/steps/uninstall_batch.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kGiveInstallPermissionEvent[] = L"ZorviInstaller/GiveInstallPermission";
constexpr wchar_t kGiveInstallPermissionUndoEvent[] = L"ZorviInstaller/GiveInstallPermission/Undo";
// The package's installer takes the request over; it watches the same initial process.
constexpr const char* kHandedOverSwitches[] = {kCrashReporterPidSwitch, kSetFolderPermissionSwitch,
                                               kPermissionsForUserSwitch, kPermanentPermissionsSwitch,
                                               kInitialPidSwitch};

// The run's initial process named by "initial-pid", opened for waiting.
bool OpenInitialProcess(const base::CommandLine& command_line, base::win::ScopedHandle* process) {
  unsigned process_id = 0;
  if (!base::StringToUint(command_line.GetSwitchValueNative(kInitialPidSwitch), &process_id) || process_id == 0)
    return false;
  process->Set(OpenProcess(SYNCHRONIZE, FALSE, process_id));
  return process->IsValid();
}

base::win::ScopedHandle OpenNamedEvent(DWORD access, const std::wstring& name) {
  return base::win::ScopedHandle(OpenEventW(access, FALSE, name.c_str()));
}

void WaitForPackageThenHandOver(const base::CommandLine& command_line, const base::FilePath& folder) {
  const base::win::ScopedHandle ready = OpenNamedEvent(SYNCHRONIZE, GetPackageReadyEventName(folder));
  const base::win::ScopedHandle interrupted = OpenNamedEvent(SYNCHRONIZE, GetInstallationInterruptedEventName(folder));
  base::win::ScopedHandle initial;
  if (!ready.IsValid() || !interrupted.IsValid() || !OpenInitialProcess(command_line, &initial))
    return;
  // The package first: when everything happened at once, the package is there to hand over to.
  const HANDLE objects[] = {ready.Get(), interrupted.Get(), initial.Get()};
  if (WaitForMultipleObjects(static_cast<DWORD>(std::size(objects)), objects, FALSE, INFINITE) != WAIT_OBJECT_0)
    return;
  // The package folder, the event and the initial process are the standard user's: only a checked copy starts.
  CheckedPackageCopy copy;
  if (!copy.Make(command_line.GetSwitchValuePath(kWaitForPackageSwitch)))
    return;
  base::CommandLine installer(copy.installer());
  installer.CopySwitchesFrom(command_line, kHandedOverSwitches, std::size(kHandedOverSwitches));
  if (const PackageFileUseHook hook = GetPackageFileUseHook())
    hook(installer.GetProgram());
  base::LaunchOptions options;
  options.wait = true;  // the requester waits for this process, so it ends after the package's installer
  base::LaunchProcess(installer, options);
}

// This role has no log file; an elevated helper's standard error reaches whoever captured it.
void ReportProblem(const char* what, const base::FilePath& path, const std::string& reason) {
  fprintf(stderr, "%s %s: %s\n", what, path.AsUTF8().c_str(), reason.c_str());
  fflush(stderr);
}

// Until the requester releases the grant or the run's initial process ends, then the grace.
void WaitForRelease(HANDLE undo, HANDLE initial) {
  const HANDLE objects[] = {undo, initial};
  const DWORD count = initial ? 2 : 1;
  WaitForMultipleObjects(count, objects, FALSE, INFINITE);
  if (const GraceWaitHook hook = GetFolderPermissionGraceHook())
    hook(kFolderPermissionGraceMilliseconds);
  else
    Sleep(kFolderPermissionGraceMilliseconds);
}

void GrantUntilReleased(const base::CommandLine& command_line, const base::FilePath& folder) {
  const base::win::ScopedHandle granted = OpenNamedEvent(EVENT_ALL_ACCESS, GetGiveInstallPermissionEventName(folder));
  if (!granted.IsValid())
    return;
  const base::win::ScopedHandle undo = OpenNamedEvent(EVENT_ALL_ACCESS, GetGiveInstallPermissionUndoEventName(folder));
  if (!undo.IsValid())
    return;
  const bool permanent = command_line.HasSwitch(kPermanentPermissionsSwitch);
  // A temporary grant must end with its run even when the requester dies before releasing it: the initial
  // process then ends too. A run that names one that cannot be watched gets no grant.
  base::win::ScopedHandle initial;
  if (!permanent && !command_line.GetSwitchValueNative(kInitialPidSwitch).empty() &&
      !OpenInitialProcess(command_line, &initial)) {
    return;
  }
  // Nothing is made or changed through a link: it may lead to a folder of anyone.
  std::string problem;
  if (!LinkFreePath().Hold(folder, false, &problem)) {
    ReportProblem("Refused to grant access to", folder, problem);
    return;
  }
  if (!base::DirectoryExists(folder) && !base::CreateDirectory(folder))
    return;
  FolderTreeGrant grant;
  if (!grant.Grant(folder, command_line.GetSwitchValueNative(kPermissionsForUserSwitch), &problem)) {
    ReportProblem("Refused to grant access to", folder, problem);
    return;
  }
  const bool requester_told = SetEvent(granted.Get()) != FALSE;
  if (permanent)
    return;
  if (requester_told)
    WaitForRelease(undo.Get(), initial.Get());
  if (!grant.Undo(&problem))
    ReportProblem("Could not take back all of the access given to", folder, problem);
}

}  // namespace

void AppendFolderPermissionSwitches(const FolderPermissionRequest& request, base::CommandLine* command_line) {
  command_line->AppendSwitchFilePath(kSetFolderPermissionSwitch, request.folder);
  command_line->AppendSwitchNative(kPermissionsForUserSwitch, request.user_name);
  if (request.permanent)
    command_line->AppendSwitch(kPermanentPermissionsSwitch);
  if (request.run_uninstall_batch)
    command_line->AppendSwitch(kRunUninstallBatSwitch);
  command_line->AppendSwitchASCII(kCrashReporterPidSwitch, std::to_string(request.crash_reporter_pid));
  if (request.wait_for_package)
    command_line->AppendSwitchFilePath(kWaitForPackageSwitch, request.package_folder);
  command_line->AppendSwitchNative(kInitialPidSwitch, request.initial_pid);
}

std::wstring GetGiveInstallPermissionEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kGiveInstallPermissionEvent, false);
}

std::wstring GetGiveInstallPermissionUndoEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kGiveInstallPermissionUndoEvent, false);
}

std::wstring GetPackageReadyEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kPackageReadyEventBase, true);
}

std::wstring GetInstallationInterruptedEventName(const base::FilePath& folder) {
  return GetInstallerKernelObjectName(folder.value(), kInstallationInterruptedEventBase, true);
}

void RunFolderPermissionHelper() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch(kPermissionsForUserSwitch))
    return;
  const base::FilePath folder = command_line.GetSwitchValuePath(kSetFolderPermissionSwitch);
  if (command_line.HasSwitch(kWaitForPackageSwitch))
    WaitForPackageThenHandOver(command_line, folder);
  else
    GrantUntilReleased(command_line, folder);
}

void RunUninstallBatch(const base::FilePath& installation_folder) {
  // An uninstallation's batch is a few hundred lines at most; anything far larger is not one.
  constexpr size_t kMaximumBatchSize = 1 << 20;
  const base::FilePath batch = installation_folder.Append(kUninstallBatchFileName);
  if (!base::PathExists(batch))
    return;
  std::string text;
  std::string error;
  if (!base::ReadFileToStringWithMaxSize(batch, &text, kMaximumBatchSize)) {
    ReportProblem("Refused to run the clean-up batch", batch, "cannot be read or is too large");
    return;
  }
  // It runs with administrator rights from a folder the user may have written to.
  if (!CheckUninstallBatch(text, installation_folder, &error)) {
    ReportProblem("Refused to run the clean-up batch", batch, error);
    return;
  }
  // The command processor reads a batch as it runs it. The user's process made this file and, as its owner, could
  // open it again; the checked text goes into a file of this process's own, which after a temporary grant only
  // administrators can change.
  if (!base::DeleteFile(batch, false) ||
      base::WriteFile(batch, text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size())) {
    ReportProblem("Refused to run the clean-up batch", batch, "cannot be written anew");
    return;
  }
  base::LaunchOptions options;
  options.start_hidden = true;
  base::LaunchProcess(base::CommandLine(batch), options);  // its handle is closed as the result goes
}

}  // namespace zorvi::installer
