// The registry steps: the installation's rows written (and recorded in its status log), and what an earlier
// installation recorded removed before an upgrade or an uninstallation.
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "base/features/feature_list.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/launcher/installer/records/install_log.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/steps/installer_registry.h"
#include "desktop/launcher/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {

namespace {

constexpr char kUninstallInformationFailed[] = "Failed writing uninstallation information";
// Enough for every installation a machine may keep side by side; a search past it would only find broken keys.
constexpr int kMaxUninstallKeyTries = 1000;

// How the log lines name a row: its value (or the default value) and its key, as templates.
std::wstring RowDescription(const RegistryEntry& entry) {
  const std::wstring key = entry.key_path;
  if (!entry.value_name)
    return L"default value to key " + key;
  return L"value " + std::wstring(entry.value_name) + L" to key " + key;
}

// The value's data now, in the status log's text form (trimmed as the log's reader trims it); false when the
// value or its key is missing or cannot be read.
bool ReadValueText(HKEY root, const std::wstring& key_path, const std::wstring& name, std::string* text) {
  base::win::RegKey key;
  if (key.Open(root, key_path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
    return false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(key.Handle(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  // Room for a terminator the stored text may lack.
  std::vector<BYTE> data(size + sizeof(wchar_t), 0);
  if (RegQueryValueExW(key.Handle(), name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
    return false;
  base::TrimWhitespaceASCII(RegistryDataText(data.data(), type, size), base::TRIM_ALL, text);
  return true;
}

// Whether a text holds the folder's path (ignoring ASCII case, as the installer writes it in one case).
bool NamesFolder(const std::string& text, const std::string& folder) {
  return !folder.empty() && base::ToLowerASCII(text).find(base::ToLowerASCII(folder)) != std::string::npos;
}

// Whether `path` is `key` or lies below it (the registry compares names without case).
bool IsInSubtree(const std::wstring& path, const std::wstring& key) {
  return path.size() >= key.size() && base::FilePath::CompareIgnoreCase(path.substr(0, key.size()), key) == 0 &&
         (path.size() == key.size() || path[key.size()] == L'\\');
}

void ReplaceFirst(std::wstring* text, const std::wstring& placeholder, const std::wstring& value) {
  const size_t at = text->find(placeholder);
  if (at != std::wstring::npos)
    text->replace(at, placeholder.size(), value);
}

}  // namespace

void Installer::StepSetupRegistry() {
  if (settings_->copy_only()) {
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Setting up the registry";
  const HKEY root = settings_->all_users() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  if (!ChooseUninstallKey(root)) {
    LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", kUninstallInformationFailed);
    return;
  }
  record_registry_ = true;
  const bool hide = base::FeatureList::GetInstance()->IsFeatureEnabled(kHideFromProgramsFeature);
  for (const RegistryEntry& entry : InstallerRegistryEntries(this, hide)) {
    std::unique_ptr<Operation> operation;
    const bool converted = CreateRegistryOperation(entry, root, &operation);
    if (converted && !operation) {
      VLOG(1) << "Skipping inapplicable operation: " << RowDescription(entry);
      continue;
    }
    if (converted)
      LOG(INFO) << "Writing " << RowDescription(entry);
    if (converted && Execute(std::move(operation)))
      continue;
    if (std::wcscmp(entry.key_path, kUninstallKeyTemplate) == 0) {
      record_registry_ = false;
      LOG(ERROR) << Fail(kInstallerErrorGeneric, L"", kUninstallInformationFailed);
      return;
    }
    LOG(WARNING) << "Failed writing " << RowDescription(entry) << "; going on without it";
  }
  record_registry_ = false;
  ScheduleNextStep();
}

// The first of "<name>", "<name>1", "<name>2", ... that does not exist, so that installations of one version in
// other folders keep their entries. Only "not found" tells a key is free. A key that refuses reading exists (its
// own access list refuses it), so it is taken; any other error would come back for every candidate, so it ends the
// search.
bool Installer::ChooseUninstallKey(HKEY root) {
  for (int tries = 0; tries < kMaxUninstallKeyTries; ++tries) {
    const std::wstring key = UninstallKeyName(tries == 0 ? L"" : std::to_wstring(tries));
    base::win::RegKey existing;
    const LONG result = existing.Open(root, key.c_str(), KEY_READ);
    if (result == ERROR_SUCCESS && IsLeftOverUninstallKey(root, key, existing)) {
      // Removed undoably: a failed run brings it back as it was.
      existing.Close();
      LOG(INFO) << "Taking over the uninstall key " << key << ", left by an earlier run in this folder";
      if (!Execute(std::make_unique<DeleteRegKeyOperation>(root, key))) {
        LOG(ERROR) << "Cannot remove the left-over uninstall key " << key;
        return false;
      }
      uninstall_key_ = key;
      return true;
    }
    if (result == ERROR_SUCCESS)
      continue;
    if (result == ERROR_ACCESS_DENIED) {
      LOG(WARNING) << "The uninstall key " << key << " cannot be read; taking it as another installation's";
      continue;
    }
    if (result == ERROR_FILE_NOT_FOUND) {
      uninstall_key_ = key;
      LOG(INFO) << "Uninstall key: " << key;
      return true;
    }
    LOG(ERROR) << "Cannot tell whether the uninstall key " << key << " is taken: error " << result;
    return false;
  }
  LOG(ERROR) << "Every uninstall key up to " << kMaxUninstallKeyTries << " tries is taken";
  return false;
}

// An entry whose InstallLocation is this folder belongs to no installation elsewhere; one that this folder's status
// log does not record either was written by a run here that ended before it wrote its log (killed, or its machine
// lost power), and nobody would ever remove it.
bool Installer::IsLeftOverUninstallKey(HKEY root, const std::wstring& key, const base::win::RegKey& opened) const {
  std::wstring location;
  if (opened.ReadValue(L"InstallLocation", &location) != ERROR_SUCCESS ||
      base::FilePath::CompareIgnoreCase(base::FilePath(location).StripTrailingSeparators().value(),
                                        install_folder().StripTrailingSeparators().value()) != 0) {
    return false;
  }
  const InstallLog& log = settings_->status().install_log;
  for (const InstallLogKey& recorded : root == HKEY_LOCAL_MACHINE ? log.machine_keys : log.user_keys) {
    if (IsInSubtree(ExpandKadroProductName(base::UTF8ToWide(recorded.path)), key))
      return false;
  }
  return true;
}

void Installer::StepCleanupRegistry() {
  LOG(INFO) << "Cleaning up registry";
  const InstallLog& log = settings_->status().install_log;
  CleanupRegistryKeys(HKEY_CURRENT_USER, log.user_keys);
  CleanupRegistryKeys(HKEY_LOCAL_MACHINE, log.machine_keys);
  ScheduleNextStep();
}

// Failures are logged and passed over: what cannot be removed stays, and the installation goes on.
void Installer::CleanupRegistryKeys(HKEY root, const std::vector<InstallLogKey>& keys) {
  std::vector<std::wstring> own_keys = OwnCleanableRegistryKeys(this);
  if (settings_->status().kadro_installation) {
    for (const std::wstring& key : EarlierEngineRegistryKeys())
      own_keys.push_back(ExpandKadroProductName(key));
  }
  for (const InstallLogKey& key : keys) {
    const std::wstring path = ExpandKadroProductName(base::UTF8ToWide(key.path));
    LOG(INFO) << "Cleanup for key " << path << " with depth " << key.clean_level;
    if (key.clean_level < 1) {
      RemoveRecordedValues(root, path, key);
      continue;
    }
    // The log is read from the install folder and may be damaged or foreign: a subtree goes only when it is
    // one of the installation's own keys (or the earlier engine's it takes over).
    const std::wstring target = RegistryKeyToClean(path, key.clean_level);
    if (!IsCleanableRegistryKey(target, own_keys)) {
      LOG(WARNING) << "Refusing to delete the key \"" << target << "\" (depth " << key.clean_level << " of " << path
                   << "), which is not one of the installation's own; removing only its recorded values";
      RemoveRecordedValues(root, path, key);
      continue;
    }
    // Installations of one stream in other folders (or by other users of a shared hive) write the same keys: a
    // key whose values now point at another installation stays, and loses only what points at this one.
    if (IsTakenByAnotherInstallation(root, target, keys)) {
      LOG(WARNING) << "The key \"" << target << "\" now belongs to another installation; removing only the values "
                   << "of " << path << " that point at this one";
      RemoveRecordedValues(root, path, key, true);
      continue;
    }
    if (!Execute(std::make_unique<DeleteRegKeyOperation>(root, target)))
      LOG(WARNING) << "Failed deleting the key " << target;
  }
}

// A value recorded with this installation's folder in its data that now holds other data was written again by
// another installation, which uses its key since.
bool Installer::IsTakenByAnotherInstallation(HKEY root, const std::wstring& target,
                                             const std::vector<InstallLogKey>& keys) const {
  const std::string folder = install_folder().AsUTF8();
  for (const InstallLogKey& key : keys) {
    const std::wstring path = ExpandKadroProductName(base::UTF8ToWide(key.path));
    if (!IsInSubtree(path, target))
      continue;
    for (const InstallLogValue& value : key.values) {
      std::string now;
      if (NamesFolder(value.data, folder) &&
          ReadValueText(root, path, ExpandKadroProductName(base::UTF8ToWide(value.name)), &now) && now != value.data) {
        return true;
      }
    }
  }
  return false;
}

// A value that holds other data than the log recorded was written by someone else since, and stays. In a key
// that another installation took over, a value whose data names no folder (a name, a number) is as much that
// installation's, and stays too.
void Installer::RemoveRecordedValues(HKEY root, const std::wstring& key_path, const InstallLogKey& key,
                                     bool only_naming_this_folder) {
  const std::string folder = install_folder().AsUTF8();
  for (const InstallLogValue& value : key.values) {
    const std::wstring name = ExpandKadroProductName(base::UTF8ToWide(value.name));
    std::string now;
    if (!ReadValueText(root, key_path, name, &now) || (only_naming_this_folder && !NamesFolder(now, folder)))
      continue;
    if (now != value.data) {
      LOG(INFO) << "Keeping the value " << name << " of " << key_path << ", rewritten since it was recorded";
      continue;
    }
    if (!Execute(std::make_unique<ChangeRegValueOperation>(root, key_path, name, nullptr, kDeleteRegValueType, 0)))
      LOG(WARNING) << "Failed removing the value " << name << " of " << key_path;
  }
}

std::wstring Installer::ExpandKadroProductName(const std::wstring& text) const {
  const Status& status = settings_->status();
  if (!status.kadro_installation)
    return text;
  const std::wstring suffix = OldProductSuffix(status.old_product_type);
  std::wstring expanded = text;
  ReplaceFirst(&expanded, L"{Product}", suffix);
  // The blank separates an edition word from the name before it; without a word there is nothing to separate.
  ReplaceFirst(&expanded, L"{SPProduct}", suffix.empty() ? suffix : L" " + suffix);
  return expanded;
}

}  // namespace zorvi::installer
