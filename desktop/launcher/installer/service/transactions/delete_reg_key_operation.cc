#include "desktop/launcher/installer/service/transactions/delete_reg_key_operation.h"

#include <map>
#include <memory>
#include <type_traits>
#include <utility>

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/transactions/nested_access_grant.h"
#include "desktop/launcher/installer/service/transactions/registry_operation_util.h"

namespace zorvi::installer {

namespace {

// What the deletion needs on every key: delete it, read its descriptor and values, walk its subkeys.
constexpr REGSAM kDeleteAccess =
    DELETE | READ_CONTROL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
constexpr DWORD kSavedSecurityInformation =
    GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
// Longest key name the registry allows, plus the terminator.
constexpr DWORD kMaxKeyNameLength = 256;

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using ScopedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// `descriptor` (self-relative) with the access list that `grant` replaced, protected from inheritance as it
// was: a key whose list was widened only so that it could be deleted comes back as it was.
bool PutBackAccessList(const NestedAccessGrant& grant, std::vector<BYTE>* descriptor) {
  SECURITY_DESCRIPTOR_CONTROL old_control = 0;
  DWORD revision = 0;
  // An absolute copy whose parts can be swapped, then packed again.
  DWORD sizes[5] = {};
  MakeAbsoluteSD(descriptor->data(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2], nullptr, &sizes[3],
                 nullptr, &sizes[4]);
  std::vector<BYTE> absolute(sizes[0]), dacl(sizes[1]), sacl(sizes[2]), owner(sizes[3]), group(sizes[4]);
  auto part = [](std::vector<BYTE>& bytes) -> void* { return bytes.empty() ? nullptr : bytes.data(); };
  if (!MakeAbsoluteSD(descriptor->data(), part(absolute), &sizes[0], static_cast<PACL>(part(dacl)), &sizes[1],
                      static_cast<PACL>(part(sacl)), &sizes[2], part(owner), &sizes[3], part(group), &sizes[4]) ||
      !SetSecurityDescriptorDacl(absolute.data(), TRUE, grant.found_access_list(), FALSE) ||
      !GetSecurityDescriptorControl(grant.found_descriptor(), &old_control, &revision) ||
      !SetSecurityDescriptorControl(absolute.data(), SE_DACL_PROTECTED, old_control & SE_DACL_PROTECTED)) {
    return false;
  }
  DWORD size = 0;
  MakeSelfRelativeSD(absolute.data(), nullptr, &size);
  std::vector<BYTE> packed(size);
  if (!MakeSelfRelativeSD(absolute.data(), packed.data(), &size))
    return false;
  descriptor->swap(packed);
  return true;
}

}  // namespace

DeleteRegKeyOperation::DeleteRegKeyOperation(HKEY root, const std::wstring& key_path)
    : key_path_(key_path), root_(root) {}

DeleteRegKeyOperation::~DeleteRegKeyOperation() {
  // Committed: the keys are gone, and with them what their lists were.
  for (auto& grant : grants_)
    grant->Forget();
}

bool DeleteRegKeyOperation::Do(OperationList* /*sub_operations*/) {
  VLOG(1) << "Attempting to delete registry key " << key_path_ << " under " << RootNumber(root_);
  const std::wstring object_name = RegistryObjectName(root_, key_path_);
  base::win::RegKey key;
  const LONG result = key.Open(root_, key_path_.c_str(), KEY_QUERY_VALUE);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist. Nothing to do.";
    return true;
  }
  if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
    LOG(ERROR) << "Failed to open key " << object_name;
    return false;
  }
  key.Close();
  return DeleteAndSaveRecursive(key_path_, object_name);
}

