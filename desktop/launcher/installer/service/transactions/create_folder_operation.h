// Creates a folder with its missing parents; rollback removes only the levels it made.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class CreateFolderOperation : public Operation {
 public:
  explicit CreateFolderOperation(const base::FilePath& folder);
  ~CreateFolderOperation() override;

  bool Do(OperationList* sub_operations) override;
  void Rollback() override;

 private:
  base::FilePath folder_;
  base::FilePath nearest_existing_ancestor_;  // empty until Do set out to create folders
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
