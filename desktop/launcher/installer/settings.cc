#include "desktop/launcher/installer/settings.h"

#include <windows.h>

#include <winioctl.h>

#include <cwchar>
#include <iterator>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/features/feature_list.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/threading/worker_pool.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer {

namespace {

// Switches of the process that its backend gets as they are.
constexpr const char* kInheritedSwitches[] = {kInitialPidSwitch, kTempFolderSwitch, logging::kVSwitch};

// The release stream, whose installations become the default browser unless told otherwise.
constexpr int kReleaseStreamId = 4;

// The per-user programs folder below the local application data, where the system's own user program-files
// folder lives from Windows 7 on.
constexpr wchar_t kUserProgramsFolderName[] = L"Programs";

// Drive kinds for standalone installations, most wanted first; a drive ranked kNoDriveRank is never chosen.
constexpr int kNoDriveRank = 8;
int StandaloneDriveRank(UINT drive_type) {
  switch (drive_type) {
    case DRIVE_REMOVABLE:
      return 0;
    case DRIVE_REMOTE:
      return 1;
    case DRIVE_FIXED:
      return 3;
    case DRIVE_RAMDISK:
      return 4;
    case DRIVE_CDROM:
      return 5;
    case DRIVE_UNKNOWN:
      return 6;
    case DRIVE_NO_ROOT_DIR:
      return 7;
    default:
      return kNoDriveRank;
  }
}

// Whether the drive's volume answers a media check: a drive letter without media (an empty card reader) does
// not, and is no place for a standalone installation.
bool HasMedia(wchar_t letter) {
  const std::wstring volume = std::wstring(L"\\\\.\\") + letter + L":";
  base::win::ScopedHandle device(CreateFileW(volume.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!device.IsValid())
    return false;
  DWORD returned = 0;
  return DeviceIoControl(device.Get(), IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0, &returned, nullptr) ||
         GetLastError() == ERROR_MEDIA_CHANGED;
}

const wchar_t* FlagValue(bool value) {
  return value ? L"1" : L"0";
}

const char* OperationName(Settings::Operation operation) {
  switch (operation) {
    case Settings::kOperationInstall:
      return "installing";
    case Settings::kOperationUpgrade:
      return "upgrading";
    case Settings::kOperationUninstall:
      return "uninstalling";
    case Settings::kOperationNone:
      break;
  }
  return "invalid";
}

}  // namespace

bool ParseBoolSwitch(const std::wstring& value) {
  if (value.empty())
    return false;
  if (base::LowerCaseEqualsASCII(value, "yes") || base::LowerCaseEqualsASCII(value, "true"))
    return true;
  return std::wcstol(value.c_str(), nullptr, 10) != 0;
}

// Settings::StatusFetcher

Settings::StatusFetcher::StatusFetcher(const base::FilePath& path, Callback callback,
                                       bool replace_kadro_installation)
    : origin_task_runner_(base::ThreadTaskRunnerHandle::Get()),
      path_(path),
      callback_(std::move(callback)),
      replace_kadro_installation_(replace_kadro_installation) {}

Settings::StatusFetcher::~StatusFetcher() = default;

void Settings::StatusFetcher::FetchStatus() {
  if (!base::WorkerPool::PostTaskAndReply(
          base::Location("zorvi::installer::Settings::StatusFetcher::FetchStatus", __FILE__, __LINE__,
                         base::GetProgramCounter()),
          base::Bind(&StatusFetcher::BuildStatus, base::scoped_refptr<StatusFetcher>(this)),
          base::Bind(&StatusFetcher::DeliverStatus, base::scoped_refptr<StatusFetcher>(this)), true)) {
    LOG(ERROR) << "Could not start fetching the status of " << path_.value();
  }
}

void Settings::StatusFetcher::BuildStatus() {
  // The status log is read through the platform's XML objects.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  status_ = std::make_unique<Status>(replace_kadro_installation_);
  status_->Initialize(path_);
  if (SUCCEEDED(com))
    CoUninitialize();
}

void Settings::StatusFetcher::DeliverStatus() {
  DCHECK(origin_task_runner_->RunsTasksOnCurrentThread());
  if (!callback_.is_null())
    callback_.Run(std::move(status_));
}

// Settings

Settings::Settings(bool uninstall, bool silent, bool autoupdate, const base::FilePath& folder,
                   bool replace_kadro_installation)
    : uninstall_(uninstall),
      silent_(silent),
      autoupdate_(autoupdate),
      status_(std::make_unique<Status>(replace_kadro_installation)),
      replace_kadro_installation_(replace_kadro_installation),
      command_line_folder_(folder.NormalizePathSeparators()) {
  ReadInstallFolderFromRegistry();
  FindStandaloneDrive();
  VLOG(1) << "Obtaining system language";
  SelectUiLanguage(GetUiLanguageId(), &install_language_);
  VLOG(1) << "Initializing settings";

  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (uninstall_) {
    SetDeleteProfile(command_line.HasSwitch(kDeleteProfileSwitch) &&
                     ParseBoolSwitch(command_line.GetSwitchValueNative(kDeleteProfileSwitch)));
    // An uninstaller removes the installation it belongs to.
    SetInstallFolder(InstallationInfo::GetInstance()->install_folder().value());
    return;
  }
  if (command_line.HasSwitch(kLanguageSwitch))
    ApplyInstallLanguage(command_line.GetSwitchValueNative(kLanguageSwitch));
  install_language_chosen_ = command_line.HasSwitch(kLanguageChosenSwitch);
  FromCommandLine();
  SetInstallFolder(GetDefaultInstallFolder(true, true).value());
}

Settings::~Settings() {
  VLOG(1) << "Destroying settings";
  if (status_fetcher_)
    status_fetcher_->ResetCallback();
}

void Settings::AddObserver(Observer* observer) {
  observers_.AddObserver(observer);
}

void Settings::RemoveObserver(Observer* observer) {
  observers_.RemoveObserver(observer);
}

bool Settings::ApplySetting(bool allowed, const char* label, bool value, bool* field) {
  if (!editable_ || !allowed)
    return false;
  *field = value;
  VLOG(1) << label << value;
  observers_.ForEach([](Observer* observer) { observer->OnSettingsChanged(); });
  return true;
}

void Settings::ClearForCopyOnly() {
  // Already copy-only, the values are cleared ones; the kept ones stay.
  if (!copy_only_) {
    choices_before_copy_only_ = {all_users_,           default_browser_,       desktop_shortcut_,
                                 start_menu_shortcut_, quick_launch_shortcut_, pinned_shortcut_};
  }
  all_users_ = false;
  default_browser_ = false;
  desktop_shortcut_ = false;
  start_menu_shortcut_ = false;
  quick_launch_shortcut_ = false;
  pinned_shortcut_ = false;
}

void Settings::RestoreAfterCopyOnly() {
  all_users_ = choices_before_copy_only_.all_users;
  default_browser_ = choices_before_copy_only_.default_browser;
  desktop_shortcut_ = choices_before_copy_only_.desktop_shortcut;
  start_menu_shortcut_ = choices_before_copy_only_.start_menu_shortcut;
  quick_launch_shortcut_ = choices_before_copy_only_.quick_launch_shortcut;
  pinned_shortcut_ = choices_before_copy_only_.pinned_shortcut;
}

// An upgrade keeps the mode and profile kind of the installation it upgrades; a standalone installation is
// nobody's default browser and makes no shortcuts.
bool Settings::SetCopyOnly(bool copy_only) {
  if (!editable_ || operation_ == kOperationUpgrade)
    return false;
  if (copy_only)
    ClearForCopyOnly();
  else if (copy_only_)
    RestoreAfterCopyOnly();
  return ApplySetting(true, "copy_only_ set to: ", copy_only, &copy_only_);
}

bool Settings::SetSingleProfile(bool single_profile) {
  return ApplySetting(operation_ != kOperationUpgrade, "single_profile_ set to: ", single_profile, &single_profile_);
}

bool Settings::SetAllUsers(bool all_users) {
  return ApplySetting(operation_ != kOperationUpgrade && !copy_only_, "all_users_ set to: ", all_users, &all_users_);
}

bool Settings::SetDefaultBrowser(bool default_browser) {
  return ApplySetting(!copy_only_, "default_browser_ set to: ", default_browser, &default_browser_);
}

bool Settings::SetImportBrowserData(bool import_browser_data) {
  return ApplySetting(true, "import_browser_data_ set to: ", import_browser_data, &import_browser_data_);
}

bool Settings::SetEnableInstallerStats(bool enable) {
  return ApplySetting(true, "enable_installer_stats_ set to: ", enable, &enable_installer_stats_);
}

bool Settings::SetEnableZorviStats(bool enable) {
  return ApplySetting(true, "enable_zorvi_stats_ set to: ", enable, &enable_zorvi_stats_);
}

bool Settings::SetDeleteProfile(bool delete_profile) {
  return ApplySetting(uninstall_, "delete_profile_ set to: ", delete_profile, &delete_profile_);
}

bool Settings::SetMode(int mode) {
  VLOG(2) << "Changing Settings using SetMode";
  if (!editable_)
    return false;
  // A single profile asked for on the command line outlasts every mode change.
  const bool keep_single_profile = base::CommandLine::ForCurrentProcess()->HasSwitch(kSingleProfileSwitch);
  switch (mode) {
    case kModeAllUsers:
    case kModeCurrentUser:
      if (!keep_single_profile)
        SetSingleProfile(false);
      if (!SetCopyOnly(false))
        return false;
      return SetAllUsers(mode == kModeAllUsers);
    case kModeStandalone:
      if (!keep_single_profile)
        SetSingleProfile(true);
      return SetCopyOnly(true);
    default:
      return false;
  }
}

bool Settings::SetInstallFolder(std::wstring folder) {
  if (!editable_)
    return false;
  folder.resize(wcsnlen(folder.c_str(), folder.size()));
  SetInstallFolderPath(base::FilePath(folder));
  return true;
}

void Settings::SetInstallFolderPath(const base::FilePath& path) {
  VLOG(1) << "Setting install folder to: " << path.value();
  // The folder whose status will be in force once the fetches end: the one being fetched, else the current one.
  // Comparing with the current status alone would let a fetch of another folder, still running, win over a
  // change back to the current folder.
  const base::FilePath& last_asked = status_fetcher_ ? status_fetcher_->path() : status_->path;
  if (base::FilePath::CompareIgnoreCase(path.value(), last_asked.value()) == 0)
    return;
  if (status_fetcher_)
    status_fetcher_->ResetCallback();
  status_fetcher_ = new StatusFetcher(path, base::Bind(&Settings::OnStatusFetched, base::Unretained(this)),
                                      replace_kadro_installation_);
  status_fetcher_->FetchStatus();
}

bool Settings::SetInstallLanguage(std::wstring language) {
  if (!editable_)
    return false;
  install_language_chosen_ = true;
  return ApplyInstallLanguage(std::move(language));
}

bool Settings::ApplyInstallLanguage(std::wstring language) {
  if (!editable_)
    return false;
  if (language == install_language_)
    return true;
  install_language_ = std::move(language);
  VLOG(1) << "Attempt setting install_language_ to: " << install_language_;
  SelectUiLanguage(GetUiLanguageId(), &install_language_);
  VLOG(1) << "Actual install_language_ set: " << install_language_;
  observers_.ForEach([](Observer* observer) { observer->OnLanguageChanged(); });
  return true;
}

void Settings::FromCommandLine() {
  if (!editable_)
    return;
  VLOG(1) << "Settings from command line";
  holds_installation_choices_ = false;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const auto read_switch = [&command_line](const char* name, bool* field) {
    if (command_line.HasSwitch(name))
      *field = ParseBoolSwitch(command_line.GetSwitchValueNative(name));
  };

  all_users_ = IsUserAdmin(true);
  copy_only_ = false;
  launch_zorvi_ = true;
  default_browser_ = GetStreamId() == kReleaseStreamId && !autoupdate_;
  import_browser_data_ = true;
  enable_zorvi_stats_ = true;
  enable_installer_stats_ = true;
  desktop_shortcut_ = true;
  single_profile_ = false;
  start_menu_shortcut_ = true;
  // Windows 7 replaced the quick-launch bar by pinned taskbar items.
  quick_launch_shortcut_ = base::win::GetVersion() < base::win::VERSION_WIN7;
  pinned_shortcut_ = base::win::CanPinShortcutToTaskbar();

  if (command_line.HasSwitch(kLaunchZorviSwitch))
    read_switch(kLaunchZorviSwitch, &launch_zorvi_);
  else
    read_switch(kLaunchBrowserSwitch, &launch_zorvi_);
  read_switch(kImportBrowserDataSwitch, &import_browser_data_);
  if (command_line.HasSwitch(kEnableStatsSwitch)) {
    read_switch(kEnableStatsSwitch, &enable_zorvi_stats_);
    enable_installer_stats_ = enable_zorvi_stats_;
  }
  read_switch(kEnableInstallerStatsSwitch, &enable_installer_stats_);
  read_switch(kAllUsersSwitch, &all_users_);
  read_switch(kDefaultBrowserSwitch, &default_browser_);
  read_switch(kDesktopShortcutSwitch, &desktop_shortcut_);
  read_switch(kStartMenuShortcutSwitch, &start_menu_shortcut_);
  read_switch(kQuickLaunchShortcutSwitch, &quick_launch_shortcut_);
  read_switch(kPinToTaskbarSwitch, &pinned_shortcut_);
  // Cleared with copy_only_ still false, so that another mode chosen later gets these choices back.
  bool copy_only = false;
  read_switch(kCopyOnlySwitch, &copy_only);
  if (copy_only) {
    ClearForCopyOnly();
    copy_only_ = true;
    single_profile_ = true;
  }
  read_switch(kSingleProfileSwitch, &single_profile_);
  if (command_line.HasSwitch(kProfileFolderSwitch))
    profile_folder_ = command_line.GetSwitchValuePath(kProfileFolderSwitch);
  LogSettings();
}

void Settings::OnStatusFetched(std::unique_ptr<Status> status) {
  status_fetcher_ = nullptr;
  if (!editable_) {
    VLOG(1) << "Discarding the status of " << status->path.value() << ": the settings are no longer editable";
    return;
  }
  status_ = std::move(status);
  operation_ = kOperationNone;
  LOG(INFO) << "Install folder set: " << status_->path.value();

  if (!status_->valid_install_path || (uninstall_ && !status_->existing_installation)) {
    VLOG(1) << "Invalid install folder";
    observers_.ForEach([](Observer* observer) { observer->OnPathChanged(); });
    return;
  }
  LogStatus();
  // Another installation's choices must not carry over to this one, also when an invalid folder came between
  // (it leaves the record as it was).
  if (status_->existing_installation || holds_installation_choices_)
    FromCommandLine();

  operation_ = uninstall_                         ? kOperationUninstall
               : status_->existing_installation ? kOperationUpgrade
                                                : kOperationInstall;
  LOG(INFO) << "Operation: " << operation_;

  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (!status_->existing_installation && !status_->kadro_installation) {
    if (!uninstall_ && !command_line.HasSwitch(kSingleProfileSwitch))
      single_profile_ = status_->single_profile != -1 ? status_->single_profile == 1 : copy_only_;
  } else {
    AdoptExistingInstallation();
  }

  LogSettings();
  if (!status_->language.empty() && (uninstall_ || !command_line.HasSwitch(kLanguageSwitch))) {
    // The installation's own language replaces whatever was picked before.
    if (ApplyInstallLanguage(status_->language))
      install_language_chosen_ = false;
  }
  observers_.ForEach([](Observer* observer) { observer->OnPathChanged(); });
}

void Settings::AdoptExistingInstallation() {
  VLOG(1) << "Using settings from existing installation";
  holds_installation_choices_ = true;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const InstallLog& log = status_->install_log;
  if (log.copy_only)
    ClearForCopyOnly();
  else if (copy_only_)
    RestoreAfterCopyOnly();
  copy_only_ = log.copy_only;
  all_users_ = log.all_users;
  single_profile_ = status_->single_profile == 1;
  const auto adopt_unless_switch = [&command_line](const char* name, bool* field, bool value) {
    if (!command_line.HasSwitch(name))
      *field = value;
  };
  adopt_unless_switch(kDesktopShortcutSwitch, &desktop_shortcut_, status_->desktop_shortcut_exists);
  adopt_unless_switch(kStartMenuShortcutSwitch, &start_menu_shortcut_, status_->start_menu_shortcut_exists);
  adopt_unless_switch(kQuickLaunchShortcutSwitch, &quick_launch_shortcut_, status_->quick_launch_shortcut_exists);
  adopt_unless_switch(kPinToTaskbarSwitch, &pinned_shortcut_, !status_->pinned_shortcut_path.empty());
  adopt_unless_switch(kImportBrowserDataSwitch, &import_browser_data_, status_->import_browser_data != 0);
  adopt_unless_switch(kEnableStatsSwitch, &enable_zorvi_stats_, status_->enable_stats != 0);
  adopt_unless_switch(kEnableInstallerStatsSwitch, &enable_installer_stats_, enable_zorvi_stats_);
  // The earlier engine's autoupdate expects the browser to come back after the update.
  if (autoupdate_ && status_->kadro_installation && !replace_kadro_installation_)
    launch_zorvi_ = true;
  // Taking over from the earlier engine keeps the user's default browser.
  if ((autoupdate_ || replace_kadro_installation_) && status_->kadro_installation && status_->is_http_handler)
    default_browser_ = true;
}

void Settings::ReadInstallFolderFromRegistry() {
  const std::wstring stream_name = base::UTF8ToWide(GetStreamName());
  // The name this installer writes comes first: it holds the folder of the latest installation, which an earlier
  // installer's value, still there from before, would otherwise hide.
  std::vector<std::wstring> value_names = {
      L"Last " + stream_name + L" Install Path",
      L"Last " + stream_name + L" Install Path x64",
      L"Last " + base::UTF8ToWide(GetStreamDisplayName()) + L" Install Path x64",
  };
  if (GetStreamId() == kReleaseStreamId)
    value_names.push_back(L"Last install path");

  base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath().c_str(), KEY_READ);
  for (const std::wstring& name : value_names) {
    std::wstring value;
    if (!key.Valid() || key.ReadValue(name.c_str(), &value) != ERROR_SUCCESS)
      continue;
    VLOG(1) << "Install folder reg value: " << name;
    const base::FilePath folder(value);
    if (folder.IsAbsolute() && base::DirectoryExists(folder))
      registry_folder_ = folder.StripTrailingSeparators();
    break;
  }
  VLOG(1) << "Install folder from reg value: " << registry_folder_.value();
}

