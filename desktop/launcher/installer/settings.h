// The one record of what an installer run will do: the operation (install, upgrade, uninstall), the install
// folder and its Status, the mode (all users, current user, standalone), the shortcuts and the options. It is
// filled from the process command line, the registry and the Status of the chosen folder, which is computed
// on the system worker pool whenever the folder changes. The controllers change it through the setters and
// listen to it; the backend rebuilds the same record from the switches ToCommandLine writes.
//
// A Settings lives on the thread that made it, which needs a task runner (the status comes back as a reply)
// and COM initialised for an apartment.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SETTINGS_H_
#define DESKTOP_LAUNCHER_INSTALLER_SETTINGS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/callback.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/observer_list.h"
#include "base/single_thread_task_runner.h"

namespace zorvi::installer {

class InstallerStats;
class Status;

// A boolean switch value: empty is false, "yes" and "true" in any letter case are true, anything else is true
// when its leading decimal number (after white space and a sign) is not 0.
bool ParseBoolSwitch(const std::wstring& value);

class Settings {
 public:
  enum Operation : int32_t {
    kOperationNone = 0,  // no usable status yet
    kOperationInstall = 1,
    kOperationUpgrade = 2,
    kOperationUninstall = 3,
  };

  // SetMode's modes.
  enum Mode : int {
    kModeAllUsers = 0,
    kModeCurrentUser = 1,
    kModeStandalone = 2,
  };

  class Observer {
   public:
    virtual ~Observer() = default;
    // A setter was applied (also when the value stayed the same).
    virtual void OnSettingsChanged() = 0;
    virtual void OnLanguageChanged() = 0;
    // The status of a new install folder was taken over, valid or not: the settings are complete.
    virtual void OnPathChanged() = 0;
  };

  // Builds a Status on the system worker pool and hands it to the settings on the thread that asked. Resetting
  // the callback drops the result: a fetch is never stopped, only forgotten.
  class StatusFetcher : public base::RefCountedThreadSafe<StatusFetcher> {
   public:
    using Callback = base::Callback<void(std::unique_ptr<Status>)>;

    StatusFetcher(const base::FilePath& path, Callback callback, bool replace_kadro_installation);
    StatusFetcher(const StatusFetcher&) = delete;
    StatusFetcher& operator=(const StatusFetcher&) = delete;

    // Posts the work; the callback runs later on this thread unless reset first.
    void FetchStatus();
    void ResetCallback() { callback_.Reset(); }
    const base::FilePath& path() const { return path_; }

   private:
    friend class base::RefCountedThreadSafe<StatusFetcher>;
    ~StatusFetcher();

    // On the worker thread.
    void BuildStatus();
    // Back on the origin thread.
    void DeliverStatus();

    const base::scoped_refptr<base::SingleThreadTaskRunner> origin_task_runner_;
    const base::FilePath path_;
    Callback callback_;
    std::unique_ptr<Status> status_;
    const bool replace_kadro_installation_;
  };

  // Reads the registry and the drives, chooses the language, applies the command line and starts fetching the
  // status of the install folder: `folder` when given, else the one the mode suggests; for an uninstallation
  // the installation the running installer belongs to.
  Settings(bool uninstall, bool silent, bool autoupdate, const base::FilePath& folder,
           bool replace_kadro_installation);
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;
  ~Settings();

  // An observer must stay alive while the settings may notify it; removing one during a notification is safe.
  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);

  // Each returns false, changing nothing, when the settings are not editable or the change does not fit the run
  // (an upgrade keeps copy-only, single profile and all users; a standalone installation is neither for all users
  // nor the default browser; only an uninstallation deletes the profile). Otherwise it stores the value and
  // tells the observers, also when the value stays the same.
  bool SetCopyOnly(bool copy_only);
  bool SetSingleProfile(bool single_profile);
  bool SetAllUsers(bool all_users);
  bool SetDefaultBrowser(bool default_browser);
  bool SetImportBrowserData(bool import_browser_data);
  bool SetEnableInstallerStats(bool enable);
  bool SetEnableZorviStats(bool enable);
  bool SetDeleteProfile(bool delete_profile);
  // One of Mode; false for other values.
  bool SetMode(int mode);

  // Starts fetching the status of the folder (the text up to its first NUL). False when not editable.
  bool SetInstallFolder(std::wstring folder);
  void SetInstallFolderPath(const base::FilePath& path);
  // The user's pick of a language (the window's list): chooses it as the host has it and tells the observers.
  // False when not editable.
  bool SetInstallLanguage(std::wstring language);

  // The command line's folder, else the last install folder of the registry (each when asked for), else the
  // product folder in the mode's place.
  base::FilePath GetDefaultInstallFolder(bool use_command_line, bool use_registry) const;

  // The settings statistics, under `prefix` (except "autoupdate").
  void WriteStats(const std::string& prefix, InstallerStats* stats) const;

