// The Installer's steps and hand-overs that this build does not have yet. Each fails the run, naming itself,
// rather than report work as done that was not; each moves to the file of its feature when it is built.
#include <string>

#include "base/logging.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/test_seams.h"

namespace zorvi::installer {

namespace {

std::string NotAvailable(const char* name) {
  return std::string("Not available in this build: Installer::") + name;
}

}  // namespace

void Installer::StepNotAvailable(const char* name, bool last_step) {
  if (!GetUnbuiltStepsPassSeam()) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", NotAvailable(name));
    return;
  }
  LOG(WARNING) << "Passing over a step this build lacks: " << name;
  if (!last_step) {
    ScheduleNextStep();
    return;
  }
  if (ReportStep())
    Succeed();
}

void Installer::StepInstallShortcuts() {
  StepNotAvailable("StepInstallShortcuts", false);
}

void Installer::StepUpdateShortcuts() {
  StepNotAvailable("StepUpdateShortcuts", false);
}

void Installer::StepRemoveShortcuts() {
  StepNotAvailable("StepRemoveShortcuts", false);
}

}  // namespace zorvi::installer
