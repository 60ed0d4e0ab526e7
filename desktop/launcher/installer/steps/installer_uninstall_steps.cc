// What an upgrade and an uninstallation remove: the version folders that older status logs record, the old root
// files, the status file, the autoupdate task, the installed files and, on request, the user's profile. Files
// still in use at the end of an uninstallation are left to the clean-up batch (uninstall_batch.h).
//
// Every path below comes from a status log or the installation's preferences, files the user can edit: each is
// checked to name what it should (inside the install folder, or a profile folder that is no system folder)
// before anything is deleted.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/pattern.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/url_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "base/win/wmi.h"
#include "desktop/common/autoupdate/updatechecker/globalstorage_win.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/link_free_deletion.h"
#include "desktop/launcher/installer/service/task_scheduler.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/service/xml_document.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/steps/default_browser.h"
#include "desktop/launcher/installer/steps/uninstall_batch.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kOldStatusPattern[] = L"*.xml.*";
// The shortcut of a companion program that earlier versions put into the start menu; only it goes.
constexpr char kRetiredShortcutSuffix[] = " Companion*.lnk";

// `relative` (a status log's subfolder and file) below `folder`, its "." and ".." resolved; false when it is
// absolute, climbs out of the folder or names the folder itself, so that a damaged or tampered log cannot make
// an uninstallation delete anything outside the installation.
bool ResolveInsideFolder(const base::FilePath& folder, const std::vector<base::FilePath>& relative,
                         base::FilePath* path) {
  std::vector<std::wstring> kept;
  for (const base::FilePath& part : relative) {
    const std::wstring& text = part.value();
    if (part.IsAbsolute() || (!text.empty() && (text[0] == L'\\' || text[0] == L'/')) ||
        text.find(L':') != std::wstring::npos) {
      return false;
    }
    std::vector<std::wstring> components;
    part.GetComponents(&components);
    for (const std::wstring& component : components) {
      if (component == L"..") {
        if (kept.empty())
          return false;
        kept.pop_back();
      } else if (component != L"." && component != L"\\" && component != L"/") {
        kept.push_back(component);
      }
    }
  }
  if (kept.empty())
    return false;
  *path = folder;
  for (const std::wstring& component : kept)
    *path = path->Append(component);
  return true;
}

// Whether the folder with `identity` is `folder` or holds it, spelled as given or as the system resolves it. Both
// are walked up to their roots: a link on the way makes the two differ.
bool IsSameOrHolds(const BY_HANDLE_FILE_INFORMATION& identity, const base::FilePath& folder) {
  for (const base::FilePath& spelling : {folder, GetResolvedPath(folder)}) {
    for (base::FilePath current = spelling.StripTrailingSeparators(); !current.empty();) {
      BY_HANDLE_FILE_INFORMATION other;
      if (GetFileIdentity(current, &other) && IsSameFileIdentity(identity, other))
        return true;
      const base::FilePath parent = current.DirName();
      if (parent == current)
        break;
      current = parent;
    }
  }
  return false;
}

// Why the profile folder `profile` must not be deleted recursively, or empty when it may: "profile_path" is
// text the user can edit, and a profile is never a drive, a system folder or a folder holding one. The folders
// are compared by identity, so that no other spelling (letter case, a short name, a trailing dot, the "\\?\"
// form) passes for another folder. The folders on the way are held in *path until the deletion ends, so that none
// becomes a link meanwhile: a link there, or as the profile itself, could lead the deletion to a folder of another
// account. *absent tells a profile that is not there, which needs no deletion.
std::string ProfileRefusal(const base::FilePath& profile, const base::FilePath& install_folder, LinkFreePath* path,
                           bool* absent) {
  if (!profile.IsAbsolute())
    return "it is relative";
  // No folder's name holds these; a deletion would take the path for a pattern and delete whatever it matches.
  if (profile.value().find_first_of(L"*?") != std::wstring::npos)
    return "it holds a wildcard";
  std::vector<std::wstring> components;
  profile.GetComponents(&components);
  if (std::find(components.begin(), components.end(), L"..") != components.end())
    return "it holds \"..\"";
  *absent = GetFileAttributesW(profile.value().c_str()) == INVALID_FILE_ATTRIBUTES &&
            (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND);
  std::string problem;
  if (*absent)
    return std::string();
  if (!path->Hold(profile, false, &problem))
    return "its path " + problem;
  BY_HANDLE_FILE_INFORMATION identity;
  const base::FilePath resolved = GetResolvedPath(profile);
  if (resolved.empty() || !GetFileIdentity(profile, &identity))
    return "it cannot be resolved";
  if (resolved.StripTrailingSeparators().DirName() == resolved.StripTrailingSeparators())
    return "it is a drive's root";
  constexpr int kKnownFolders[] = {base::kAppData,       base::kLocalAppData,     base::kHomeDir,
                                   base::kProgramFiles,  base::kProgramFilesX86,  base::kWindowsDir,
                                   base::kCommonAppData, base::kProgramFiles6432, base::kSystemDir};
  for (int key : kKnownFolders) {
    base::FilePath known;
    if (base::PathService::Get(key, &known) && IsSameOrHolds(identity, known))
      return "it is or holds the system folder " + known.AsUTF8();
  }
  if (IsSameOrHolds(identity, install_folder))
    return "it is or holds the installation folder";
  return std::string();
}

