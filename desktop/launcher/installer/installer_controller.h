// What a controller of an installer run (the silent one and the interactive one) is to the parts of the run: the
// settings' observer, the package fetcher's delegate and UI-callback runner, and the installation's observer. The
// notifications that no controller acts on are answered here once, by nothing.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_CONTROLLER_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_CONTROLLER_H_

#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"

namespace zorvi::installer {

class InstallerController : public Settings::Observer,
                            public UICallbackRunner,
                            public PackageFetcherDelegate,
                            public InstallerObserver {
 public:
  // Settings::Observer: only the completed settings (OnPathChanged) matter.
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}

  // PackageFetcherDelegate: a retrying download shows no differently.
  void NotifyStalled() override {}

  // InstallerObserver: the backend's own generations and its folder are its business.
  void OnInstallFolderReady() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_CONTROLLER_H_
