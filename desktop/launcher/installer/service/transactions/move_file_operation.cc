#include "desktop/launcher/installer/service/transactions/move_file_operation.h"

#include "base/files/file_util.h"
#include "base/logging.h"

namespace zorvi::installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source, const base::FilePath& destination)
    : source_(source), destination_(destination) {}

MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Do(OperationList* sub_operations) {
  if (!PrepareDestination(destination_, sub_operations))
    return false;
  VLOG(1) << "Moving " << source_.value() << "to" << destination_.value();
  state_.cleared_read_only = ClearReadOnly(source_);
  if (IsFaultInjected(this, destination_.value()) || !base::MoveUnsafe(source_, destination_)) {
    LOG(ERROR) << "File copy failed";
    return false;
  }
  VLOG(1) << "File copied successfully";
  state_.done = true;
  return true;
}

void MoveFileOperation::Rollback() {
  // A file that cannot go back (the source's place is taken or the file is running) stays at the destination,
  // where restoring the file that was set aside from there will not replace it.
  if (!UndoTransfer(Transfer::kMove, source_, destination_, state_))
    LOG(ERROR) << "Could not move " << destination_.value() << " back to " << source_.value();
}

}  // namespace zorvi::installer