void Settings::FindStandaloneDrive() {
  const DWORD drives = GetLogicalDrives();
  int best_rank = kNoDriveRank;
  standalone_drive_ = base::FilePath(L"A:\\");
  for (wchar_t letter = L'A'; letter <= L'Z' && best_rank > 0; ++letter) {
    if (!(drives & (1u << (letter - L'A'))) || !HasMedia(letter))
      continue;
    const std::wstring root = std::wstring(1, letter) + L":\\";
    const int rank = StandaloneDriveRank(GetDriveTypeW(root.c_str()));
    if (rank < best_rank) {
      best_rank = rank;
      standalone_drive_ = base::FilePath(root);
    }
  }
  VLOG(1) << "Default standalone drive: " << standalone_drive_.value();
}

base::FilePath Settings::GetUserProgramsFolder() const {
  base::FilePath folder;
  if (base::win::GetVersion() >= base::win::VERSION_WIN7 && GetUserProgramFilesFolder(&folder))
    return folder;
  // The system names no user program-files folder before Windows 7, and may fail to make it later (a profile
  // without the folder's definition): it is the same folder below the local application data. Without this
  // the default would be a relative path, which no status accepts.
  if (!base::PathService::Get(base::kLocalAppData, &folder))
    return base::FilePath();
  return folder.Append(kUserProgramsFolderName);
}

