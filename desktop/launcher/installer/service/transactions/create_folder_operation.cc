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
  if (IsFaultInjected(this, folder_.value()) || !base::CreateDirectory(folder_)) {
    LOG(ERROR) << "Failed folder creation";
    return false;
  }
  nearest_existing_ancestor_ = ancestor;
  VLOG(1) << "Folder created successfully";
  return true;
}

void CreateFolderOperation::Rollback() {
  if (nearest_existing_ancestor_.empty())
    return;
  for (base::FilePath folder = folder_;
       base::FilePath::CompareIgnoreCase(folder.value(), nearest_existing_ancestor_.value()) != 0 &&
       RemoveDirectoryW(folder.value().c_str());
       folder = folder.DirName()) {
  }
}

}  // namespace zorvi::installer
