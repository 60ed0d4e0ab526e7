#include "desktop/launcher/installer/installer_roles.h"

#include <cstdio>
#include <string>

#include "base/logging.h"
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

bool RunFolderPermissionRole(const base::FilePath&) {
  return RoleNotAvailable("folder-permission helper and uninstall clean-up batch", false);
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
