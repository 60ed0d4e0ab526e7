// The launcher step: the launcher that starts the browser goes into the install folder, together with the data
// the update service handed the installer (tracking data, default-preference overrides).
#include <memory>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {

void Installer::StepInstallLauncher() {
  LOG(INFO) << "Installing the launcher";
  const base::FilePath launcher = own_folder_.Append(kLauncherFileName);
  const base::FilePath destination = install_folder().Append(kLauncherFileName);
  if (!Execute(std::make_unique<CopyFileOperation>(launcher, destination))) {
    LOG(ERROR) << Fail(kInstallerErrorCopy, destination.value(), "Failed copying the launcher");
    return;
  }
  if (!GetBrandingWhiteLabeled())
    InstallLauncherAsBrowser(launcher);

  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(kServerTrackingDataSwitch)) {
    LOG(INFO) << "Tracking data installation requested";
    const base::FilePath source = own_folder_.Append(command_line.GetSwitchValueNative(kServerTrackingDataSwitch));
    if (!base::PathExists(source)) {
      LOG(WARNING) << "Tracking data path specified on command line invalid";
    } else if (!Execute(std::make_unique<CopyFileOperation>(source,
                                                            install_folder().Append(kServerTrackingDataFileName)))) {
      LOG(WARNING) << "Failed to install tracking data";
    }
  }

  const base::FilePath overrides = own_folder_.Append(kPrefDefaultOverridesFileName);
  if (base::PathExists(overrides)) {
    LOG(INFO) << "Found pref default overrides";
    // The browser reads the file at every start: one it cannot parse must not reach it.
    std::string text;
    if (!base::ReadFileToString(overrides, &text) || !base::JsonReader::Read(text)) {
      LOG(WARNING) << "Supplied pref default overrides is not valid JSON";
    } else if (!Execute(std::make_unique<CopyFileOperation>(
                   overrides, install_folder().Append(kPrefDefaultOverridesFileName)))) {
      LOG(WARNING) << "Failed to install pref default overrides";
    }
  }
  ScheduleNextStep();
}

// Shortcuts and file associations of an earlier-engine installation start the browser's executable in the install
// folder itself; the launcher takes its place there, and the old executable is kept aside as "<name>.old". A
// folder that has the kept-aside executable went through this before and is brought up to date the same way. The
// earlier engine's status log, kept aside by that first run, still lists the executable: an upgrade's clean-up of
// that log, earlier in the same run, removes the launcher's copy, which then only needs to come back.
void Installer::InstallLauncherAsBrowser(const base::FilePath& launcher) {
  VLOG(1) << "Check if the launcher should be installed as zorvi.exe";
  const base::FilePath browser = install_folder().Append(base::UTF8ToWide(GetBrandingFileNameBase() + ".exe"));
  const base::FilePath old = browser.ReplaceExtension(L".old");
  const Status& status = settings_->status();
  const bool earlier_engine = status.existing_installation && status.kadro_installation;
  if (!earlier_engine && !base::PathExists(old))
    return;
  LOG(INFO) << "Install the launcher as zorvi.exe";
  if ((base::PathExists(browser) && !Execute(std::make_unique<MoveFileOperation>(browser, old))) ||
      !Execute(std::make_unique<CopyFileOperation>(launcher, browser))) {
    LOG(WARNING) << "Failed installing the launcher as zorvi.exe";
  }
}

}  // namespace zorvi::installer
