// The folder-permission helper: an elevated installer process that gives the account running an installation
// full access to the installation folder while that installation needs it (or for good), or that waits for the
// package and hands the same request over to the package's own installer. The requesting installer starts it
// with the switches of a FolderPermissionRequest and learns of it only through the named events of the folder
// below and the helper's end.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_FOLDER_PERMISSION_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_FOLDER_PERMISSION_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace base {
class CommandLine;
}

namespace zorvi::installer {

struct FolderPermissionRequest {
  base::FilePath folder;             // the folder to grant
  std::wstring user_name;            // the run's user, without its domain: the helper grants no other account
  bool permanent = false;            // the grant stays after the run
  bool run_uninstall_batch = false;  // the helper runs the installation's clean-up batch when it ends
  uint32_t crash_reporter_pid = 0;
  bool wait_for_package = false;  // wait for the package in `package_folder`, then hand over to its installer
  base::FilePath package_folder;
  // The run's initial process, in decimal. The helper grants only to the user of that process and ends a temporary
  // grant when it ends, also if the requester never releases it; without it nothing is granted.
  std::wstring initial_pid;
};

// Appends the request's switches in the order the helper is given them: "set-folder-permission",
// "permissions-for-user", "permanent-permissions", "run-uninstall-bat", "crash-reporter-pid", "wait-for-package",
// "initial-pid".
void AppendFolderPermissionSwitches(const FolderPermissionRequest& request, base::CommandLine* command_line);

// The events of the folder's request. The requester creates GiveInstallPermission (auto-reset; the helper sets it
// once the folder is granted) and its Undo (the requester sets it when its run is over); the installer runner
// creates PackageReady and InstallationInterrupted.
std::wstring GetGiveInstallPermissionEventName(const base::FilePath& folder);
std::wstring GetGiveInstallPermissionUndoEventName(const base::FilePath& folder);
std::wstring GetPackageReadyEventName(const base::FilePath& folder);
std::wstring GetInstallationInterruptedEventName(const base::FilePath& folder);

// How long a temporary grant outlives its release, so that the installer processes of the run can finish
// their last writes into the folder.
constexpr DWORD kFolderPermissionGraceMilliseconds = 10000;

// The helper's work for the process's command line. The requester sees a failure only as the folder not granted;
// a refused request leaves a line on standard error. A folder is granted only to the user of the run's initial
// process, and only when the helper makes it, it is empty, or it holds an installation of the product.
void RunFolderPermissionHelper();

// The run's initial process named by "initial-pid", opened for waiting; invalid when none is named or it has gone.
base::win::ScopedHandle OpenRunInitialProcess();

// Carries out the clean-up batch of `installation_folder` when there is one and it is exactly what an
// uninstallation writes (one that is not is refused with a line on standard error), once `initial_process` (when
// given) has ended: this process deletes each entry itself, through handles, and leaves only what is still in use
// to a batch written into a new folder that only administrators may write, started to run after this process.
void RunUninstallBatch(const base::FilePath& installation_folder, HANDLE initial_process);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_FOLDER_PERMISSION_H_
