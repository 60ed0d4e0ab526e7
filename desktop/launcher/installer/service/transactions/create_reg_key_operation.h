// Creates a registry key with any missing parents; rollback removes the topmost key it created, with
// everything below it.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <memory>
#include <string>

#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class NestedAccessGrant;

class CreateRegKeyOperation : public Operation {
 public:
  CreateRegKeyOperation(HKEY root, const std::wstring& key_path);
  // Gives the nearest existing ancestor its old access list back, if creating below it needed a wider one.
  ~CreateRegKeyOperation() override;

  bool Do(OperationList* sub_operations) override;
  void Rollback() override;

 private:
  std::wstring key_path_;
  HKEY root_;
  std::wstring first_created_key_;  // empty when nothing was created
  std::unique_ptr<NestedAccessGrant> saved_ancestor_permissions_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_
