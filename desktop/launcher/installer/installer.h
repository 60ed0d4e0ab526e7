// The Installer performs one install, upgrade or uninstall inside the backend process. Run posts Start, which
// checks the settings, settles write access to the install folder, creates it, reads the package's file lists
// and builds the operation's list of steps. Each step, and each file of the package, runs as a task of its
// own on the thread's message loop, so that an interruption takes effect between two of them; every change a
// step makes is an undoable operation kept in the transaction. A failure or an interruption rolls the whole
// transaction back; a success keeps it until the Installer is destroyed, which commits it.
//
// Every run ends with exactly one terminal report: OnInstallerSuccess, or OnInstallerError (for a failure)
// followed by OnInstallerTerminated(false). Everything runs on the thread that made the Installer.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/location.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/win/object_watcher.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/records/install_log.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "desktop/launcher/installer/service/transactions/operation.h"
#include "desktop/launcher/installer/service/transactions/placeholder_provider.h"

namespace base {
class MessageLoop;
}

namespace zorvi::installer {

class Settings;
class UninstallBatch;

// Shortcut destinations, in order: each folder with the install-log slot that receives the path of the shortcut
// made there.
using ShortcutDestinations = std::vector<std::pair<base::FilePath, base::FilePath*>>;

class Installer : public base::win::ObjectWatcher::Delegate, public PlaceholderProvider {
 public:
  friend class InstallerTestPeer;

  // On a thread with a message loop; every step is posted to it.
  Installer();
  // Cancels a run that is still active, else commits what the last run did.
  ~Installer() override;
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  // Observers are added before Run and must outlive the notifications they may receive.
  void AddObserver(InstallerObserver* observer);
  void RemoveObserver(InstallerObserver* observer);

  // Starts a run of the complete `settings` (no status fetch pending), which stop being editable. No other run
  // may be active.
  void Run(Settings* settings);

  bool running() const { return running_; }
  // Whether the last run ended with success.
  bool succeeded() const { return succeeded_; }
  const InstallLog& install_log() const { return install_log_; }

  // PlaceholderProvider:
  std::wstring GetValue(const std::wstring& name) override;
  std::vector<InstallLogKey>* GetRootValue(HKEY root) override;

  // A text of an earlier-engine installation's status log with its product placeholders filled in from the
  // status; any other installation's texts stay as they are.
  std::wstring ExpandKadroProductName(const std::wstring& text) const;

  // ObjectWatcher::Delegate: the interrupted event (or the package-ready event of the package wait).
  void OnObjectSignaled(HANDLE object) override;

 private:
  // Start and its parts; each returns false when it ended the run.
  void Start();
  bool OpenInterruptedEvent();
  // Takes an interruption that is already set at once, instead of when its watcher's task comes: the thread may
  // have been blocked in a wait for a child meanwhile. True when it ended the run.
  bool TakeInterruption();
  bool SettleWriteAccess(bool admin);
  bool ActOnElevationResult(int result);
  void FillInstallLog();
  std::string ClaimNewApplicationId();
  bool ReadFileLists();
  void RemoveKeptAsideFilesOfEndedRuns();
  std::vector<base::FilePath> SubfoldersNamedByStatusLogs() const;
  bool CreateSubfolder();
  bool CheckBrowserNotRunning();
  void ApplyStoredExperiments();
  void BuildStepList();
  int CountTotalSteps() const;
  void SaveLastInstallPath();

  // Scheduling: posts the step at next_step_, reports it and moves on.
  void ScheduleNextStep();
  // Tells the observers that a step is done; false when the run ended meanwhile.
  bool ReportStep();
  // Posts `task` for the current run only: once the state is reset it no longer runs.
  void PostForThisRun(const base::Location& location, const base::Closure& task);
  void RunIfStillActive(base::Closure task);

