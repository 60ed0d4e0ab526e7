#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace zorvi::installer {

CreateFolderOperation::CreateFolderOperation(const base::FilePath& folder) : folder_(folder) {}

CreateFolderOperation::~CreateFolderOperation() = default;

bool CreateFolderOperation::Do(OperationList* /*sub_operations*/) {
  VLOG(1) << "Attempting to create folder " << folder_.value();
  if (base::DirectoryExists(folder_)) {
    VLOG(1) << "Folder already exists";
    return true;
  }
  base::FilePath ancestor = folder_;
  for (;;) {
    const base::FilePath parent = ancestor.DirName();
    if (base::FilePath::CompareIgnoreCase(parent.value(), ancestor.value()) == 0) {
      LOG(ERROR) << "Failed folder creation";
      return false;
    }
    ancestor = parent;
    if (base::DirectoryExists(ancestor))
      break;
  }
  VLOG(1) << "Valid ancestor";
  // Remembered first: a creation that fails part-way has made the upper levels, and rollback removes them.
  nearest_existing_ancestor_ = ancestor;
  if (IsFaultInjected(this, folder_.value()) || !base::CreateDirectory(folder_)) {
    LOG(ERROR) << "Failed folder creation";
    return false;
  }
  VLOG(1) << "Folder created successfully";
  return true;
}

void CreateFolderOperation::Rollback() {
  if (nearest_existing_ancestor_.empty())
    return;
  // Levels a failed creation did not reach are skipped; a level that stays (something was put in it) ends the
  // walk, as its parents cannot go either.
  for (base::FilePath folder = folder_;
       base::FilePath::CompareIgnoreCase(folder.value(), nearest_existing_ancestor_.value()) != 0;
       folder = folder.DirName()) {
    if (base::PathExists(folder) && !RemoveDirectoryW(folder.value().c_str()))
      break;
  }
}

}  // namespace zorvi::installer
