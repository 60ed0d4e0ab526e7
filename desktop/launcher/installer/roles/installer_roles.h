// The roles an installer process can be handed: the one place where the entry reaches them. Each gives whether it
// did its work, which the host turns into exit code 0 or 1: other installer processes take 0 for work done.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_INSTALLER_ROLES_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_INSTALLER_ROLES_H_

#include "base/files/file_path.h"

namespace zorvi::installer {

class Settings;

// "crash-reporter-parent-id": watches the installer process named there and reports its crashes (or, started by a
// crashed reporter, reports that crash). Runs before logging and the crash client are set up; always true, since
// the parent judges its reporter by the init event, not by its exit code.
bool RunCrashReporterRole();

// "set-folder-permission": grants the user access to the folder named there, then, with "run-uninstall-bat",
// runs the uninstall clean-up batch of `installation_folder`. Runs without a log file.
bool RunFolderPermissionRole(const base::FilePath& installation_folder);

// "backend": performs the installation, upgrade or uninstallation that `settings` describe.
bool RunBackendRole(Settings* settings);

// "silent": fetches the package into `download_folder` and has it installed without any window.
bool RunSilentControllerRole(Settings* settings, bool inside_package, const base::FilePath& download_folder);

// Otherwise: the installer's window, fetching the package into `download_folder`; `run_immediately` starts the
// installation without waiting for the user. The window lies above the engine, so the library's entry hands the
// role in (entry/installer_entry.cc).
using UIControllerRole = bool (*)(Settings* settings, bool inside_package, const base::FilePath& download_folder,
                                  bool run_immediately);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_INSTALLER_ROLES_H_
