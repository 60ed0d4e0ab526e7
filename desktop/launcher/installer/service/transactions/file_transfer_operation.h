// Moving and copying a file: making way for the destination, making the source movable, the transfer and its
// undoing are the same for both. The two differ only in the call that transfers the file (and, for a move to
// another volume, in what that call takes on).
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_

#include "base/files/file_path.h"
#include "base/location.h"
#include "base/logging.h"
#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

enum class Transfer { kMove, kCopy };

class FileTransferOperation : public Operation {
 public:
  ~FileTransferOperation() override;

  bool Do(OperationList* sub_operations) final;
  void Rollback() final;

 protected:
  // `made_at`: the operation's constructor. The operations log their own steps, so that each is enabled by its
  // own module name: the lines carry the file of the constructor.
  FileTransferOperation(Transfer transfer,
                        const base::FilePath& source,
                        const base::FilePath& destination,
                        const base::Location& made_at);

 private:
  // Moves or copies the file itself, once the destination is free.
  bool TransferFile(OperationList* sub_operations);
  bool CopyAcrossVolumes(OperationList* sub_operations);
  // A line of `severity` (negative: verbose) from the operation's own file, and that file's verbosity.
  logging::LogMessage Line(int severity) const;
  int VlogLevel() const;

  const Transfer transfer_;
  const base::FilePath source_;
  const base::FilePath destination_;
  const base::Location made_at_;
  // What the transfer did, for its rollback.
  bool done_ = false;
  bool cleared_read_only_ = false;
  // A move to another volume made a copy (perhaps a partial one) that is the transfer's to remove.
  bool copied_across_volumes_ = false;
};

// Copies one file undoably. A missing destination folder is created, and a file in the way is moved aside,
// as sub-operations whose own rollbacks bring them back.
class CopyFileOperation : public FileTransferOperation {
 public:
  CopyFileOperation(const base::FilePath& source, const base::FilePath& destination);
};

// Moves a file (or a folder) undoably. A missing destination folder is created, and a file in the way is moved
// aside, as sub-operations whose own rollbacks bring them back. To another volume the source is copied and then
// kept aside on its own volume until the commit, so that a rollback only has to remove the copy.
class MoveFileOperation : public FileTransferOperation {
 public:
  MoveFileOperation(const base::FilePath& source, const base::FilePath& destination);
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_
