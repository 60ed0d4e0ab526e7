#include "desktop/launcher/installer/installer_roles.h"

#include <cstdio>
#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "desktop/launcher/installer/folder_permission.h"
#include "desktop/launcher/installer/installer_runner_backend.h"

namespace zorvi::installer {

namespace {

// The error line of a role this build lacks. Roles that run before logging starts have only standard error.
bool RoleNotAvailable(const char* role, bool logging_started) {
  const std::string line = std::string("Not available in this build: the ") + role;
  if (logging_started) {
    LOG(ERROR) << line;
  } else {
    fprintf(stderr, "%s\n", line.c_str());
    fflush(stderr);
  }
  return false;
}

}  // namespace

bool RunCrashReporterRole() {
  return RoleNotAvailable("crash reporter", false);
}

bool RunFolderPermissionRole(const base::FilePath& installation_folder) {
  RunFolderPermissionHelper();
  // The batch was left for this process by an uninstallation that it let write into the folder; the batch can
  // remove what that run still held only once the run is over, which the helper has just waited for.
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(kRunUninstallBatSwitch))
    RunUninstallBatch(installation_folder);
  // The requester judges the helper by its events, not by its exit code.
  return true;
}

bool RunBackendRole(Settings* settings) {
  InstallerRunnerBackend backend;
  return backend.Run(settings);
}

bool RunSilentControllerRole(Settings*, bool, const base::FilePath&) {
  return RoleNotAvailable("silent controller", true);
}

bool RunUIControllerRole(Settings*, bool, const base::FilePath&, bool) {
  return RoleNotAvailable("interactive controller", true);
}

uint32_t GetCrashReporterPidFromSwitch() {
  return 0;
}

uint32_t StartCrashReporter() {
  return 0;
}

void InitCrashReporterClient() {}

void SetInstallerCrashKeys() {}

}  // namespace zorvi::installer
