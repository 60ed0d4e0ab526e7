// The backend process's side of an installation: it watches the process that started it, waits until its
// settings have their status, runs the installation and sends each of its notifications to the runner over
// the installer mailslot. It returns when the installation has ended, or when the starting process is gone.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_RUNNER_BACKEND_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_RUNNER_BACKEND_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "base/run_loop.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/ipc/ipc_sender_proxy.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/settings.h"

namespace zorvi::installer {

class InstallerRunnerBackend : public Settings::Observer,
                               public InstallerObserver,
                               public base::win::ObjectWatcher::Delegate {
 public:
  // What the backend runs: the steps of an installation, reported to the observers it is given.
  class Installation {
   public:
    virtual ~Installation() = default;
    virtual void AddObserver(InstallerObserver* observer) = 0;
    virtual void RemoveObserver(InstallerObserver* observer) = 0;
    // Starts the installation as tasks of the calling thread; `settings` are complete and no longer change.
    virtual void Run(Settings* settings) = 0;
    // Whether the installation succeeded, once it has ended.
    virtual bool succeeded() const = 0;
  };
  using InstallationFactory = std::function<std::unique_ptr<Installation>()>;

  // Makes every later backend run the installation `factory` makes instead of the product's (a null factory
  // goes back to the product's). Tests script a backend's notifications this way.
  static void SetInstallationFactoryForTesting(InstallationFactory factory);

  // On a thread with a message loop.
  InstallerRunnerBackend();
  // Writes what is still queued for the runner, then closes the mailslot.
  ~InstallerRunnerBackend() override;
  InstallerRunnerBackend(const InstallerRunnerBackend&) = delete;
  InstallerRunnerBackend& operator=(const InstallerRunnerBackend&) = delete;

  // Runs the installation `settings` describe until it has ended; its result. False without any message to
  // the runner when the starting process cannot be watched.
  bool Run(Settings* settings);
  // Opens the mailslot and starts the installation.
  void StartInstallation();

  // Settings::Observer: only the arrival of the status counts.
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // InstallerObserver: each notification becomes a message to the runner; an error, a success or the end of
  // the installation ends the run.
  void OnInstallFolderReady() override;
  void OnStartingNewMainProcess(bool flag) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int steps) override;
  void OnStep() override;
  void OnInstallerError(int code, const std::wstring& detail, const std::string& message) override;
  void OnInstallerSuccess() override;
  void OnInstallerTerminated(bool success) override;

  // base::win::ObjectWatcher::Delegate: the starting process ended.
  void OnObjectSignaled(HANDLE object) override;

 private:
  // Opens the starting process from "initial-proc-handle" or "initial-pid"; false (logged) when it cannot.
  bool OpenInitialProcess();
  void Send(std::unique_ptr<base::PackedBuffer> message);

  base::RunLoop run_loop_;
  base::win::ScopedHandle initial_process_;
  base::win::ObjectWatcher initial_process_watcher_;
  IPCSenderProxy sender_;
  std::unique_ptr<Installation> installation_;
  Settings* settings_ = nullptr;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_RUNNER_BACKEND_H_
