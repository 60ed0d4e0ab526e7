#include "desktop/launcher/installer/service/transactions/create_reg_key_operation.h"

#include <shlwapi.h>

#include <utility>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/transactions/nested_access_grant.h"
#include "desktop/launcher/installer/service/transactions/registry_operation_util.h"

namespace zorvi::installer {

namespace {

// The parent of a key path; a key right below the root has the root (the empty path) as its parent. Only the
// backslash separates keys: a slash is part of a key's name ("text/plain"), and taking it for a separator would
// remember a key above the one made, which rollback would then not find.
std::wstring ParentKeyPath(const std::wstring& path) {
  // Trailing separators are not a level of their own, nor are repeated ones.
  const size_t separator = path.find_last_of(L'\\', path.find_last_not_of(L'\\'));
  if (separator == std::wstring::npos)
    return std::wstring();
  return path.substr(0, path.find_last_not_of(L'\\', separator) + 1);  // npos + 1 is 0: the root
}

}  // namespace

CreateRegKeyOperation::CreateRegKeyOperation(HKEY root, const std::wstring& key_path)
    : key_path_(key_path), root_(root) {}

CreateRegKeyOperation::~CreateRegKeyOperation() = default;

bool CreateRegKeyOperation::Do(OperationList* /*sub_operations*/) {
  VLOG(1) << "Attempting to create registry key " << key_path_ << " under " << RootNumber(root_);
  base::win::RegKey key;
  if (key.Open(root_, key_path_.c_str(), KEY_QUERY_VALUE) != ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "The key already exists. No need to do anything.";
    return true;
  }

  VLOG(1) << "Attempting to find the nearest existing ancestor.";
  std::wstring candidate = key_path_;
  std::wstring parent;
  LONG result;
  for (;;) {
    parent = ParentKeyPath(candidate);
    if (base::FilePath::CompareIgnoreCase(parent, candidate) == 0) {
      LOG(ERROR) << "No existing ancestor found.";
      return false;
    }
    result = key.Open(root_, parent.c_str(), KEY_CREATE_SUB_KEY);
    if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED)
      break;
    if (result != ERROR_FILE_NOT_FOUND) {
      LOG(ERROR) << "Existing ancestor could not be opened.";
      return false;
    }
    candidate = parent;
  }
  key.Close();

  VLOG(1) << "Ancestor found: " << parent;
  const std::wstring ancestor_name = RegistryObjectName(root_, parent);
  // Creating a key below the ancestor needs the right to create subkeys there, whatever its values allow.
  if (result == ERROR_ACCESS_DENIED || !HasWriteAccess(ancestor_name, SE_REGISTRY_KEY, KEY_CREATE_SUB_KEY)) {
    VLOG(1) << "No access to" << ancestor_name;
    saved_ancestor_permissions_ = NestedAccessGrant::Grant(ancestor_name, SE_REGISTRY_KEY, KEY_CREATE_SUB_KEY);
    if (!saved_ancestor_permissions_) {
      LOG(ERROR) << "Failed obtaining permissions on " << ancestor_name;
      return false;
    }
  }

  first_created_key_ = candidate;
  result = IsFaultInjected(this, key_path_) ? ERROR_ACCESS_DENIED : key.Create(root_, key_path_.c_str(), KEY_ALL_ACCESS);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed creating key.";
    return false;
  }
  return true;
}

void CreateRegKeyOperation::Rollback() {
  if (!first_created_key_.empty())
    SHDeleteKeyW(root_, first_created_key_.c_str());
}

}  // namespace zorvi::installer
