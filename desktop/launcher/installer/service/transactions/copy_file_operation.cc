#include "desktop/launcher/installer/service/transactions/copy_file_operation.h"

#include "base/files/file_util.h"
#include "base/logging.h"

namespace zorvi::installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source, const base::FilePath& destination)
    : source_(source), destination_(destination) {}

CopyFileOperation::~CopyFileOperation() = default;

bool CopyFileOperation::Do(OperationList* sub_operations) {
  if (!PrepareDestination(destination_, sub_operations))
    return false;
  VLOG(1) << "Copying " << source_.value() << " to " << destination_.value();
  state_.cleared_read_only = ClearReadOnly(source_);
  if (IsFaultInjected(this, destination_.value()) || !base::CopyFile(source_, destination_)) {
    LOG(ERROR) << "File copy failed";
    return false;
  }
  VLOG(1) << "File copied successfully";
  state_.done = true;
  return true;
}

void CopyFileOperation::Rollback() {
  if (!UndoTransfer(Transfer::kCopy, source_, destination_, state_))
    LOG(ERROR) << "Could not remove " << destination_.value();
}

}  // namespace zorvi::installer