base::FilePath Settings::GetDefaultInstallFolder(bool use_command_line, bool use_registry) const {
  LOG(INFO) << "Retrieving default installation folder path";
  LOG(INFO) << " - Using command line: " << use_command_line;
  LOG(INFO) << " - Using the registry: " << use_registry;
  if (use_command_line && !command_line_folder_.empty())
    return command_line_folder_;
  VLOG(2) << "Default install folder: not from command line";
  if (use_registry && !registry_folder_.empty())
    return registry_folder_;
  LOG(INFO) << "Default install folder: not from registry";

  base::FilePath base_folder;
  if (all_users_) {
    LOG(INFO) << "Default install folder: for all users";
    base::PathService::Get(base::kProgramFiles, &base_folder);
  } else if (copy_only_) {
    LOG(INFO) << "Default install folder: for all standalone";
    base_folder = standalone_drive_;
  } else {
    LOG(INFO) << "Default install folder: for current user";
    base_folder = GetUserProgramsFolder();
  }
  const base::FilePath folder = base_folder.Append(base::UTF8ToWide(GetVisibleProductNameWithStream()));
  VLOG(1) << "Default install folder: " << folder.value();
  return folder;
}

void Settings::WriteStats(const std::string& prefix, InstallerStats* stats) const {
  LOG(INFO) << "Writing setting stats with prefix " << prefix;
  stats->SetString(prefix + "installation_mode",
                   copy_only_ ? "standalone" : (all_users_ ? "all_users" : "current_user"));
  stats->SetString(prefix + "installation_operation", OperationName(operation_));
  stats->SetInteger("autoupdate", autoupdate_ ? 1 : 0);
  if (!InstallerUiStatsEnabled())
    return;
  stats->SetInteger(prefix + "make_default", default_browser_ ? 1 : 0);
  const bool default_folder =
      base::FilePath::CompareIgnoreCase(status_->path.value(), GetDefaultInstallFolder(false, false).value()) == 0;
  stats->SetInteger(prefix + "using_default_installation_folder", default_folder ? 1 : 0);
  const bool privileged = !IsUserAdmin(false) && (all_users_ || !status_->has_write_access);
  stats->SetInteger(prefix + "using_privileged_installation_folder", privileged ? 1 : 0);
}

