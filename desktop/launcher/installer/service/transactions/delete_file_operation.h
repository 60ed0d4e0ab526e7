// Deletes a file or folder undoably: it is first moved aside under a temporary name beside it and removed
// only when the transaction is committed.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/service/transactions/held_folder_path.h"
#include "desktop/launcher/installer/service/transactions/operation.h"

namespace zorvi::installer {

class NestedAccessGrant;

class DeleteFileOperation : public Operation {
 public:
  // With `check_in_use`, an executable or library that a program keeps open is not deleted. With an
  // `empty_parents_root`, the commit also removes the folders between the path and that root that it leaves empty:
  // the installation's own folders. The root itself and whatever lies above or beside it are never removed, as they
  // may be the user's (an existing folder chosen for the installation, or one that only held it). A path inside
  // that root is held from the root down for the operation's life, none of it a link, and the entry is set aside,
  // put back and deleted through a handle of its own: a folder a user may write into cannot lead the deletion
  // elsewhere, whenever it is swapped.
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

  // Whether `name` (a file name, without folder) is one that Do gives an entry it keeps aside, in either form: what
  // a run that never ended left behind is found by it.
  static bool IsTemporaryName(const std::wstring& name);

 private:
  // Whether the file at its temporary name is kept open by someone (a running program or a loaded library), not
  // just looked at for a moment.
  bool IsInUse() const;
  // Sets the entry aside under its temporary name.
  bool SetAside();
  // Deletes the entry set aside for good, through its handle where it has one.
  bool DeleteSetAside();
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
  // Inside the root: its folders down to the entry's, and the entry itself (opened as itself, a link too), from
  // Do to the commit or rollback.
  HeldFolderPath folders_;
  base::win::ScopedHandle entry_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
