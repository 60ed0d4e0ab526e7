#include "desktop/launcher/installer/service/transactions/copy_file_operation.h"

namespace zorvi::installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source, const base::FilePath& destination)
    : source_(source), destination_(destination) {}

CopyFileOperation::~CopyFileOperation() = default;

bool CopyFileOperation::Do(OperationList* sub_operations) {
  return DoTransfer(this, Transfer::kCopy, source_, destination_, sub_operations, &state_);
}

void CopyFileOperation::Rollback() {
  UndoTransfer(Transfer::kCopy, source_, destination_, state_);
}

}  // namespace zorvi::installer
