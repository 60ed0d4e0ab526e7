#include "desktop/launcher/installer/service/transactions/file_transfer_util.h"

#include <windows.h>

#include <memory>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"

namespace zorvi::installer {

bool PrepareDestination(const base::FilePath& destination, OperationList* sub_operations) {
  const base::FilePath folder = destination.DirName();
  if (!base::DirectoryExists(folder))
    return ExecuteOperation(sub_operations, std::make_unique<CreateFolderOperation>(folder));
  if (base::PathExists(destination))
    return ExecuteOperation(sub_operations, std::make_unique<DeleteFileOperation>(destination, false, false));
  return true;
}

bool ClearReadOnly(const base::FilePath& source) {
  const DWORD attributes = GetFileAttributesW(source.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  if (!SetFileAttributesW(source.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    LOG(ERROR) << "Couldn't clear RO attribute of " << source.value();
    return false;
  }
  return true;
}

bool UndoTransfer(Transfer transfer,
                  const base::FilePath& source,
                  const base::FilePath& destination,
                  const TransferState& state) {
  bool undone = true;
  if (state.done) {
    if (transfer == Transfer::kMove)
      undone = base::MoveUnsafe(destination, source);
    else
      undone = base::DeleteFile(destination, false);
  }
  // The clearing is part of the change: an undone transfer leaves the source as it was.
  if (state.cleared_read_only) {
    const DWORD attributes = GetFileAttributesW(source.value().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
      SetFileAttributesW(source.value().c_str(), attributes | FILE_ATTRIBUTE_READONLY);
  }
  return undone;
}

}  // namespace zorvi::installer
