#include "desktop/launcher/installer/roles/installer_roles.h"

#include "base/command_line.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/installer_runner_backend.h"
#include "desktop/launcher/installer/roles/folder_permission.h"
#include "desktop/launcher/installer/silent_installer_controller.h"
#include "desktop/windows/crash_reporter/reporter/crash_reporter_main.h"

namespace zorvi::installer {

bool RunCrashReporterRole() {
  RunCrashReporterProcess();
  return true;
}

bool RunFolderPermissionRole(const base::FilePath& installation_folder) {
  // Opened first, while the run still goes on: the process waited for is the run's, whatever its id names later.
  const base::win::ScopedHandle initial_process = OpenRunInitialProcess();
  RunFolderPermissionHelper();
  // The batch was left for this process by an uninstallation that it let write into the folder; the batch can
  // remove what that run still held only once the run is over, which the helper waits for.
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(kRunUninstallBatSwitch))
    RunUninstallBatch(installation_folder, initial_process.Get());
  // The requester judges the helper by its events, not by its exit code.
  return true;
}

bool RunBackendRole(Settings* settings) {
  InstallerRunnerBackend backend;
  return backend.Run(settings);
}

bool RunSilentControllerRole(Settings* settings, bool inside_package, const base::FilePath& download_folder) {
  SilentInstallerController controller;
  return controller.Run(settings, inside_package, download_folder);
}

}  // namespace zorvi::installer
