// The controller of an unattended installer run ("silent"): it gets the package (with the package fetcher,
// unless the installer already runs inside an unpacked package), starts the installation through the
// InstallerRunner once the settings are complete, releases the package to the backend once it and the tracking
// data are handled, sends the installer statistics at the end and gives the run's outcome as its result. It
// shows nothing: every request for user interface is refused.
//
// It lives on the stack of the installer's entry and runs on the main thread, whose message loop is of the
// default type; the fetcher's and the runner's notifications reach it there as posted tasks.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_
#define DESKTOP_LAUNCHER_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_

#include <string>

#include "base/files/file_path.h"
#include "base/memory/weak_ptr.h"
#include "base/run_loop.h"
#include "desktop/launcher/installer/installer_controller.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/steps/installation_sequence.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"

namespace zorvi::installer {

class SilentInstallerController : public InstallerController {
 public:
  SilentInstallerController();
  SilentInstallerController(const SilentInstallerController&) = delete;
  SilentInstallerController& operator=(const SilentInstallerController&) = delete;
  ~SilentInstallerController() override;

  // The whole run. `without_fetcher`: the installer runs inside an unpacked package (or an installation), whose
  // folder is the package; otherwise the package is fetched into `work_folder`. True when the installation
  // succeeded.
  bool Run(Settings* settings, bool without_fetcher, const base::FilePath& work_folder);

  // Settings::Observer.
  void OnPathChanged() override;

  // UICallbackRunner: nothing can be shown, so the request is answered 0 (cancelled) without running it.
  void RunUICallbackAndPostReply(const UICallback& ui_callback,
                                 const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                 const UIReply& reply) override;

  // PackageFetcherDelegate.
  void SetTotalProgress(int) override {}
  void SetCurrentProgress(int) override {}
  void NotifyStatusChanged(int status) override;
  void NotifyTrackingDataObtained(const std::string& tracking_data) override;

  // InstallerObserver.
  void OnTotalSteps(int) override {}
  void OnStep() override {}
  void OnInstallerError(int code, const std::wstring& detail, const std::string& message) override;
  void OnInstallerSuccess() override;
  void OnInstallerTerminated(bool success) override;

 private:
  void StartInstallation();
  // The run fails for `reason`; it ends at once, or with the backend when one runs.
  void Fail(const std::string& reason);
  // Ends the run once: records the outcome, sends the statistics when they are due, then quits the run loop.
  void Terminate();

  base::RunLoop run_loop_;
  bool result_ = false;
  bool terminated_ = false;
  bool package_will_be_downloaded_ = false;
  bool package_ready_ = false;
  bool installation_started_ = false;
  // A backend was started and its end has not been reported yet.
  bool backend_running_ = false;
  // An error was heard: the run fails, whatever the backend's exit says.
  bool failed_ = false;
  Settings* settings_ = nullptr;
  InstallationSequence sequence_;
  base::WeakPtrFactory<SilentInstallerController> weak_factory_{this};
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_
