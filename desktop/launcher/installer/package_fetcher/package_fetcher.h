// The package fetcher: obtains the browser package for an installer run and leaves it unpacked in the download
// folder. A full package appended to the installer's own executable is unpacked as it is; otherwise the update
// service is asked for the package's address and checksum (with the tracking data the installer carries), the
// package executable is downloaded and checked (checksum, signer, version, stream), the archive it carries is
// unpacked, the welcome page preference written and the partner files the service lists are downloaded.
//
// What is checked is what is used: the package is held open, others only allowed to read it, from its checks
// until the fetcher goes or fetches again (an elevated process of the run copies it from there); its archive is
// unpacked through the handle that wrote it; the package's installer and library, which the run's other
// installer processes start by name, are held so from their unpacking until the fetcher goes or fetches again.
//
// The work runs as a chain of tasks on the thread "Package fetcher worker"; the controller that owns the
// fetcher hears of it on its own thread through its PackageFetcherDelegate. The chain ends with status 6 or
// with one of the failures 7 to 9, after which the controller may start it again.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

#include "base/files/file_path.h"
#include "base/threading/thread.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher_delegate_proxy.h"

namespace zorvi::installer {

class InstallerStats;
class PackageFetcherDelegate;
class UICallbackRunner;

// The statuses a fetch reports through PackageFetcherDelegate::NotifyStatusChanged.
enum PackageFetcherStatus : int {
  kFetchStarted = 0,
  kDownloadFolderCleaned = 1,
  kFetchingDownloadUrl = 2,
  kDownloadingPackage = 3,
  kExtractingPackage = 4,
  kFetchingPartnerContent = 5,  // only when the service lists partner files
  kPackageReady = 6,
  kInitializationFailed = 7,
  kDownloadFailed = 8,
  kUnpackingFailed = 9,
};

// The result names of statuses 6 to 9 ("package_ready", "initialization_failed", "download_failed",
// "unpacking_failed"); "invalid" for any other value.
const char* GetFetcherResultName(int status);

class PackageFetcher {
 public:
  using PackageFetcherDelegateProxy = ::zorvi::installer::PackageFetcherDelegateProxy;

  // On the controller's thread, which needs a task runner: every notification is delivered there. The runner
  // is required; `delegate`, `runner` and `installer_stats` must outlive the fetcher. Starts the worker thread;
  // nothing is fetched before Start.
  PackageFetcher(const base::FilePath& download_folder, InstallerStats* installer_stats, UICallbackRunner* runner,
                 PackageFetcherDelegate* delegate);
  PackageFetcher(const PackageFetcher&) = delete;
  PackageFetcher& operator=(const PackageFetcher&) = delete;
  // Stops a running download, lets go of the files it holds, deletes the package, its archive and the unpack
  // folder on the worker, and joins it; no notification reaches the delegate afterwards.
  ~PackageFetcher();

  // Runs the whole chain from the beginning: the first fetch, or a retry after a failure status.
  void Start();

  // The package executable in the download folder, "zorvi_installer_<local time>_<process id>_<number>.exe": no
  // other fetcher shares it. Partner files download beside it, with the extension ".partner.tmp" in its place.
  const base::FilePath& package_path() const { return package_path_; }
  // Where the package is unpacked: the package path without its extension.
  base::FilePath unpack_folder() const;
  // The run's claim on these files (ClaimPackage), held from the construction to the destruction, after the files
  // are gone; null when it could not be made (every fetch then fails). The run's other processes that work from
  // the unpack folder hold it too.
  HANDLE claim() const { return claim_.IsValid() ? claim_.Get() : nullptr; }

 private:
  class ThreadedFetcher;

  static void DeleteThreadedFetcher(ThreadedFetcher* threaded_fetcher);

  const base::FilePath package_path_;
  const base::win::ScopedHandle claim_;
  ThreadedFetcher* threaded_fetcher_;  // owned; used and deleted on the worker
  base::Thread worker_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
