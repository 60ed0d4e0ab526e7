#include "desktop/launcher/installer/service/transactions/move_file_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"

namespace zorvi::installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source, const base::FilePath& destination)
    : source_(source), destination_(destination) {}

MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Do(OperationList* sub_operations) {
  if (!PrepareDestination(destination_, sub_operations))
    return false;
  VLOG(1) << "Moving " << source_.value() << "to" << destination_.value();
  state_.cleared_read_only = ClearReadOnly(source_);
  if (IsFaultInjected(this, destination_.value())) {
    LOG(ERROR) << "File copy failed";
    return false;
  }
  // Within a volume the move is one rename.
  if (!::MoveFileExW(source_.value().c_str(), destination_.value().c_str(), MOVEFILE_REPLACE_EXISTING)) {
    if (GetLastError() != ERROR_NOT_SAME_DEVICE || !CopyAcrossVolumes(sub_operations)) {
      LOG(ERROR) << "File copy failed";
      return false;
    }
  }
  VLOG(1) << "File copied successfully";
  state_.done = true;
  return true;
}

// The system's move to another volume copies and then deletes the source, so that the source is gone before the
// transaction is final, or, when the deletion fails, the copy stays behind. Here the copy is checked byte for
// byte, and the source then leaves its place as a deletion that keeps it aside on its own volume until the commit.
bool MoveFileOperation::CopyAcrossVolumes(OperationList* sub_operations) {
  VLOG(1) << "Copying to another volume";
  state_.copied_across_volumes = true;
  const bool copied = base::DirectoryExists(source_) ? base::CopyDirectory(source_, destination_, true)
                                                      : base::CopyFile(source_, destination_);
  if (!copied || !IsWholeCopy(source_, destination_)) {
    LOG(ERROR) << "The copy of " << source_.value() << " on the other volume is not whole";
    return false;
  }
  auto keep_aside = std::make_unique<DeleteFileOperation>(source_, false);
  const DeleteFileOperation* kept = keep_aside.get();
  if (!ExecuteOperation(sub_operations, std::move(keep_aside)))
    return false;
  // The source is kept as it was, so that a rollback brings it back so, and a commit removes it so.
  if (state_.cleared_read_only) {
    RestoreReadOnly(kept->temporary_path());
    state_.cleared_read_only = false;
  }
  return true;
}

void MoveFileOperation::Rollback() {
  // A file that cannot go back (the source's place is taken or the file is running) stays at the destination,
  // where restoring the file that was set aside from there will not replace it. A copy on another volume that
  // cannot be removed (it is held) stays too, while the source comes back from where it was kept.
  if (UndoTransfer(Transfer::kMove, source_, destination_, state_))
    return;
  if (state_.copied_across_volumes)
    LOG(ERROR) << "Could not remove the copy " << destination_.value();
  else
    LOG(ERROR) << "Could not move " << destination_.value() << " back to " << source_.value();
}

}  // namespace zorvi::installer