  // The record as switches for the backend (no program). `force_no_launch` keeps the browser from starting.
  base::CommandLine ToCommandLine(bool force_no_launch) const;

  // Puts the mode, shortcut and option fields back to their defaults and applies the process's switches.
  void FromCommandLine();

  Operation operation() const { return operation_; }
  bool copy_only() const { return copy_only_; }
  bool single_profile() const { return single_profile_; }
  bool launch_zorvi() const { return launch_zorvi_; }
  bool all_users() const { return all_users_; }
  bool default_browser() const { return default_browser_; }
  bool import_browser_data() const { return import_browser_data_; }
  bool enable_zorvi_stats() const { return enable_zorvi_stats_; }
  bool enable_installer_stats() const { return enable_installer_stats_; }
  bool desktop_shortcut() const { return desktop_shortcut_; }
  bool start_menu_shortcut() const { return start_menu_shortcut_; }
  bool quick_launch_shortcut() const { return quick_launch_shortcut_; }
  bool pinned_shortcut() const { return pinned_shortcut_; }
  bool uninstall() const { return uninstall_; }
  bool silent() const { return silent_; }
  bool autoupdate() const { return autoupdate_; }
  bool delete_profile() const { return delete_profile_; }
  const std::wstring& install_language() const { return install_language_; }
  // Whether the user picked the install language (here or in the process that started this one), rather than it
  // being the system's, the command line's or the installation's.
  bool install_language_chosen() const { return install_language_chosen_; }
  // Never null. Its path is the install folder.
  const Status& status() const { return *status_; }
  // Non-null while a status is being fetched.
  const StatusFetcher* status_fetcher() const { return status_fetcher_.get(); }
  bool editable() const { return editable_; }
  // Cleared when the installation starts; the interactive controller sets it again after an error.
  void set_editable(bool editable) { editable_ = editable; }
  bool replace_kadro_installation() const { return replace_kadro_installation_; }
  const base::FilePath& command_line_folder() const { return command_line_folder_; }
  const base::FilePath& registry_folder() const { return registry_folder_; }
  const base::FilePath& profile_folder() const { return profile_folder_; }
  const base::FilePath& standalone_drive() const { return standalone_drive_; }

 private:
  void OnStatusFetched(std::unique_ptr<Status> status);
  // Chooses the language as the host has it and tells the observers, without taking it for the user's pick.
  // False when not editable.
  bool ApplyInstallLanguage(std::wstring language);
  // Takes over how the existing installation of the new status was set up.
  void AdoptExistingInstallation();
  void ReadInstallFolderFromRegistry();
  void FindStandaloneDrive();
  // The user's own programs folder (current-user installations).
  base::FilePath GetUserProgramsFolder() const;
  // Clears what a copy-only installation never has. Entering copy-only (copy_only_ still false), it first keeps
  // the values for RestoreAfterCopyOnly.
  void ClearForCopyOnly();
  // Gives back what ClearForCopyOnly kept, when leaving copy-only for another mode.
  void RestoreAfterCopyOnly();
  // When editable and `allowed`: stores the value, logs "<label><value>" (verbosity 1), tells the observers and
  // returns true.
  bool ApplySetting(bool allowed, const char* label, bool value, bool* field);
  void LogSettings() const;
  void LogStatus() const;

  Operation operation_ = kOperationNone;
  bool copy_only_ = false;
  bool single_profile_ = false;
  bool launch_zorvi_ = false;
  bool all_users_ = false;
  bool default_browser_ = false;
  bool import_browser_data_ = false;
  bool enable_zorvi_stats_ = false;
  bool enable_installer_stats_ = false;
  bool desktop_shortcut_ = false;
  bool start_menu_shortcut_ = false;
  bool quick_launch_shortcut_ = false;
  bool pinned_shortcut_ = false;
  const bool uninstall_;
  const bool silent_;
  const bool autoupdate_;
  bool delete_profile_ = false;
  // What copy-only cleared, as it was before: leaving copy-only must not leave the user without the shortcuts
  // and the default browser that nobody took away.
  struct ChoicesBeforeCopyOnly {
    bool all_users = false;
    bool default_browser = false;
    bool desktop_shortcut = false;
    bool start_menu_shortcut = false;
    bool quick_launch_shortcut = false;
    bool pinned_shortcut = false;
  } choices_before_copy_only_;
  std::wstring install_language_;
  bool install_language_chosen_ = false;
  std::unique_ptr<Status> status_;
  base::scoped_refptr<StatusFetcher> status_fetcher_;
  base::ObserverList<Observer> observers_;
  bool editable_ = true;
  // The mode, shortcut and option fields hold what an existing installation's status gave, not the defaults.
  bool holds_installation_choices_ = false;
  const bool replace_kadro_installation_;
  const base::FilePath command_line_folder_;
  base::FilePath registry_folder_;
  base::FilePath profile_folder_;
  base::FilePath standalone_drive_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SETTINGS_H_