base::CommandLine Settings::ToCommandLine(bool force_no_launch) const {
  const base::CommandLine& process = *base::CommandLine::ForCurrentProcess();
  base::CommandLine command_line;
  command_line.AppendSwitch(kBackendSwitch);
  if (silent_)
    command_line.AppendSwitch(kSilentSwitch);
  command_line.CopySwitchesFrom(process, kInheritedSwitches, std::size(kInheritedSwitches));

  if (operation_ == kOperationInstall || operation_ == kOperationUpgrade) {
    command_line.AppendSwitch(kInstallSwitch);
    if (autoupdate_)
      command_line.AppendSwitch(kAutoupdateSwitch);
    command_line.AppendSwitchNative(kImportBrowserDataSwitch, FlagValue(import_browser_data_));
    command_line.AppendSwitchNative(kEnableStatsSwitch, FlagValue(enable_zorvi_stats_));
    command_line.AppendSwitchNative(kEnableInstallerStatsSwitch, FlagValue(enable_installer_stats_));
    command_line.AppendSwitchNative(kLaunchZorviSwitch, FlagValue(launch_zorvi_ && !force_no_launch));
    command_line.AppendSwitchFilePath(kInstallFolderSwitch, status_->path);
    command_line.AppendSwitchFilePath(kProfileFolderSwitch, profile_folder_);
    if (!install_language_.empty()) {
      command_line.AppendSwitchNative(kLanguageSwitch, install_language_);
      if (install_language_chosen_)
        command_line.AppendSwitch(kLanguageChosenSwitch);
    }
    // An upgrade takes these from the installation it upgrades.
    if (operation_ == kOperationInstall) {
      command_line.AppendSwitchNative(kSingleProfileSwitch, FlagValue(single_profile_));
      command_line.AppendSwitchNative(kCopyOnlySwitch, FlagValue(copy_only_));
    }
    if (!copy_only_) {
      if (operation_ == kOperationInstall)
        command_line.AppendSwitchNative(kAllUsersSwitch, FlagValue(all_users_));
      command_line.AppendSwitchNative(kDefaultBrowserSwitch, FlagValue(default_browser_));
      command_line.AppendSwitchNative(kStartMenuShortcutSwitch, FlagValue(start_menu_shortcut_));
      command_line.AppendSwitchNative(kDesktopShortcutSwitch, FlagValue(desktop_shortcut_));
      command_line.AppendSwitchNative(kQuickLaunchShortcutSwitch, FlagValue(quick_launch_shortcut_));
      command_line.AppendSwitchNative(kPinToTaskbarSwitch, FlagValue(pinned_shortcut_));
    }
    // Also for a standalone run: whether an earlier-engine installation counts as existing decides the
    // backend's operation.
    if (replace_kadro_installation_)
      command_line.AppendSwitch(kReplaceKadroInstallationSwitch);
    if (process.HasSwitch(kServerTrackingDataSwitch))
      command_line.AppendSwitchFilePath(kServerTrackingDataSwitch, process.GetSwitchValuePath(kServerTrackingDataSwitch));
    // Only the states this process was given: a feature at its default is left to the backend, which takes an
    // upgraded installation's stored state for it.
    base::AppendFeatureSwitchesToCommandLine(&command_line);
    command_line.CopySwitchesFrom(process, kBrowserImportSwitches, std::size(kBrowserImportSwitches));
  } else if (operation_ == kOperationUninstall) {
    command_line.AppendSwitch(kUninstallSwitch);
    command_line.AppendSwitchNative(kDeleteProfileSwitch, FlagValue(delete_profile_));
  }
  VLOG(1) << "Settings as command line: " << command_line.GetCommandLineString();
  return command_line;
}

