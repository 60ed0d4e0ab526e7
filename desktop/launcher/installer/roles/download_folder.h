// Where the installer downloads and unpacks the package, and from where the package's own installer is then
// started. Some machines forbid running programs from some folders (the temporary folder, often), so a place is
// taken only when a copy of the running installer can be started from it. The same routine, without that
// test, makes the folder of the installer's log file.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_DOWNLOAD_FOLDER_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_DOWNLOAD_FOLDER_H_

#include <string>

#include "base/files/file_path.h"

namespace zorvi::installer {

// Tries, in this order, `subfolder` below the temporary folder, below the user's Downloads folder, below the
// user's home folder and below the folder of `executable`; *folder receives the first that passes
// TryDownloadFolder. False when none does.
bool ChooseDownloadFolder(const std::wstring& subfolder, const base::FilePath& executable, base::FilePath* folder);

// Appends `subfolder` to *folder and creates it (with its parents) when it is not a folder yet. With an empty
// `executable` that is all; otherwise the folder must pass CanExecuteFromFolder, and a refused folder is removed
// again when it is empty.
bool TryDownloadFolder(const std::wstring& subfolder, const base::FilePath& executable, base::FilePath* folder);

// TryDownloadFolder below the folder of a path-service key.
bool TryDownloadFolderUnderPathKey(const std::wstring& subfolder, const base::FilePath& executable,
                                   base::FilePath* folder, int path_key);

// TryDownloadFolder below the user's Downloads known folder (asked for as it is, then created when missing).
// False on systems without known folders.
bool TryDownloadsKnownFolder(const std::wstring& subfolder, const base::FilePath& executable,
                             base::FilePath* folder);

// Whether a program can be started from `folder`: a copy of `executable` is made there, started with "--version"
// (which every installer answers at once), waited for and deleted. Only whether the process was created counts.
bool CanExecuteFromFolder(const base::FilePath& folder, const base::FilePath& executable);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_DOWNLOAD_FOLDER_H_
