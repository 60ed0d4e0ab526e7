// The roles an installer process can be handed, and the crash-reporting calls of its start-up: the one place
// where the entry reaches them. A role this build does not have yet says so in an error line and fails, so the
// process ends with exit code 1: other installer processes take exit code 0 for work done.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_ROLES_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_ROLES_H_

#include <cstdint>

#include "base/files/file_path.h"

namespace zorvi::installer {

class Settings;

// "crash-reporter-parent-id": watches the installer process named there and reports its crashes. Runs before
// logging and the crash client are set up.
bool RunCrashReporterRole();

// "set-folder-permission": grants the user access to the folder named there, then, with "run-uninstall-bat",
// runs the uninstall clean-up batch of `installation_folder`. Runs without a log file.
bool RunFolderPermissionRole(const base::FilePath& installation_folder);

// "backend": performs the installation, upgrade or uninstallation that `settings` describe.
bool RunBackendRole(Settings* settings);

// "silent": fetches the package into `download_folder` and has it installed without any window.
bool RunSilentControllerRole(Settings* settings, bool inside_package, const base::FilePath& download_folder);

// Otherwise: the installer's window, fetching the package into `download_folder`; `run_immediately` starts the
// installation without waiting for the user.
bool RunUIControllerRole(Settings* settings, bool inside_package, const base::FilePath& download_folder,
                         bool run_immediately);

// Crash reporting's client start-up, in the order the entry calls it. This build has no crash reporter yet:
// none is named or started (process id 0), so the process runs without a crash client, as it does whenever its
// reporter cannot be reached.

// The reporter named by "crash-reporter-pid" (installer processes started by other installer processes share
// their parent's), or 0.
uint32_t GetCrashReporterPidFromSwitch();
// Starts a reporter for this process and returns its process id once it is ready; 0 when it is not.
uint32_t StartCrashReporter();
// Connects this process's crash handler to the reporter the entry recorded (GetCrashReporterProcessId).
void InitCrashReporterClient();
// Fills the crash keys an installer process reports with any crash.
void SetInstallerCrashKeys();

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_ROLES_H_
