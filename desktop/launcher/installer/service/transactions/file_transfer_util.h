// The steps that moving and copying a file share: making way for the destination, making the source movable
// and undoing the transfer. The operations log their own steps, so that each is enabled by its own module name.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_UTIL_H_

#include "base/files/file_path.h"
#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

enum class Transfer { kMove, kCopy };

// What a transfer did, for its rollback.
struct TransferState {
  bool done = false;
  bool cleared_read_only = false;
  // A move to another volume made a copy (perhaps a partial one) that is the transfer's to remove.
  bool copied_across_volumes = false;
};

// Creates the destination's folder, or moves a file already at the destination aside, as a sub-operation.
bool PrepareDestination(const base::FilePath& destination, OperationList* sub_operations);
// Clears the source's read-only attribute; true when it was set and is now cleared. A failure is only logged.
bool ClearReadOnly(const base::FilePath& source);
// Sets the read-only attribute that ClearReadOnly cleared again (nothing when the path is gone).
void RestoreReadOnly(const base::FilePath& source);
// Whether `copy` holds the same bytes as `original`: for folders, every file of the tree, and every folder.
bool IsWholeCopy(const base::FilePath& original, const base::FilePath& copy);
// Undoes the move or copy itself (a move to another volume by removing its copy) and sets the source's read-only
// attribute again; the sub-operations' own rollbacks bring back the source kept aside by such a move and what was
// in the destination's place. False when the moved file could not go back or the
// copy could not be removed: it is then still at the destination.
bool UndoTransfer(Transfer transfer,
                  const base::FilePath& source,
                  const base::FilePath& destination,
                  const TransferState& state);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_UTIL_H_
