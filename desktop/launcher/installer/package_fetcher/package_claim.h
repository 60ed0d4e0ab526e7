// The names and claims of a run's package files in the download folder.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_CLAIM_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_CLAIM_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

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

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_CLAIM_H_