void DeleteProfileFolder(const base::FilePath& profile, const base::FilePath& install_folder) {
  LinkFreePath path;
  bool absent = false;
  const std::string refusal = ProfileRefusal(profile, install_folder, &path, &absent);
  if (!refusal.empty()) {
    LOG(ERROR) << "Not deleting the user profile " << profile.value() << ": " << refusal;
    return;
  }
  if (absent) {
    LOG(INFO) << "No user profile at " << profile.value();
    return;
  }
  LOG(INFO) << "Deleting user profile.";
  // Walked by handle: a subfolder swapped for a link while the walk is under way leads nowhere.
  std::string problem;
  const base::win::ScopedHandle folder = OpenLinkFreeFolder(profile, &path, &problem);
  if (!folder.IsValid() || !DeleteFolderContents(folder.Get(), profile, &problem) ||
      !DeleteOpenFolder(folder.Get())) {
    LOG(ERROR) << "Could not delete all of the user profile " << profile.value() << ": "
               << (problem.empty() ? "error " + std::to_string(GetLastError()) : problem);
  }
}

// Starts what outlives the installer: through the test seam when one is set.
bool StartDetached(const std::wstring& kind, const std::wstring& command_line, bool (*start)(const std::wstring&)) {
  if (const DetachedStartHook hook = GetDetachedStartHook())
    return hook(kind, command_line);
  return start(command_line);
}

bool StartHidden(const std::wstring& command_line) {
  base::LaunchOptions options;
  options.start_hidden = true;
  return base::LaunchProcess(command_line, options).IsValid();
}

bool StartThroughWmi(const std::wstring& command_line) {
  return base::win::LaunchProcessViaWmi(command_line, nullptr);
}

// The survey's address: its base, this version, the user's autoupdate id and what the installation's welcome
// page was given.
std::wstring SurveyUrl(const Status& status, const base::FilePath& install_folder) {
  std::string url = GetBrandingUrl("uninstall_survey") + "?version=" + GetFullVersionString();
  FolderInstallationInfo info(install_folder);
  base::FilePath profile;
  if (info.GetProfilePath(&profile, false)) {
    GlobalStorage* storage = GlobalStorage::GetInstance();
    storage->Initialize(profile);
    std::string uuid;
    // The id and the query come from files the user can edit, and the address goes unquoted onto the browser's
    // command line: escaped, no blank or quote in them can carry arguments of its own.
    if (storage->Read("UUID", &uuid) == GlobalStorage::kOk)
      url.append("&uuid=").append(base::EscapeUrlText(uuid, ""));
  }
  const std::vector<std::string> parts =
      base::SplitString(status.welcome_url, "?", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  if (parts.size() == 2)
    url.append("&").append(base::EscapeUrlText(parts[1], "!$&'()*+,;=:@/?%"));  // what a query may hold, escapes too
  return base::UTF8ToWide(url);
}

// Opens the uninstall survey in the system's browser, outside the installer's process tree so that it stays
// open after the uninstallation.
void ShowUninstallSurvey(const Status& status, const base::FilePath& install_folder) {
  LOG(INFO) << "Trying to display the uninstall survey";
  base::FilePath program_files;
  if (!base::PathService::Get(base::kProgramFiles, &program_files))
    return;
  const base::FilePath browser = program_files.Append(L"Internet Explorer").Append(L"iexplore.exe");
  // Quoted: the path holds blanks.
  std::wstring command_line = L"\"" + browser.value() + L"\"";
  if (base::win::GetVersion() >= base::win::VERSION_WIN8)
    command_line += L" -private";
  command_line += L" " + SurveyUrl(status, install_folder);
  if (!StartDetached(L"survey", command_line, StartThroughWmi))
    LOG(ERROR) << "Could not start the uninstall survey: " << command_line;
}

// The start-menu shortcuts of the companion program that earlier versions had.
std::vector<base::FilePath> RetiredShortcuts() {
  std::vector<base::FilePath> found;
  base::FilePath start_menu;
  const std::string product = GetProductName();
  if (product.empty() || !base::PathService::Get(base::kStartMenu, &start_menu))
    return found;
  const std::string pattern = product + kRetiredShortcutSuffix;
  base::FileEnumerator shortcuts(start_menu, false, base::FileEnumerator::FILES, base::UTF8ToWide(pattern));
  for (base::FilePath shortcut = shortcuts.Next(); !shortcut.empty(); shortcut = shortcuts.Next()) {
    // The system's search also matches short names; only the long name decides.
    if (base::WildcardMatch(shortcut.BaseName().AsUTF8(), pattern))
      found.push_back(shortcut);
  }
  return found;
}

}  // namespace

