#include "desktop/launcher/installer/entry/installer_entry.h"

#include "base/files/file_path.h"
#include "desktop/launcher/installer/installer_main.h"
#include "desktop/launcher/installer/ui/installer_ui_controller.h"

namespace zorvi::installer {
namespace {

bool RunUIControllerRole(Settings* settings, bool inside_package, const base::FilePath& download_folder,
                         bool run_immediately) {
  InstallerUIController controller;
  return controller.RunUI(settings, inside_package, download_folder, run_immediately);
}

}  // namespace
}  // namespace zorvi::installer

extern "C" bool RunInstaller() {
  return zorvi::installer::RunInstallerProcess(&zorvi::installer::RunUIControllerRole);
}