  // The steps. Copying is one file per task: the step re-posts itself for the next index.
  void StepCopyFiles(int index);
  void StepCopyRootFiles(int index);
  void CopyFileW(int index, const std::vector<std::string>& list, const base::Closure& next,
                 std::vector<base::FilePath>* logged, bool root);
  // The steps below live with their features (installer_*_steps.cc).
  void StepInstallLauncher();
  void StepSetupRegistry();
  void StepCleanupRegistry();
  // Launcher and registry steps: the browser's executable replaced by the launcher, the uninstall entry's key,
  // and removing what a status log recorded under one hive.
  void InstallLauncherAsBrowser(const base::FilePath& launcher);
  bool ChooseUninstallKey(HKEY root);
  bool IsLeftOverUninstallKey(HKEY root, const std::wstring& key, const base::win::RegKey& opened) const;
  void CleanupRegistryKeys(HKEY root, const std::vector<InstallLogKey>& keys);
  void RemoveRecordedValues(HKEY root, const std::wstring& key_path, const InstallLogKey& key,
                            bool only_naming_this_folder = false);
  bool IsTakenByAnotherInstallation(HKEY root, const std::wstring& target,
                                    const std::vector<InstallLogKey>& keys) const;
  void StepInstallShortcuts();
  void StepUpdateShortcuts();
  void StepRemoveShortcuts();
  // Shortcuts: the master shortcut in the package folder, pinned when asked and possible, copied to each
  // destination; *use_version chooses the versioned name, and is set when a destination holds the plain one.
  void CreateMasterShortcut(const ShortcutDestinations& destinations, bool pin, bool* use_version,
                            const base::FilePath& target);
  // Takes `shortcut`'s pin off the taskbar, undoably.
  void UnpinShortcut(const base::FilePath& shortcut);
  // Deletes a shortcut of the installation, trying again while another program holds it; an error line when it
  // stays.
  void RemoveShortcut(const base::FilePath& shortcut);
  void StepWriteInstallerPrefs();
  void StepPreserveStatus();
  void StepFinalizeInstallation();
  // Finishing an installation (installer_finalize_steps.cc).
  bool WriteInstallerPrefs(const base::FilePath& path);
  bool WriteStatusLog();
  void SetUpDefaultBrowser();
  void NotifyBrowserRegistrationChanged();
  void LowerTaskErrorCount();
  void FinalizeSuccessfulInstallation();
  void UpdateUserProfile(const base::FilePath& profile);
  bool UpdatePartnerContent(const base::FilePath& profile);
  void LaunchBrowser();
  void StepRemoveInstalledFiles();
  void StepRemoveOldRootFiles();
  void StepFinalizeUninstallation();
  void StepCleanupAfterUninstallation();
  // Upgrade clean-up and uninstallation: paths of a status log, checked to lie inside the install folder (empty
  // when they do not), one older log's removal, and what an uninstallation does once nothing can roll it back.
  base::FilePath InstalledPath(const InstallLog& log, const base::FilePath& file) const;
  base::FilePath RootPath(const base::FilePath& file) const;
  void RemoveOldInstallation(const base::FilePath& log_path);
  void FinishUninstallation(UninstallBatch* batch);
  // The user's part of an uninstallation: the system's browser given back (and the machine's with
  // `machine_wide`), and the survey page. A run started elevated for another process leaves it to that process.
  void ResetDefaultBrowserAfterUninstallation(bool machine_wide, bool for_user);
  void OfferUninstallSurvey();

  // Hand-overs (installer_handover.cc): work handed to other installer processes. The two elevations return 0
  // success, 1 elevation impossible or refused, 2 the child did not succeed, 3 set-up error.
  int RunElevated();
  int ObtainFolderPermissionElevated(const base::FilePath& folder, bool permanent);
  void WaitForPackage(bool post_elevated);
  // The package's installer takes the run over once the package is ready; this run ends with its result.
  void HandOverToPackage();
  // How a run handed over ends once the package's installer has: a success only when that installer said so
  // through `success_event` and exited with 0.
  void EndHandedOverRun(HANDLE child, HANDLE success_event);
  // A run started by a hand-over tells the installer that waits for it of its success.
  void ReportSuccessToHandingOverInstaller();
  // What belongs to this user after an elevated run (installer_finalize_steps.cc).
  void RunPostElevationTasks();
  // Every child is announced before it starts and after it ended.
  void NotifyChildStarting();
  void NotifyChildEnded();
  // The three ends of a run. Each acts only while a run is active, so a run reports its end once.
  std::string Fail(int code, const std::wstring& detail, const std::string& message);
  void Cancel();
  void Succeed();
  void ResetState();

  // Executes `operation` into the transaction.
  bool Execute(std::unique_ptr<Operation> operation);
  const base::FilePath& install_folder() const;

  base::MessageLoop* const message_loop_;
  OperationList transaction_;
  base::ObserverList<InstallerObserver> observers_;
  base::FilePath own_folder_;
  std::vector<std::string> files_;
  std::vector<std::string> root_files_;
  Settings* settings_ = nullptr;
  InstallLog install_log_;
  std::wstring uninstall_key_;
  bool running_ = false;
  bool succeeded_ = false;
  bool record_registry_ = false;
  base::win::ScopedHandle undo_event_;
  // Whether the folder-permission helper starts the uninstall clean-up batch once this run has ended; a helper
  // that granted for good has ended already.
  bool helper_runs_uninstall_batch_ = false;
  uint32_t other_process_id_ = 0;
  // Files of older versions that an uninstallation could not delete: the clean-up batch deletes them.
  std::vector<base::FilePath> older_leftovers_;
  base::win::ScopedHandle package_ready_event_;
  base::win::ObjectWatcher package_ready_watcher_;
  // Whether the package-ready event was made with this process's rights: else the package folder and its files are
  // another account's, and only a checked copy of the package is started.
  bool package_from_own_rights_ = false;
  base::win::ScopedHandle interrupted_event_;
  // Held for the run: the new installation's id is not given to another installation made at the same moment.
  base::win::ScopedHandle application_id_claim_;
  base::win::ObjectWatcher interrupted_watcher_;
  bool post_elevated_ = false;
  std::vector<base::Closure> steps_;
  size_t next_step_ = 0;
  int steps_reported_ = 0;
  // Tasks posted for a run hold these weak pointers; the reset at the end of the run invalidates them.
  base::WeakPtrFactory<Installer> run_weak_factory_{this};
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_H_
