// The controller's side of an installation: the runner takes the installation folder's mutex, opens the
// receiving end of the installer mailslot, starts a second process of the installer as the backend that
// performs the installation, and turns the backend's messages back into InstallerObserver calls on the
// controller's thread. The end of the backend process arrives last, as OnInstallerTerminated: a success only
// when the backend said SUCCESS and then exited with 0.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_RUNNER_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_RUNNER_H_

#include <windows.h>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/packed_buffer.h"
#include "base/process/process.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/ipc/ipc_receiver_proxy.h"
#include "desktop/launcher/installer/records/installer_observer.h"

namespace zorvi::installer {

class Settings;

// The error (code 37050) the observers hear when the backend ended without a success or an error.
extern const char kBackendEndedWithoutResultMessage[];  // "The installer process ended without a result"

class InstallerRunner : public base::win::ObjectWatcher::Delegate, public IPCReceiver::Delegate {
 public:
  // `package_folder`: where the controller unpacks the package (the download folder).
  explicit InstallerRunner(const base::FilePath& package_folder);
  // Stops.
  ~InstallerRunner() override;
  InstallerRunner(const InstallerRunner&) = delete;
  InstallerRunner& operator=(const InstallerRunner&) = delete;

  // Observers must stay alive while added; removing one during a notification is safe.
  void AddObserver(InstallerObserver* observer);
  void RemoveObserver(InstallerObserver* observer);

  // Starts the backend for `settings`, which can no longer change from now on. False when it could not be
  // started; the observers have then been told why through OnInstallerError.
  bool Run(Settings* settings);

  // Asks a running backend to stop and lets go of the installation folder's mutex: released when no backend
  // runs, else only closed, so that the folder stays locked until the backend ends (the next runner then
  // acquires it abandoned). Messages sent afterwards are not received; the end of the backend still is, as a
  // failure unless its success was heard before.
  void Stop();

  // A handle the backend also holds, for as long as it runs: the run's claim on its package (ClaimPackage), which
  // the backend works from while the package's installer runs, also after the controller has gone. Not owned; it
  // must stay open until Run has returned.
  void ShareWithBackend(HANDLE handle) { shared_with_backend_ = handle; }

  // From a successful Run until the end of its backend has been seen.
  bool backend_running() const { return backend_running_; }

  // The controller has the package unpacked in the package folder. Only the first call counts: a running
  // backend is told through the package-ready event, and a later Run starts the package's own installer.
  void OnPackageReady();
  // The package is being completed again (new overrides for another folder): until the next OnPackageReady, a
  // Run starts a backend that waits for it. Changes nothing for a backend already running.
  void WithdrawPackage();

  // base::win::ObjectWatcher::Delegate: the backend process ended.
  void OnObjectSignaled(HANDLE object) override;
  // IPCReceiver::Delegate: one message of the backend, on the controller's thread.
  void OnMessageReceived(const base::PackedBuffer& message) override;

 private:
  // Tells the observers and the log of a failed start; returns false for Run to return.
  bool Fail(int code, const char* message);
  bool AcquireMutex(const base::FilePath& install_folder);
  // Releases (unless a backend runs) and closes the mutexes held.
  void LetGoOfMutexes();
  // Starts the backend with `command_line` (to which the initial process handle is added), under the launch
  // lock. Null on success, else the error (told once the lock is let go).
  const char* LaunchBackend(base::CommandLine* command_line);
  void ReportTermination(bool exited_with_zero);

  // The word on the run's end of the backend generation in charge: a backend that hands the run to a child
  // installer (an elevated copy, the package's installer) announces it, the child reports to the same mailslot,
  // and once the child has returned only the waiting generation's own word counts.
  class OutcomeRecorder : public InstallerObserver {
   public:
    enum Word { kNone, kSuccess, kError };
    Word word() const { return word_; }
    void Reset() { word_ = kNone; }

    void OnInstallFolderReady() override {}
    void OnStartingNewMainProcess(bool) override { word_ = kNone; }
    void OnReturnedToPreviousMainProcess() override { word_ = kNone; }
    void OnTotalSteps(int) override {}
    void OnStep() override {}
    void OnInstallerError(int, const std::wstring&, const std::string&) override { word_ = kError; }
    void OnInstallerSuccess() override { word_ = kSuccess; }
    void OnInstallerTerminated(bool) override {}

   private:
    Word word_ = kNone;
  };

  IPCReceiverProxy receiver_proxy_;
  const base::FilePath package_folder_;
  base::Process backend_;
  // The folder's mutexes: by its spelling, then by its identity.
  static constexpr int kMutexCount = 2;
  base::win::ScopedHandle mutexes_[kMutexCount];
  base::win::ObjectWatcher backend_watcher_;
  base::win::ScopedHandle package_ready_event_;
  base::win::ScopedHandle interrupted_event_;
  HANDLE shared_with_backend_ = nullptr;
  Settings* settings_ = nullptr;
  bool package_ready_ = false;
  bool backend_running_ = false;
  // Whether the run's messages could be received at all: without a mailslot only the exit code can tell.
  bool listening_ = false;
  // Hears every message first.
  OutcomeRecorder outcome_;
  base::ObserverList<InstallerObserver> observers_;
  base::WeakPtrFactory<InstallerRunner> weak_factory_{this};
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_RUNNER_H_
