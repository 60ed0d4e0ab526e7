// What the installer knows about one candidate install folder: whether it can hold an installation, the
// nearest folder that exists, whether the user may write there, and, when it already holds an installation
// (of this browser or of its earlier engine), how that one was set up: its status log, shortcuts and pin,
// whether it handles http, its saved installer preferences and experiments, its profile and language.
//
// Every negative finding is a field value, never an error. Initialize does blocking file, registry and COM
// work, so the settings run it on a worker thread and take the object over when it is done.
#ifndef DESKTOP_LAUNCHER_INSTALLER_STATUS_H_
#define DESKTOP_LAUNCHER_INSTALLER_STATUS_H_

#include <string>

#include "base/features/feature_list.h"
#include "base/files/file_path.h"
#include "desktop/launcher/installer/records/install_log.h"

namespace zorvi::installer {

class Status {
 public:
  // Earlier-engine installations count as existing installations only with `replace_kadro_installation`.
  explicit Status(bool replace_kadro_installation);
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;
  ~Status();

  // Classifies `path` and fills every field. The calling thread has COM initialised.
  void Initialize(const base::FilePath& path);

  // The second stage of Initialize, once the path is known to be usable: shortcuts, write access and, for an
  // existing installation, what it saved.
  void Fetch();

  // Looks for the log's shortcuts and a taskbar pin that reach `target` (by path or file identity); a shortcut
  // to a target that is not `target_is_current` is to be made again. Only unset findings change.
  void TestShortcutsTo(const base::FilePath& target, bool target_is_current);

  // The folder's installation_status.xml, or the earlier engine's log; empty when none loads.
  InstallLog install_log;
  bool desktop_shortcut_exists = false;
  bool start_menu_shortcut_exists = false;
  bool quick_launch_shortcut_exists = false;
  // The company's folder below the user's start-menu programs, where earlier installers put shortcuts.
  bool temporary_shortcut_folder_exists = false;
  // The user may write the folder, or create it in valid_parent_folder.
  bool has_write_access = false;
  base::FilePath pinned_shortcut_path;
  bool recreate_desktop_shortcut = false;
  bool recreate_start_menu_shortcut = false;
  bool recreate_quick_launch_shortcut = false;
  bool recreate_pinned_shortcut = false;
  bool is_http_handler = false;
  // Saved installer preferences: 1, 0, or -1 when not known.
  int import_browser_data = -1;
  int enable_stats = -1;
  // From the preferences, the profile's "Local State" or the earlier engine's ini.
  std::wstring language;
  std::string welcome_url;
  // The folder's server_tracking_data file.
  std::string tracking_data;
  int single_profile = -1;
  // The earlier engine's product type: 1 or 2, 0 for anything else, -1 when not read.
  int old_product_type = -1;
  // The current user's profile folder of this installation.
  base::FilePath profile_path;
  base::FilePath temporary_shortcut_folder;
  // The installer experiments saved in the folder's preferences.
  base::FeatureList experiments;
  // The examined folder.
  base::FilePath path;
  // The path itself when it is an existing folder, else its nearest existing ancestor.
  base::FilePath valid_parent_folder;
  bool valid_install_path = false;
  // The folder holds an installation this installer may upgrade or uninstall.
  bool existing_installation = false;
  // The folder holds an installation of the earlier engine.
  bool kadro_installation = false;
  // No status log, but a launcher: what a broken or foreign installation leaves.
  bool existing_installation_traces = false;
  const bool replace_kadro_installation;

 private:
  // Whether the installation handles http, its tracking data, and from its installer_prefs.json its choices,
  // experiments and profile language; false when it has no such file to read (or is the earlier engine's).
  bool ReadExistingInstallation();
  // Reads the earlier engine's ini: its product type, and its profile and language when `preferences_read`
  // says the preferences gave none.
  void ReadEarlierEngineIni(bool preferences_read);
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_STATUS_H_
