#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"

namespace zorvi::installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source, const base::FilePath& destination)
    : FileTransferOperation(Transfer::kMove, source, destination, FROM_HERE) {}

}  // namespace zorvi::installer
