// Moves a file (or a folder) undoably. A missing destination folder is created, and a file in the way is moved
// aside, as sub-operations whose own rollbacks bring them back. To another volume the source is copied and then
// kept aside on its own volume until the commit, so that a rollback only has to remove the copy.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_util.h"
#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class MoveFileOperation : public Operation {
 public:
  MoveFileOperation(const base::FilePath& source, const base::FilePath& destination);
  ~MoveFileOperation() override;

  bool Do(OperationList* sub_operations) override;
  void Rollback() override;

 private:
  bool CopyAcrossVolumes(OperationList* sub_operations);

  base::FilePath source_;
  base::FilePath destination_;
  TransferState state_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
