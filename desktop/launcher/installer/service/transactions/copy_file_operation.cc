#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"

namespace zorvi::installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source, const base::FilePath& destination)
    : FileTransferOperation(Transfer::kCopy, source, destination, FROM_HERE) {}

}  // namespace zorvi::installer
