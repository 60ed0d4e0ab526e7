#include "desktop/launcher/installer/records/installation_info.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/records/null_task_runner.h"
#include "desktop/launcher/installer/records/registered_command.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/service/xml_document.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kSingleProfileFolder[] = L"profile";
constexpr wchar_t kProfileDataFolder[] = L"data";
constexpr wchar_t kUserNamePlaceholder[] = L"<USERNAME>";
constexpr char kStreamPlaceholder[] = "{InternalStream}";

constinit base::LazyInstance<InstallationInfo> g_installation_info;

// The folder of the running executable, or the one above it when only that one holds the launcher.
base::FilePath FindOwnInstallFolder() {
  base::FilePath folder;
  if (!base::PathService::Get(base::kExeDir, &folder))
    return base::FilePath();
  const base::FilePath parent = folder.DirName();
  if (!base::PathExists(folder.Append(kLauncherFileName)) && base::PathExists(parent.Append(kLauncherFileName)))
    return parent;
  return folder;
}

// Whether `relative` names a folder strictly below the folder it is appended to. The profile folder is deleted
// with everything in it when the browser is uninstalled with its data, so a template that is empty, rooted or
// climbs out must never stand for the application-data folder itself or anything above it.
bool NamesFolderBelow(const base::FilePath& relative) {
  if (relative.empty() || relative.IsAbsolute() || relative.ReferencesParent() ||
      base::FilePath::IsSeparator(relative.value()[0]) || relative.value().find(L':') != std::wstring::npos) {
    return false;
  }
  std::vector<std::wstring> components;
  relative.GetComponents(&components);
  return std::any_of(components.begin(), components.end(), [](const std::wstring& component) {
    return component != L"." && !base::FilePath::IsSeparator(component[0]);
  });
}

std::wstring ToLower(std::wstring text) {
  if (!text.empty())
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace

// static
InstallationInfo* InstallationInfo::GetInstance() {
  return g_installation_info.Pointer();
}

InstallationInfo::InstallationInfo() : install_folder_(FindOwnInstallFolder()) {
  LoadProfilePath();
}

InstallationInfo::InstallationInfo(const base::FilePath& folder, const InstallLog* log) : install_folder_(folder) {
  if (log) {
    install_log_loaded_ = true;
    install_log_ = *log;
  }
  LoadProfilePath();
}

InstallationInfo::~InstallationInfo() = default;

void InstallationInfo::LoadProfilePath() {
  const base::Value* value = nullptr;
  std::wstring profile_path;
  if (GetPrefStore()->GetValue(kProfilePathPref, &value) && value->GetAsString(&profile_path))
    profile_path_ = profile_path;
  display_name_ = base::UTF8ToWide(GetProductName() + " " + GetStreamName());
}

base::scoped_refptr<JsonPrefStore> InstallationInfo::GetPrefStore() {
  if (!pref_store_) {
    pref_store_ = new JsonPrefStore(install_folder_.Append(kInstallerPrefsFileName),
                                    base::scoped_refptr<base::SequencedTaskRunner>(new NullTaskRunner));
    pref_store_->ReadPrefs();
  }
  return pref_store_;
}

bool InstallationInfo::IsSingleProfile() {
  const base::Value* value = nullptr;
  bool single_profile = false;
  return GetPrefStore()->GetValue(kSingleProfilePref, &value) && value->GetAsBoolean(&single_profile) &&
         single_profile;
}

bool InstallationInfo::GetSingleProfileFolder(base::FilePath* folder) {
  if (!IsSingleProfile())
    return false;
  *folder = install_folder_.Append(kSingleProfileFolder);
  return true;
}

bool InstallationInfo::GetProfilePathFromTemplate(base::FilePath* path) {
  if (profile_path_.empty()) {
    base::FilePath app_data;
    if (!base::PathService::Get(base::kAppData, &app_data))
      return false;
    std::string profile_template = GetBrandingDefaultProfilePathTemplate();
    base::ReplaceSubstringsAfterOffset(&profile_template, 0, kStreamPlaceholder, GetStreamDisplayName());
    std::replace(profile_template.begin(), profile_template.end(), '/', '\\');
    const base::FilePath relative(base::UTF8ToWide(profile_template));
    if (!NamesFolderBelow(relative)) {
      LOG(ERROR) << "The profile path template \"" << profile_template
                 << "\" names no folder below the application data folder";
      return false;
    }
    *path = app_data.Append(relative);
    return true;
  }
  std::wstring profile_path = profile_path_;
  const size_t placeholder = profile_path.find(kUserNamePlaceholder);
  if (placeholder != std::wstring::npos) {
    std::wstring user_name;
    if (!GetCurrentUserName(false, &user_name))
      return false;
    profile_path.replace(placeholder, std::char_traits<wchar_t>::length(kUserNamePlaceholder), user_name);
  }
  *path = base::FilePath(profile_path);
  return true;
}

bool InstallationInfo::GetProfilePath(base::FilePath* path, bool parent_of_user_folders) {
  if (install_folder_.empty())
    return false;
  if (IsSingleProfile()) {
    *path = install_folder_.Append(kSingleProfileFolder).Append(kProfileDataFolder);
    return true;
  }
  if (!GetProfilePathFromTemplate(path))
    return false;
  const size_t placeholder = profile_path_.find(kUserNamePlaceholder);
  if (!parent_of_user_folders || placeholder == std::wstring::npos)
    return true;
  // Components after the user's own folder make the path specific to the user; without them the parent holds
  // every user's folder.
  const size_t separator = profile_path_.find_first_of(L"\\/", placeholder);
  if (separator == std::wstring::npos || separator + 1 == profile_path_.size())
    *path = path->DirName();
  return true;
}

void InstallationInfo::LoadInstallLog() {
  if (install_log_loaded_)
    return;
  install_log_loaded_ = true;
  XmlDocument document;
  if (!zorvi::installer::LoadInstallLog(&document, &install_log_, install_folder_.Append(kInstallLogFileName)))
    LOG(WARNING) << "No readable installation status in " << install_folder_.value();
}

bool InstallationInfo::IsRegisteredHandler(const std::wstring& name, bool use_exe_name) {
  std::wstring command;
  return GetRegisteredCommand(name, false, &command) && RunsLauncher(command, use_exe_name);
}

bool InstallationInfo::RunsLauncher(const std::wstring& command, bool use_exe_name) const {
  const base::FilePath launcher =
      install_folder_.Append(use_exe_name ? base::UTF8ToWide(GetLauncherExeName()) : kLauncherFileName);
  return ToLower(command).find(ToLower(launcher.value())) != std::wstring::npos;
}

// FolderInstallationInfo

FolderInstallationInfo::FolderInstallationInfo(const base::FilePath& folder) : InstallationInfo(folder, nullptr) {}

FolderInstallationInfo::FolderInstallationInfo(const base::FilePath& folder, const InstallLog& log)
    : InstallationInfo(folder, &log) {}

FolderInstallationInfo::~FolderInstallationInfo() = default;

}  // namespace zorvi::installer
