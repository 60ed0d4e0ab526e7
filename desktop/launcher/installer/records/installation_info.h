// What one installed copy of the browser says about itself: where it lives, what its installer preferences say
// (single profile, profile location), what its status log holds, the name it registers with Windows under, and
// where the user's profile data lies. The process-wide instance describes the installation the running
// installer belongs to; FolderInstallationInfo describes the one in a given folder.
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLATION_INFO_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLATION_INFO_H_

#include <string>

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/launcher/installer/records/install_log.h"

namespace zorvi::installer {

class InstallationInfo {
 public:
  // The installation of the running installer, made on first use (concurrent first callers get the same one)
  // and destroyed at exit.
  static InstallationInfo* GetInstance();

  // The installation of the running executable: its folder, or the folder above when only that one holds
  // launcher.exe (an installer started from a version subfolder belongs to the installation above it). Empty
  // when the executable's folder is unknown.
  InstallationInfo();
  InstallationInfo(const InstallationInfo&) = delete;
  InstallationInfo& operator=(const InstallationInfo&) = delete;
  virtual ~InstallationInfo();

  // The installation's installer_prefs.json, read once on first use. Nothing is ever written to it: the store
  // runs on a task runner that refuses every task.
  base::scoped_refptr<JsonPrefStore> GetPrefStore();

  // "single_profile" is the boolean true (anything else, or nothing, is false).
  bool IsSingleProfile();
  // The installation's "profile" folder, for single-profile installations only.
  bool GetSingleProfileFolder(base::FilePath* folder);
  // The profile folder the preferences' "profile_path" names, its first "<USERNAME>" replaced by the current
  // user's name; without "profile_path", the branding's template below the roaming application-data folder
  // ("{InternalStream}" becomes the stream's display word, '/' a backslash). False when the user name or the
  // folder cannot be had, and for a template that names no folder below the application-data folder.
  bool GetProfilePathFromTemplate(base::FilePath* path);
  // The user's profile folder: "profile\data" in a single-profile installation, else the one above. With
  // `parent_of_user_folders`, a "profile_path" whose "<USERNAME>" component is its last gives the folder that
  // holds every user's profile instead (its parent).
  bool GetProfilePath(base::FilePath* path, bool parent_of_user_folders);

  // Reads installation_status.xml of the folder on the first call only; a missing or bad file leaves the log
  // empty. The caller's thread has COM initialised.
  void LoadInstallLog();

  // Whether the user's command for `name` (a protocol, or an extension starting with '.') runs this
  // installation's launcher: "launcher.exe", or the branding's launcher name with `use_exe_name`. Letter case
  // does not matter.
  bool IsRegisteredHandler(const std::wstring& name, bool use_exe_name);
  // Whether `command` runs this installation's launcher, named as for IsRegisteredHandler.
  bool RunsLauncher(const std::wstring& command, bool use_exe_name) const;

  const base::FilePath& install_folder() const { return install_folder_; }
  const std::wstring& profile_path() const { return profile_path_; }
  const std::wstring& display_name() const { return display_name_; }
  const InstallLog& install_log() const { return install_log_; }
  bool install_log_loaded() const { return install_log_loaded_; }

 protected:
  // The installation in `folder`; with `log`, that log stands for the folder's status file, which is then never
  // read.
  InstallationInfo(const base::FilePath& folder, const InstallLog* log);

 private:
  // Reads "profile_path" and sets the display name.
  void LoadProfilePath();

  base::scoped_refptr<JsonPrefStore> pref_store_;
  base::FilePath install_folder_;
  std::wstring profile_path_;
  bool install_log_loaded_ = false;
  InstallLog install_log_;
  // The product name, a blank and the stream name: the application name of the default-programs registration.
  std::wstring display_name_;
};

// The installation in an explicitly given folder, for the installer's steps and the status of a folder.
class FolderInstallationInfo : public InstallationInfo {
 public:
  explicit FolderInstallationInfo(const base::FilePath& folder);
  // `log` stands for the folder's status file (a log being written, not yet saved).
  FolderInstallationInfo(const base::FilePath& folder, const InstallLog& log);
  ~FolderInstallationInfo() override;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLATION_INFO_H_
