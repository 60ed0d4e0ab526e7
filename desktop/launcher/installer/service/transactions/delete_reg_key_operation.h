// Deletes a registry key with its whole subtree, saving every key's security descriptor and values first so
// that rollback can rebuild the tree.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class NestedAccessGrant;

struct SavedRegValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  DWORD size = 0;
};

struct SavedRegKey {
  std::wstring path;  // relative to the root
  // Group, access list and integrity label: the key is recreated with exactly these.
  std::vector<BYTE> security_descriptor;
  std::vector<SavedRegValue> values;
};

class DeleteRegKeyOperation : public Operation {
 public:
  DeleteRegKeyOperation(HKEY root, const std::wstring& key_path);
  ~DeleteRegKeyOperation() override;

  bool Do(OperationList* sub_operations) override;
  void Rollback() override;

 private:
  // Saves `path` and then, depth first, each subkey, deleting each key once its subkeys are gone. False at
  // the first key that cannot be saved or deleted; what was deleted until then stays deleted until rollback.
  bool DeleteAndSaveRecursive(const std::wstring& path, const std::wstring& object_name);

  std::wstring key_path_;
  HKEY root_;
  std::vector<std::unique_ptr<SavedRegKey>> saved_keys_;  // parents before their subkeys
  // Access lists widened to delete keys, with what they were before. A key that is deleted and recreated
  // gets the old list from its saved descriptor; one that was not deleted gets it back here on rollback.
  std::vector<std::unique_ptr<NestedAccessGrant>> grants_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_
