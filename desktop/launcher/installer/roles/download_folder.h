// Where the installer downloads and unpacks the package, and from where the package's own installer is then
// started. Some machines forbid running programs from some folders (the temporary folder, often), so a place is
// taken only when a copy of the running installer can be started from it. The same routine, without that
// test, makes the folder of the installer's log file.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_DOWNLOAD_FOLDER_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_DOWNLOAD_FOLDER_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

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

// Every run of the user shares the download folder. The files of one run's package share a name no other run has,
// "zorvi_installer_<local time>_<process id>_<number>": the package (".exe"), its archive (".7z"), the unpack folder
// (no extension), a partner download (".partner.tmp") and the run's claim (".lock"). The claim is a file the run
// creates before any of the others and holds, shared with nobody and deleted on its close, for as long as the run
// lives; a run that ends in any way, killed too, lets go of it. Its package files are then left to the next run.

// A name of that form for a new package: the process id and a count of the names made before in the process tell
// apart runs started in the same second.
std::wstring MakePackageName();

// Creates and holds the claim of `package` (the download folder joined with a name from MakePackageName). An
// invalid handle (and an error line) when it cannot be made.
base::win::ScopedHandle ClaimPackage(const base::FilePath& package);

// Removes from `download_folder` the package files of every run whose claim nobody holds: the runs that ended
// without removing them. Entries of any other name, and the packages of living runs, stay. A file that cannot be
// removed stays for a later run to try again (a warning line).
void RemoveAbandonedPackages(const base::FilePath& download_folder);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_DOWNLOAD_FOLDER_H_