base::FilePath Installer::InstalledPath(const InstallLog& log, const base::FilePath& file) const {
  base::FilePath path;
  std::vector<base::FilePath> parts;
  if (!log.subfolder.empty())
    parts.push_back(log.subfolder);
  parts.push_back(file);
  if (!ResolveInsideFolder(install_folder(), parts, &path)) {
    LOG(ERROR) << "Skipping " << log.subfolder.value() << "\\" << file.value()
               << ": not a path inside the installation folder";
  }
  return path;
}

base::FilePath Installer::RootPath(const base::FilePath& file) const {
  return InstalledPath(InstallLog(), file);
}

// Applies one older status log: its version's files and the log go together, or (on upgrade, when one of them
// cannot be removed) neither does. What was removed joins the run, so that a later failure brings it back.
void Installer::RemoveOldInstallation(const base::FilePath& log_path) {
  InstallLog log;
  XmlDocument document;
  if (!LoadInstallLog(&document, &log, log_path)) {
    LOG(WARNING) << "Found invalid old status file: " << log_path.value();
    return;
  }
  LOG(INFO) << "Found old status file: " << log_path.value();
  const bool uninstall = settings_->operation() == Settings::kOperationUninstall;
  OperationList local;
  for (const base::FilePath& file : log.files) {
    const base::FilePath path = InstalledPath(log, file);
    if (path.empty())
      continue;
    if (ExecuteOperation(&local, std::make_unique<DeleteFileOperation>(path, true, install_folder())))
      continue;
    if (uninstall) {
      // The log goes, so only the clean-up batch can still remove it (a browser of that version still running).
      older_leftovers_.push_back(path);
      continue;
    }
    LOG(WARNING) << "Keeping the files of " << log_path.value() << ": " << path.value() << " cannot be removed";
    RollbackOperations(&local);
    return;
  }
  LOG(INFO) << "Deleting " << log_path.value();
  if (!ExecuteOperation(&local, std::make_unique<DeleteFileOperation>(log_path, false, install_folder())) &&
      !uninstall) {
    RollbackOperations(&local);
    return;
  }
  for (std::unique_ptr<Operation>& operation : local)
    transaction_.push_back(std::move(operation));
}

void Installer::StepRemoveInstalledFiles() {
  LOG(INFO) << "Removing installed files.";
  const base::FilePath old_status = install_folder().Append(kOldStatusFolderName);
  if (!base::DirectoryExists(old_status)) {
    LOG(INFO) << "No old status files found.";
    ScheduleNextStep();
    return;
  }
  std::vector<base::FilePath> logs;
  base::FileEnumerator entries(old_status, false, base::FileEnumerator::FILES, kOldStatusPattern);
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next())
    logs.push_back(entry);
  // Oldest name first, whatever order the file system lists them in.
  std::sort(logs.begin(), logs.end(),
            [](const base::FilePath& a, const base::FilePath& b) { return a.value() < b.value(); });
  for (const base::FilePath& log : logs)
    RemoveOldInstallation(log);
  RemoveDirectoryW(old_status.value().c_str());
  for (const base::FilePath& shortcut : RetiredShortcuts())
    Execute(std::make_unique<DeleteFileOperation>(shortcut, false));
  ScheduleNextStep();
}

void Installer::StepRemoveOldRootFiles() {
  LOG(INFO) << "Removing old files from installation root";
  for (const base::FilePath& file : settings_->status().install_log.root_files) {
    const base::FilePath path = RootPath(file);
    if (!path.empty())
      Execute(std::make_unique<DeleteFileOperation>(path, false, install_folder()));
  }
  ScheduleNextStep();
}

// The status file goes here; what the rest of the finalizing tells other programs (the notifications, the user's
// browser given back, the survey) cannot be undone and waits for the run's last report.
void Installer::StepFinalizeUninstallation() {
  LOG(INFO) << "Finalizing the uninstallation";
  const base::FilePath log = install_folder().Append(kInstallLogFileName);
  if (!Execute(std::make_unique<DeleteFileOperation>(log, false, install_folder()))) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", "Failed to remove installation status file");
    return;
  }
  ScheduleNextStep();
}

