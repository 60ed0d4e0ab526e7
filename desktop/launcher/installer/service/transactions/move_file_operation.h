// Moves one file undoably. A missing destination folder is created, and a file in the way is moved aside,
// as sub-operations whose own rollbacks bring them back.
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
  base::FilePath source_;
  base::FilePath destination_;
  TransferState state_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
