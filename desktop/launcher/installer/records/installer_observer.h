// What a controller hears of an installation. The backend's Installer calls these in its own process; the
// runner in the controller's process calls them again from the backend's messages and adds the end of the
// backend process as OnInstallerTerminated.
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLER_OBSERVER_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLER_OBSERVER_H_

#include <string>

namespace zorvi::installer {

// Installer error codes; each is also the id of the text a controller shows for it.
enum InstallerErrorCode : int {
  kInstallerErrorGeneric = 37050,
  kInstallerErrorMutexHeld = 37052,
  kInstallerErrorNoOperation = 37053,
  kInstallerErrorFolderCreation = 37054,
  kInstallerErrorNoWriteAccess = 37055,
  kInstallerErrorElevation = 37056,
  kInstallerErrorCopy = 37057,
  kInstallerErrorBrowserRunning = 37058,
};

class InstallerObserver {
 public:
  virtual ~InstallerObserver() = default;

  // The installation folder exists and write access to it is settled.
  virtual void OnInstallFolderReady() = 0;
  // A backend generation is about to start a child installer process and wait for it; the flag is the
  // Installer's own.
  virtual void OnStartingNewMainProcess(bool flag) = 0;
  // That child has ended and the waiting backend goes on.
  virtual void OnReturnedToPreviousMainProcess() = 0;
  virtual void OnTotalSteps(int steps) = 0;
  // One step done.
  virtual void OnStep() = 0;
  // The run failed: `code` is an InstallerErrorCode, `detail` fills the placeholder of the code's text and
  // `message` is an English log text.
  virtual void OnInstallerError(int code, const std::wstring& detail, const std::string& message) = 0;
  virtual void OnInstallerSuccess() = 0;
  // The run is over.
  virtual void OnInstallerTerminated(bool success) = 0;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLER_OBSERVER_H_
