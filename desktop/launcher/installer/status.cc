#include "desktop/launcher/installer/status.h"

#include <windows.h>

#include "base/base_paths.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/service/xml_document.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kKadroIniFileName[] = L"zorviprefs_default.ini";
constexpr wchar_t kTemporaryShortcutFolderName[] = L"Zorvi Software";

// Rights asked for an existing folder (FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE), and for a
// folder that is still to be made in its parent (FILE_ADD_SUBDIRECTORY).
constexpr DWORD kExistingFolderAccess = 0x1201BF;
constexpr DWORD kNewFolderAccess = 0x4;

// GetPrivateProfileStringW answers a value cut to the buffer with the buffer's size less one.
constexpr DWORD kIniPathBufferSize = MAX_PATH + 1;

// 1 or 0 for a boolean preference; -1 for anything else or nothing.
int ReadTristate(const JsonPrefStore& store, const char* key) {
  const base::Value* value = nullptr;
  bool flag = false;
  if (!store.GetValue(key, &value) || !value->GetAsBoolean(&flag))
    return -1;
  return flag ? 1 : 0;
}

// The log's mode flags are trusted only as far as what it recorded agrees: registry keys or shortcuts mean the
// installation was not copy-only, and machine-wide keys mean it was made for all users.
void ReconcileInstallModes(InstallLog* log) {
  log->copy_only = log->copy_only && log->machine_keys.empty() && log->user_keys.empty() &&
                   log->desktop_shortcut.empty() && log->start_menu_shortcut.empty() &&
                   log->quick_launch_shortcut.empty();
  log->all_users = !log->copy_only && (log->all_users || !log->machine_keys.empty());
}

}  // namespace

Status::Status(bool replace_kadro_installation) : replace_kadro_installation(replace_kadro_installation) {}

Status::~Status() = default;

void Status::Initialize(const base::FilePath& examined_path) {
  VLOG(1) << "Initializing status: " << examined_path.value();
  path = examined_path;
  valid_install_path = false;
  existing_installation = false;
  kadro_installation = false;
  existing_installation_traces = false;

  if (path.empty()) {
    VLOG(1) << "Path is empty";
    return;
  }
  if (!IsValidPath(path)) {
    VLOG(1) << "Path is not a valid Win32 path";
    return;
  }
  if (!path.IsAbsolute()) {
    VLOG(1) << "Path is relative";
    return;
  }
  const bool is_folder = base::DirectoryExists(path);
  if (!is_folder && base::PathExists(path)) {
    VLOG(1) << "Path is a file path";
    return;
  }
  if (!base::PathIsWritable(path) && GetDriveTypeW(path.value().substr(0, 3).c_str()) == DRIVE_CDROM) {
    VLOG(1) << "Path is to a non-writable CD-ROM";
    return;
  }

  if (is_folder) {
    VLOG(1) << "Path is a folder";
    valid_parent_folder = path;
    valid_install_path = true;
    XmlDocument document;
    const FolderInstallLog loaded = LoadFolderInstallLog(&document, &install_log, path);
    existing_installation = loaded != FolderInstallLog::kNone;
    kadro_installation = loaded == FolderInstallLog::kEarlierEngine;
  }

  if (!existing_installation && !is_folder) {
    // The folder is to be made: it needs an existing folder somewhere above it.
    for (base::FilePath current = path;;) {
      const base::FilePath parent = current.DirName();
      if (parent == current) {
        VLOG(1) << "Path is a root folder that's not valid (probably invalid drive letter)";
        return;
      }
      if (base::DirectoryExists(parent)) {
        VLOG(1) << "Path is valid";
        valid_parent_folder = parent;
        valid_install_path = true;
        Fetch();
        return;
      }
      if (base::PathExists(parent)) {
        VLOG(1) << "Path is child of a file (invalid)";
        return;
      }
      current = parent;
    }
  }

  if (!existing_installation) {
    VLOG(1) << "Path is not an existing installation";
    existing_installation_traces = base::PathExists(path.Append(kLauncherFileName));
    Fetch();
    return;
  }

  VLOG(1) << "Path is a existing installation";
  ReconcileInstallModes(&install_log);
  Fetch();
  // The stages above treat an earlier-engine installation as existing; whether this run may take it over is
  // decided only now.
  if (kadro_installation)
    existing_installation = replace_kadro_installation;
}

void Status::Fetch() {
  if (existing_installation) {
    VLOG(1) << "Testing shortcuts";
    const base::FilePath launcher_name = base::FilePath::FromUTF16(base::UTF8ToWide(GetLauncherExeName()));
    TestShortcutsTo(path.Append(kLauncherFileName), true);
    TestShortcutsTo(path.Append(launcher_name), false);
    TestShortcutsTo(path.Append(install_log.subfolder).Append(launcher_name), false);
    if (!temporary_shortcut_folder_exists) {
      base::FilePath start_menu;
      if (base::PathService::Get(base::kStartMenu, &start_menu)) {
        const base::FilePath folder = start_menu.Append(kTemporaryShortcutFolderName);
        temporary_shortcut_folder_exists = base::DirectoryExists(folder);
        if (temporary_shortcut_folder_exists)
          temporary_shortcut_folder = folder;
      }
    }
  }

  if (valid_install_path) {
    VLOG(1) << "Determining write access";
    has_write_access = HasWriteAccess(valid_parent_folder.value(), SE_FILE_OBJECT,
                                      valid_parent_folder == path ? kExistingFolderAccess : kNewFolderAccess);
  }

  const bool preferences_read = existing_installation && ReadExistingInstallation();
  if (!kadro_installation && preferences_read)
    return;
  VLOG(1) << "Reading old product type";
  ReadEarlierEngineIni(preferences_read);
}

