// The folders from a root (an installation's folder) down to an entry's own folder, held open without delete
// sharing while an operation may still change the entry. Nothing the root holds may be a link; held so, none can
// be renamed, removed or replaced by a link meanwhile, so that the entry's path keeps leading where it was
// checked to lead even where a user may write into those folders. Operations that hold the same folder share one
// handle: an uninstallation holds a few folders, not a few per file.
//
// Operations run on one thread: the holds are not locked.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_HELD_FOLDER_PATH_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_HELD_FOLDER_PATH_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace zorvi::installer {

class HeldFolderPath {
 public:
  HeldFolderPath();
  HeldFolderPath(const HeldFolderPath&) = delete;
  HeldFolderPath& operator=(const HeldFolderPath&) = delete;
  // Releases the folders, removing none.
  ~HeldFolderPath();

  // Holds `root` (as it is reached) and each folder below it down to `folder`, which must be `root` or lie inside
  // it. False, with *problem saying why, when a folder below the root is a link or no folder, or cannot be held.
  bool Hold(const base::FilePath& root, const base::FilePath& folder, std::string* problem);
  bool held() const { return !chain_.empty(); }

  // Releases the folders, deepest first; each below the root that is then empty and held by no other operation is
  // removed through its handle, until one is not.
  void ReleaseRemovingEmpty();
  void Release();

  struct Folder;

 private:
  std::vector<std::shared_ptr<Folder>> chain_;  // root first
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_HELD_FOLDER_PATH_H_
