// The interactive installer: owns one windowed installer run on the process's main thread. It keeps at most one
// such run per user session (a mutex and a lock file in the download folder), fetches the package, shows the
// installer window, starts the backend once the user accepts, turns what the fetcher and the backend report into
// pages, a progress bar and error texts, and sends the run's statistics when it ends.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_UI_CONTROLLER_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_UI_CONTROLLER_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/memory/weak_ptr.h"
#include "base/run_loop.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/installer_controller.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/steps/installation_sequence.h"
#include "desktop/launcher/installer/ui/installer_window.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"

namespace zorvi::installer {

class InstallerUIController : public InstallerController, public InstallerWindowDelegate {
 public:
  // The phases of a run, each with its share of the progress bar.
  enum Phase : int {
    kPhaseAskingForPackage = 0,
    kPhaseDownloading = 1,
    kPhaseUnpacking = 2,
    kPhaseFetchingPartnerContent = 3,
    kPhasePackageReady = 4,
    kPhaseInstalling = 5,
  };

  InstallerUIController();
  InstallerUIController(const InstallerUIController&) = delete;
  InstallerUIController& operator=(const InstallerUIController&) = delete;
  ~InstallerUIController() override;

  // Runs the whole interactive run on this thread's UI message loop and returns whether it succeeded; false also
  // when another instance shows its window (raised instead). `without_fetcher`: the process runs inside an
  // unpacked package, which is then the package. `download_folder` is the run's working folder. `settings` (not
  // owned) need to outlive only this call.
  bool RunUI(Settings* settings, bool without_fetcher, const base::FilePath& download_folder, bool run_immediately);
  // Posted by RunUI: shows the window and starts fetching.
  void Init();

  // Settings::Observer:
  void OnPathChanged() override;

  // InstallerWindowDelegate (OnAccept also posted by the controller itself):
  void OnAccept() override;
  void OnCancel() override;
  void ObtainFullPackage() override;

  // UICallbackRunner:
  void RunUICallbackAndPostReply(const UICallback& ui_callback,
                                 const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                 const UIReply& reply) override;

  // PackageFetcherDelegate:
  void SetTotalProgress(int total) override;
  void SetCurrentProgress(int value) override;
  void NotifyStatusChanged(int status) override;
  void NotifyTrackingDataObtained(const std::string& tracking_data) override;

  // InstallerObserver:
  void OnTotalSteps(int steps) override;
  void OnStep() override;
  void OnInstallerError(int code, const std::wstring& detail, const std::string& message) override;
  void OnInstallerSuccess() override;
  void OnInstallerTerminated(bool success) override;

  // Where the progress bar should stand: the weights of the phases done plus the current phase's share.
  int GetProgressPosition() const;
  int phase() const { return phase_; }
  InstallerWindow* window() const { return window_.get(); }
  // The run's statistics.
  StatsSender* stats_sender() { return sequence_.stats_sender(); }

 private:
  struct InstallerError {
    int code;
    std::wstring detail;
    std::string message;
  };

  // The UI thread id of the instance that owns the session's installer UI: this thread's once it took the lock,
  // another's when that one holds it, 0 when unknown.
  DWORD AcquireUILock(const base::FilePath& download_folder);
  void DoRunUICallbackAndPostReply(const UICallback& ui_callback,
                                   const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                   const UIReply& reply);
  void ReportError(int code, const std::wstring& detail, const std::string& message);
  void HandlePendingError();
  // Whether the failed all-users installation of the pending error should become a current-user one, as the
  // user agreed; the settings are switched over then.
  bool SwitchedToCurrentUser();
  void HandleTrackingData();
  void OnPackageReleased();
  void UpdateProgress();
  void ShowPhaseIfStarted();
  void RestartFetching();
  void Terminate();
  void DeleteClosedWindow();
  InstallerStats* stats() { return sequence_.stats(); }

  base::RunLoop run_loop_;
  Settings* settings_ = nullptr;
  base::Closure stored_ui_request_;
  bool installation_started_ = false;
  std::unique_ptr<InstallerError> pending_error_;
  int phase_ = kPhaseAskingForPackage;
  bool restart_fetching_on_accept_ = false;
  const std::vector<int> phase_weights_{1, 1000, 200, 1, 1, 100};
  int progress_total_ = 0;
  int progress_current_ = 0;
  int fetcher_restarts_ = 0;
  bool run_immediately_ = false;
  bool without_fetcher_ = false;
  bool package_downloaded_ = false;
  bool error_page_shown_ = false;
  bool accept_waiting_for_status_ = false;
  bool initial_stats_written_ = false;
  bool success_ = false;
  bool terminated_ = false;
  // Cancelled while the backend ran: the run ends once the backend has.
  bool cancelling_ = false;
  base::win::ScopedHandle lock_file_;
  // Outlives the window, which writes into its statistics.
  InstallationSequence sequence_;
  std::unique_ptr<InstallerWindow> window_;
  // The window of a terminated run, deleted once the notification it is sending has returned.
  std::unique_ptr<InstallerWindow> closed_window_;
  base::WeakPtrFactory<InstallerUIController> weak_factory_{this};
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_UI_CONTROLLER_H_