void Settings::LogSettings() const {
  VLOG(1) << "all_users_:" << all_users_;
  VLOG(1) << "copy_only_:" << copy_only_;
  VLOG(1) << "default_browser_:" << default_browser_;
  VLOG(1) << "desktop_shortcut_:" << desktop_shortcut_;
  VLOG(1) << "enable_installer_stats_:" << enable_installer_stats_;
  VLOG(1) << "enable_zorvi_stats_:" << enable_zorvi_stats_;
  VLOG(1) << "import_browser_data_:" << import_browser_data_;
  VLOG(1) << "launch_zorvi_:" << launch_zorvi_;
  VLOG(1) << "language:" << install_language_;
  VLOG(1) << "pinned_shortcut_:" << pinned_shortcut_;
  VLOG(1) << "quick_launch_shortcut_:" << quick_launch_shortcut_;
  VLOG(1) << "single_profile_:" << single_profile_;
  VLOG(1) << "start_menu_shortcut_:" << start_menu_shortcut_;
}

void Settings::LogStatus() const {
  const Status& status = *status_;
  VLOG(1) << "status for install folder:";
  if (status.path != status.valid_parent_folder) {
    // The folder does not exist yet: nothing but its parent is known.
    VLOG(1) << "valid_parent folder: " << status.valid_parent_folder.value();
    VLOG(1) << "has_write_access: " << status.has_write_access;
    return;
  }
  VLOG(1) << "valid_install_path: " << status.valid_install_path;
  VLOG(1) << "existing_installation: " << status.existing_installation;
  VLOG(1) << "existing_installation_traces: " << status.existing_installation_traces;
  VLOG(1) << "kadro_installation: " << status.kadro_installation;
  VLOG(1) << "valid_parent folder: " << status.valid_parent_folder.value();
  VLOG(1) << "desktop_shortcut_exists: " << status.desktop_shortcut_exists;
  VLOG(1) << "enable_stats: " << status.enable_stats;
  VLOG(1) << "has_write_access: " << status.has_write_access;
  VLOG(1) << "import_browser_data: " << status.import_browser_data;
  VLOG(1) << "is_http_handler: " << status.is_http_handler;
  VLOG(1) << "language: " << status.language;
  VLOG(1) << "old_product_type: " << status.old_product_type;
  VLOG(1) << "pinned_shortcut_path: " << status.pinned_shortcut_path.value();
  VLOG(1) << "profile_path: " << status.profile_path.value();
  VLOG(1) << "quick_launch_shortcut_exists: " << status.quick_launch_shortcut_exists;
  VLOG(1) << "temporary_shortcut_folder: " << status.temporary_shortcut_folder.value();
  VLOG(1) << "temporary_shortcut_folder_exists: " << status.temporary_shortcut_folder_exists;
  VLOG(1) << "tracking_data: " << status.tracking_data;
  VLOG(1) << "recreate_desktop_shortcut: " << status.recreate_desktop_shortcut;
  VLOG(1) << "recreate_pinned_shortcut: " << status.recreate_pinned_shortcut;
  VLOG(1) << "recreate_quick_launch_shortcut: " << status.recreate_quick_launch_shortcut;
  VLOG(1) << "recreate_start_menu_shortcut: " << status.recreate_start_menu_shortcut;
  VLOG(1) << "single_profile: " << status.single_profile;
  VLOG(1) << "start_menu_shortcut_exists: " << status.start_menu_shortcut_exists;
  VLOG(1) << "welcome_url: " << status.welcome_url;
}

}  // namespace zorvi::installer
