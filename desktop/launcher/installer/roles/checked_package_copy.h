// The package an installer process with administrator rights hands over to. The standard user's process names
// the package and says when it is ready; by then its folder and files may hold anything the user put there. So
// the process takes only the package file, copies it into a new folder of its own that only administrators and
// the system may write, checks the copy through the handle it holds as the fetcher checks a download (signer,
// version and stream: what the installer's own branding expects), unpacks it there and starts only that copy.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_CHECKED_PACKAGE_COPY_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_CHECKED_PACKAGE_COPY_H_

#include <vector>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

class CheckedPackageCopy {
 public:
  CheckedPackageCopy();
  CheckedPackageCopy(const CheckedPackageCopy&) = delete;
  CheckedPackageCopy& operator=(const CheckedPackageCopy&) = delete;
  // Lets go of the copy's files and removes its folder.
  ~CheckedPackageCopy();

  // Copies, checks and unpacks the package of the user's unpacked package folder `user_folder` (see
  // PackageFileOf), and copies the run's data files written beside that package when they are plain files. False,
  // with a log line, when any of it fails; nothing of the copy is then used.
  bool Make(const base::FilePath& user_folder);

  // The copy's installer, held open (others may only read it) until this object goes.
  base::FilePath installer() const;

 private:
  bool CreatePrivateFolder();
  bool UnpackCheckedCopy(const base::FilePath& package);
  void CopyRunFiles(const base::FilePath& user_folder);

  base::FilePath folder_;
  base::win::ScopedHandle folder_handle_;  // shares no deletion: the folder cannot be renamed away
  std::vector<base::File> held_files_;
};

// The package file of the unpacked package folder `folder`: the download unpacked there ("<folder>.exe", the
// fetcher's name), or this installer itself when that is missing (a run that unpacked its own payload).
base::FilePath PackageFileOf(const base::FilePath& folder);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_CHECKED_PACKAGE_COPY_H_