bool Status::ReadExistingInstallation() {
  FolderInstallationInfo installation(path);
  VLOG(1) << "Determining whether we handled http";
  // The earlier engine registered its launcher under the branded name.
  is_http_handler = installation.IsRegisteredHandler(L"http", kadro_installation);
  VLOG(1) << "Reading exisitng tracking data";
  base::ReadFileToString(path.Append(kServerTrackingDataFileName), &tracking_data);

  const base::FilePath prefs_path = path.Append(kInstallerPrefsFileName);
  if (kadro_installation || !base::PathExists(prefs_path))
    return false;
  VLOG(1) << "Reading existing prefs";
  {
    // The installation's information has read the preferences already.
    const base::scoped_refptr<JsonPrefStore> prefs = installation.GetPrefStore();
    single_profile = ReadTristate(*prefs, kSingleProfilePref);
    import_browser_data = ReadTristate(*prefs, kImportBrowserDataPref);
    enable_stats = ReadTristate(*prefs, kEnableStatsPref);
    const base::Value* value = nullptr;
    if (prefs->GetValue(kLanguagePref, &value))
      value->GetAsString(&language);
    if (prefs->GetValue(kWelcomeUrlPref, &value))
      value->GetAsString(&welcome_url);

    VLOG(1) << "Reading existing experiments status";
    const base::ListValue* experiment_list = nullptr;
    if (prefs->GetValue(kAllInstallerExperimentsPref, &value) && value->GetAsList(&experiment_list)) {
      RegisterInstallerFeatures(&experiments);
      experiments.InitializeFromReader(base::ListFeatureReader(experiment_list));
      if (experiments.IsFeatureEnabled(kTestExperimentFeature))
        LOG(INFO) << "Test experiment was enabled in install folder.";
    }
  }

  VLOG(1) << "Finding current user profile";
  if (installation.GetProfilePath(&profile_path, false) && !profile_path.empty()) {
    const base::scoped_refptr<JsonPrefStore> local_state =
        PrefsTaskPool::GetInstance()->CreatePrefStore(profile_path.Append(kLocalStateFileName));
    const base::Value* value = nullptr;
    if (local_state->GetReadError() == PersistentPrefStore::kPrefReadErrorNone) {
      VLOG(1) << "Obtaining current user language";
      if (local_state->GetValue(kAppLocalePref, &value))
        value->GetAsString(&language);
    }
  }
  return true;
}

void Status::ReadEarlierEngineIni(bool preferences_read) {
  const base::FilePath ini = path.Append(kKadroIniFileName);
  if (!base::PathExists(ini))
    return;
  const wchar_t* const ini_name = ini.value().c_str();
  old_product_type = static_cast<int>(GetPrivateProfileIntW(L"System", L"Zorvi Product", 0, ini_name));
  if (old_product_type != 1 && old_product_type != 2)
    old_product_type = 0;
  if (preferences_read)
    return;
  VLOG(1) << "Reading old kadro prefs";
  const int multi_user = static_cast<int>(GetPrivateProfileIntW(L"System", L"Multi User", -1, ini_name));
  single_profile = multi_user == -1 ? -1 : (multi_user == 0 ? 1 : 0);
  wchar_t language_folder[kIniPathBufferSize] = L"";
  const DWORD length = GetPrivateProfileStringW(L"User Prefs", L"Language Files Directory", L"", language_folder,
                                                kIniPathBufferSize, ini_name);
  if (length != kIniPathBufferSize - 1)
    language = base::FilePath(language_folder).StripTrailingSeparators().BaseName().value();
}

void Status::TestShortcutsTo(const base::FilePath& target, bool target_is_current) {
  if (!base::PathExists(target))
    return;
  BY_HANDLE_FILE_INFORMATION identity = {};
  const BY_HANDLE_FILE_INFORMATION* target_identity = GetFileIdentity(target, &identity) ? &identity : nullptr;

  if (!desktop_shortcut_exists) {
    desktop_shortcut_exists = TestShortcut(install_log.desktop_shortcut, target, target_identity);
    recreate_desktop_shortcut = desktop_shortcut_exists && !target_is_current;
  }
  if (!start_menu_shortcut_exists) {
    start_menu_shortcut_exists = TestShortcut(install_log.start_menu_shortcut, target, target_identity);
    // From Windows 8 on the start-menu shortcut carries properties that earlier installers did not set.
    recreate_start_menu_shortcut = (start_menu_shortcut_exists && !target_is_current) ||
                                   base::win::GetVersion() >= base::win::VERSION_WIN8;
  }
  if (!quick_launch_shortcut_exists) {
    quick_launch_shortcut_exists = TestShortcut(install_log.quick_launch_shortcut, target, target_identity);
    recreate_quick_launch_shortcut = quick_launch_shortcut_exists && !target_is_current;
  }
  if (pinned_shortcut_path.empty() && base::win::GetVersion() >= base::win::VERSION_WIN7) {
    pinned_shortcut_path = FindTaskbarPin(target, target_identity);
    recreate_pinned_shortcut = !pinned_shortcut_path.empty() && !target_is_current;
  }
}

}  // namespace zorvi::installer
