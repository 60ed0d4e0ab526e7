// Deletes a file or folder undoably: it is first moved aside under a temporary name beside it and removed
// only when the transaction is committed.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_

#include <memory>

#include "base/files/file_path.h"
#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class NestedAccessGrant;

class DeleteFileOperation : public Operation {
 public:
  // With `check_in_use`, an executable or library that is in use is not deleted. With an `empty_parents_root`,
  // the commit also removes the folders between the path and that root that it leaves empty: the installation's
  // own folders. The root itself and whatever lies above or beside it are never removed, as they may be the
  // user's (an existing folder chosen for the installation, or one that only held it).
  DeleteFileOperation(const base::FilePath& path,
                      bool check_in_use,
                      const base::FilePath& empty_parents_root = base::FilePath());
  // Removes the kept copy (at the next restart when it cannot be removed now).
  ~DeleteFileOperation() override;

  bool Do(OperationList* sub_operations) override;
  void Rollback() override;

  // Where Do keeps the file: "<path>.<seconds since 1970>.old", or "~<seconds in base 36>.old" (".<n>" in place
  // of ".old" when that is taken) in the same folder when that path would be too long. Empty before Do.
  const base::FilePath& temporary_path() const { return temporary_path_; }

 private:
  // Whether the file at its temporary name is held open by someone (a running program or a loaded library).
  bool IsInUse() const;
  // Moves the file from its temporary name back to its own, trying again a few times while that name is taken;
  // false (and an error line) when it stays aside.
  bool MoveBack();

  base::FilePath path_;
  base::FilePath temporary_path_;
  bool moved_ = false;
  bool check_in_use_;
  base::FilePath empty_parents_root_;
  // The access list widened so that the file could be moved: given back on rollback (a committed deletion
  // takes the file and its list with it).
  std::unique_ptr<NestedAccessGrant> grant_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