bool DeleteRegKeyOperation::DeleteAndSaveRecursive(const std::wstring& path, const std::wstring& object_name) {
  VLOG(1) << "DeleteAndSaveRecursive : " << path;
  auto saved = std::make_unique<SavedRegKey>();
  saved->path = path;

  base::win::RegKey key;
  LONG result = key.Open(root_, path.c_str(), kDeleteAccess);
  const NestedAccessGrant* grant = nullptr;
  if (result != ERROR_SUCCESS || !HasWriteAccess(object_name, SE_REGISTRY_KEY, DELETE | KEY_READ)) {
    if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED) {
      VLOG(1) << "Insufficient permissions on the key";
      std::unique_ptr<NestedAccessGrant> new_grant =
          NestedAccessGrant::Grant(object_name, SE_REGISTRY_KEY, kDeleteAccess);
      if (!new_grant) {
        LOG(ERROR) << "Unable to obtain sufficient permissions on key" << object_name;
        return false;
      }
      grant = new_grant.get();
      grants_.push_back(std::move(new_grant));
      result = key.Open(root_, path.c_str(), kDeleteAccess);
    }
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to open key " << object_name;
      return false;
    }
  }

  DWORD descriptor_size = 0;
  result = RegGetKeySecurity(key.Handle(), kSavedSecurityInformation, nullptr, &descriptor_size);
  if (result != ERROR_SUCCESS && result != ERROR_INSUFFICIENT_BUFFER) {
    LOG(ERROR) << "Failed to obtain security descriptor for " << object_name;
    return false;
  }
  saved->security_descriptor.resize(descriptor_size);
  if (RegGetKeySecurity(key.Handle(), kSavedSecurityInformation, saved->security_descriptor.data(), &descriptor_size) !=
          ERROR_SUCCESS ||
      (grant && !PutBackAccessList(*grant, &saved->security_descriptor))) {
    LOG(ERROR) << "Failed to obtain security descriptor for " << object_name << "(but we succeeded earlier)";
    return false;
  }

  DWORD value_count = 0;
  DWORD longest_value_name = 0;
  DWORD longest_value_data = 0;
  if (RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &value_count,
                       &longest_value_name, &longest_value_data, nullptr, nullptr) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to obtain key info for " << object_name;
    return false;
  }
  VLOG(1) << value_count << " values";
  std::vector<wchar_t> name(longest_value_name + 1);
  for (DWORD index = 0; index < value_count; ++index) {
    SavedRegValue value;
    value.data.resize(longest_value_data);
    DWORD name_length = static_cast<DWORD>(name.size());
    value.size = longest_value_data;
    if (RegEnumValueW(key.Handle(), index, name.data(), &name_length, nullptr, &value.type, value.data.data(),
                      &value.size) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to obtain value nr " << index;
      return false;
    }
    value.name.assign(name.data(), name_length);
    value.data.resize(value.size);
    saved->values.push_back(std::move(value));
  }
  saved_keys_.push_back(std::move(saved));

  // Each handled subkey is gone afterwards, so the first one is always the next to handle.
  for (;;) {
    wchar_t subkey[kMaxKeyNameLength];
    DWORD subkey_length = kMaxKeyNameLength;
    result = RegEnumKeyExW(key.Handle(), 0, subkey, &subkey_length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to read a subkey";
      return false;
    }
    const std::wstring name_part = L"\\" + std::wstring(subkey, subkey_length);
    if (!DeleteAndSaveRecursive(path + name_part, object_name + name_part))
      return false;
  }
  key.Close();
  // A key that stays must not be reported deleted: the caller would believe the tree gone, and a subkey
  // that cannot be deleted would otherwise be found (and saved) again on every turn of the loop above.
  result = IsFaultInjected(this, path) ? ERROR_ACCESS_DENIED : RegDeleteKeyW(root_, path.c_str());
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to delete key " << object_name;
    return false;
  }
  return true;
}

void DeleteRegKeyOperation::Rollback() {
  // Keys were saved parent first. A subkey is created through the handle that brought its parent back: the parent
  // comes back with its own access list, which may refuse this process new subkeys (the reason it needed a
  // grant), while the handle that creates a key holds the access it asked for.
  std::map<std::wstring, ScopedKey> restored;
  for (const auto& saved : saved_keys_) {
    HKEY parent = root_;
    std::wstring name = saved->path;
    const size_t separator = saved->path.find_last_of(L'\\');
    if (separator != std::wstring::npos) {
      const auto found = restored.find(saved->path.substr(0, separator));
      if (found != restored.end()) {
        parent = found->second.get();
        name = saved->path.substr(separator + 1);
      }
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), saved->security_descriptor.data(), FALSE};
    HKEY created = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kDeleteAccess, &attributes,
                        &created, &disposition) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to restore key " << RegistryObjectName(root_, saved->path);
      continue;
    }
    ScopedKey key(created);
    // A key that is there already was never deleted: its values are still in it.
    if (disposition == REG_CREATED_NEW_KEY) {
      for (const SavedRegValue& value : saved->values) {
        RegSetValueExW(created, value.name.c_str(), 0, value.type, value.data.data(), value.size);
      }
    }
    restored[saved->path] = std::move(key);
  }
  restored.clear();
  // Keys that were opened up but not deleted get their old list back; for recreated keys this writes what
  // their saved descriptor already holds (or an earlier operation's grant puts it back when it ends).
  grants_.clear();
}

}  // namespace zorvi::installer
