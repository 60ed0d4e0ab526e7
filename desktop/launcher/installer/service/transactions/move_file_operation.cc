#include "desktop/launcher/installer/service/transactions/move_file_operation.h"

namespace zorvi::installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source, const base::FilePath& destination)
    : source_(source), destination_(destination) {}

MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Do(OperationList* sub_operations) {
  return DoTransfer(this, Transfer::kMove, source_, destination_, sub_operations, &state_);
}

void MoveFileOperation::Rollback() {
  UndoTransfer(Transfer::kMove, source_, destination_, state_);
}

}  // namespace zorvi::installer
