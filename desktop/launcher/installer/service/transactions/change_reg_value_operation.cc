#include "desktop/launcher/installer/service/transactions/change_reg_value_operation.h"

#include <cstring>
#include <utility>

#include "base/logging.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/transactions/create_reg_key_operation.h"
#include "desktop/launcher/installer/service/transactions/nested_access_grant.h"
#include "desktop/launcher/installer/service/transactions/registry_operation_util.h"

namespace zorvi::installer {

namespace {

constexpr REGSAM kValueAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

}  // namespace

ChangeRegValueOperation::ChangeRegValueOperation(HKEY root,
                                                 const std::wstring& key_path,
                                                 const std::wstring& value_name,
                                                 const void* data,
                                                 DWORD type,
                                                 DWORD size)
    : root_(root),
      key_path_(key_path),
      value_name_(value_name),
      new_type_(type),
      new_data_(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + (data ? size : 0)),
      new_size_(data ? size : 0) {}

ChangeRegValueOperation::~ChangeRegValueOperation() = default;

bool ChangeRegValueOperation::Do(OperationList* sub_operations) {
  VLOG(1) << "Attempting to change registry value at " << RootNumber(root_) << ": " << key_path_ << " - " << value_name_
          << ". New Type:" << new_type_;
  const std::wstring object_name = RegistryObjectName(root_, key_path_);
  if (!OpenKey(sub_operations, object_name))
    return false;
  // A removal of a value in a key that was missing has nothing to do and left the key closed.
  if (!key_.Valid())
    return true;
  if (!SaveOldValue(object_name))
    return false;

  if (new_type_ != kDeleteRegValueType) {
    const LONG result = IsFaultInjected(this, key_path_)
                            ? ERROR_WRITE_FAULT
                            : key_.WriteValue(value_name_.c_str(), new_data_.data(), new_size_, new_type_);
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed writing " << value_name_ << " to " << object_name;
      return false;
    }
  } else {
    if (old_type_ == kDeleteRegValueType) {
      VLOG(1) << "We are supposed to remove the value. Nothing to do.";
      return true;
    }
    const LONG result = IsFaultInjected(this, key_path_) ? ERROR_WRITE_FAULT : key_.DeleteValue(value_name_.c_str());
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to remove " << value_name_ << " from " << object_name;
      return false;
    }
  }
  VLOG(1) << "Value changed successfully.";
  changed_ = true;
  return true;
}

bool ChangeRegValueOperation::OpenKey(OperationList* sub_operations, const std::wstring& object_name) {
  LONG result = key_.Open(root_, key_path_.c_str(), kValueAccess);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist,";
    if (new_type_ == kDeleteRegValueType) {
      VLOG(1) << "but we are trying to remove the value, nothing to do.";
      return true;
    }
    VLOG(1) << "try to create it.";
    if (!ExecuteOperation(sub_operations, std::make_unique<CreateRegKeyOperation>(root_, key_path_)))
      return false;
    result = key_.Open(root_, key_path_.c_str(), kValueAccess);
  }
  if (result == ERROR_SUCCESS && HasWriteAccess(object_name, SE_REGISTRY_KEY, kValueAccess))
    return true;
  if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED) {
    VLOG(1) << "We don't have enough permissions on the key.";
    if (saved_permissions_ ||
        !(saved_permissions_ = NestedAccessGrant::Grant(object_name, SE_REGISTRY_KEY, kValueAccess))) {
      LOG(ERROR) << "Failed to obtain sufficient permissions on " << object_name;
      return false;
    }
    result = key_.Open(root_, key_path_.c_str(), kValueAccess);
    if (result == ERROR_SUCCESS)
      return true;
  }
  LOG(ERROR) << "Failed to open " << object_name;
  return false;
}

bool ChangeRegValueOperation::SaveOldValue(const std::wstring& object_name) {
  DWORD size = 0;
  DWORD type = REG_NONE;
  LONG result = key_.ReadValue(value_name_.c_str(), nullptr, &size, &type);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "The value doesn't already exist.";
    old_type_ = kDeleteRegValueType;
    return true;
  }
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to read " << value_name_ << " from " << object_name << ": error " << result;
    return false;
  }
  old_data_.resize(size);
  result = key_.ReadValue(value_name_.c_str(), old_data_.data(), &size, &type);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to read " << value_name_ << " from " << object_name << " (but we succeeded before).";
    return false;
  }
  old_type_ = type;
  old_size_ = size;
  VLOG(1) << "Value read successfully.";
  return true;
}

void ChangeRegValueOperation::Rollback() {
  if (!changed_)
    return;
  // Opened again by name: a later operation of the transaction may have deleted the key, and that operation's
  // rollback (which ran first) made a new key in its place; the handle from Do still names the deleted one.
  if (key_.Open(root_, key_path_.c_str(), kValueAccess) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to open " << RegistryObjectName(root_, key_path_) << " to undo the change";
    return;
  }
  if (old_type_ == kDeleteRegValueType)
    key_.DeleteValue(value_name_.c_str());
  else
    key_.WriteValue(value_name_.c_str(), old_data_.data(), old_size_, old_type_);
}

}  // namespace zorvi::installer