void Installer::StepCleanupAfterUninstallation() {
  LOG(INFO) << "Cleaning up files after uninstallation";
  const InstallLog& log = settings_->status().install_log;
  UninstallBatch batch(install_folder());
  auto leave = [&](const base::FilePath& path) {
    if (!batch.AddLeftoverFile(path))
      LOG(ERROR) << "The clean-up batch cannot name " << path.value() << "; it stays";
  };
  auto delete_or_leave = [&](const base::FilePath& path) {
    if (!path.empty() && !Execute(std::make_unique<DeleteFileOperation>(path, true, install_folder())))
      leave(path);
  };
  for (const base::FilePath& file : older_leftovers_)
    leave(file);
  for (const base::FilePath& file : log.files)
    delete_or_leave(InstalledPath(log, file));
  delete_or_leave(install_folder().Append(kLauncherFileName));
  if (!GetBrandingWhiteLabeled()) {
    const base::FilePath old = install_folder().Append(base::UTF8ToWide(GetBrandingFileNameBase() + ".old"));
    if (base::PathExists(old)) {
      // The launcher's copy in the place of the executable kept aside goes with it.
      delete_or_leave(old.ReplaceExtension(L".exe"));
      Execute(std::make_unique<DeleteFileOperation>(old, false));
    }
  }
  const base::FilePath overrides = install_folder().Append(kPrefDefaultOverridesFileName);
  if (!Execute(std::make_unique<DeleteFileOperation>(overrides, false, install_folder())))
    leave(overrides);
  for (const base::FilePath& file : log.root_files)
    delete_or_leave(RootPath(file));
  // The last report comes before what cannot be undone: an interruption it delivers still finds everything
  // restorable.
  if (!ReportStep())
    return;
  FinishUninstallation(&batch);
  Succeed();
}

void Installer::ResetDefaultBrowserAfterUninstallation(bool machine_wide, bool for_user) {
  if (settings_->copy_only() || !(machine_wide || for_user))
    return;
  LOG(INFO) << "Attempting to reset the default browser to IE.";
  if (settings_->status().is_http_handler && base::win::GetVersion() >= base::win::VERSION_VISTA)
    ResetDefaultBrowser(machine_wide, for_user);
}

void Installer::OfferUninstallSurvey() {
  if (!GetBrandingUrl("uninstall_survey").empty() && !settings_->silent())
    ShowUninstallSurvey(settings_->status(), install_folder());
}

void Installer::FinishUninstallation(UninstallBatch* batch) {
  NotifyBrowserRegistrationChanged();
  const Status& status = settings_->status();
  // A run started elevated for another process runs as an administrator, perhaps another account: the user's
  // browser choice and the survey page are left to the process that asked (RunPostElevationTasks).
  const bool for_user = !base::CommandLine::ForCurrentProcess()->HasSwitch(kParentPidSwitch);
  ResetDefaultBrowserAfterUninstallation(settings_->all_users(), for_user);
  if (for_user)
    OfferUninstallSurvey();
  if (!settings_->copy_only()) {
    LOG(INFO) << "Removing scheduled task";
    RemoveAutoupdateTask(status.install_log.app_id);
  }
  unsigned initial_pid = 0;
  base::StringToUint(base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(kInitialPidSwitch), &initial_pid);
  batch->SetWatchedProcesses(GetCurrentProcessId(), initial_pid, other_process_id_);
  const base::FilePath batch_file = install_folder().Append(kUninstallBatchFileName);
  if (!batch->Write())
    LOG(ERROR) << "Could not write " << batch_file.value();
  // A folder-permission helper that lent the run write access until its end runs the batch then.
  if (!helper_runs_uninstall_batch_) {
    LOG(INFO) << "Starting final cleanup batch file.";
    if (!StartDetached(L"batch", L"\"" + batch_file.value() + L"\"", StartHidden))
      LOG(ERROR) << "Could not start " << batch_file.value();
  }
  if (!settings_->delete_profile())
    return;
  // An elevated run may belong to another account than the user who asked (an administrator's name and password
  // given at the prompt): the profile found from here would be that account's. Only a run started for another
  // process is such a run; without that, the other process is the folder-permission helper, whose account may
  // well differ from this run's, the user's own.
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(kParentPidSwitch) && other_process_id_ != 0 &&
      !RunsAsSameUser(other_process_id_)) {
    LOG(ERROR) << "Not deleting the user profile: this run's account may not be the one of the user who asked";
    return;
  }
  FolderInstallationInfo info(install_folder());
  base::FilePath profile;
  if (!info.GetProfilePath(&profile, false))
    return;
  DeleteProfileFolder(profile, install_folder());
  // The default location has a twin below the local application data, where the caches are.
  base::FilePath app_data;
  base::FilePath local_app_data;
  base::FilePath relative;
  if (info.profile_path().empty() && base::PathService::Get(base::kAppData, &app_data) &&
      base::PathService::Get(base::kLocalAppData, &local_app_data) && app_data.AppendRelativePath(profile, &relative)) {
    DeleteProfileFolder(local_app_data.Append(relative), install_folder());
  }
}

}  // namespace zorvi::installer
