// Sets or deletes one registry value, keeping the old value for rollback. A missing key is created first (as a
// sub-operation); a key the process may not write is opened up for it until the operation is committed or
// rolled back.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/registry.h"
#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class NestedAccessGrant;

// The type that asks for the value's removal instead of a write.
constexpr DWORD kDeleteRegValueType = 0xFFFFFFFF;

class ChangeRegValueOperation : public Operation {
 public:
  // Copies `size` bytes of `data`. An empty value name is the key's default value.
  ChangeRegValueOperation(HKEY root,
                          const std::wstring& key_path,
                          const std::wstring& value_name,
                          const void* data,
                          DWORD type,
                          DWORD size);
  ~ChangeRegValueOperation() override;

  bool Do(OperationList* sub_operations) override;
  void Rollback() override;

 private:
  // Opens the key for reading and writing values, creating it or widening its access list when needed.
  bool OpenKey(OperationList* sub_operations, const std::wstring& object_name);
  // Reads the value as it is now into old_type_, old_data_ and old_size_.
  bool SaveOldValue(const std::wstring& object_name);

  HKEY root_;
  std::wstring key_path_;
  std::wstring value_name_;
  base::win::RegKey key_;
  DWORD old_type_ = kDeleteRegValueType;  // kDeleteRegValueType: the value did not exist
  DWORD new_type_;
  std::vector<BYTE> old_data_;
  std::vector<BYTE> new_data_;
  DWORD old_size_ = 0;
  DWORD new_size_;
  bool changed_ = false;
  std::unique_ptr<NestedAccessGrant> saved_permissions_;  // released at commit or after rollback
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_
