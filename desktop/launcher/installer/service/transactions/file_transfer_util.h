// The steps that moving and copying a file share: making way for the destination and making the source
// movable.
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
};

// Moves or copies `source` to `destination` for `operation`: the destination's folder is created, or a file
// already there moved aside, as a sub-operation; the source's read-only attribute is cleared.
bool DoTransfer(const Operation* operation,
                Transfer transfer,
                const base::FilePath& source,
                const base::FilePath& destination,
                OperationList* sub_operations,
                TransferState* state);
// Undoes the move or copy itself and sets the source's read-only attribute again; the sub-operations' own
// rollbacks bring back what was in the destination's place.
void UndoTransfer(Transfer transfer,
                  const base::FilePath& source,
                  const base::FilePath& destination,
                  const TransferState& state);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_UTIL_H_
