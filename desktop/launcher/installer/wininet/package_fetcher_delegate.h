// What the package fetcher, its unpacker and its downloader report to the controller that owns the fetch.
// Implemented by both controllers; calls from the fetcher's worker reach them on the controller's thread
// through PackageFetcherDelegateProxy. It lives beside the downloader, the lowest of the three that report.
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_PACKAGE_FETCHER_DELEGATE_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_PACKAGE_FETCHER_DELEGATE_H_

#include <string>

namespace zorvi::installer {

class PackageFetcherDelegate {
 public:
  virtual ~PackageFetcherDelegate() = default;

  // The size of the work that follows: the expected bytes of a download, or the entries of an archive about
  // to be unpacked.
  virtual void SetTotalProgress(int total) = 0;
  // Bytes received so far, or the 0-based index of the archive entry about to be unpacked.
  virtual void SetCurrentProgress(int value) = 0;
  // The downloader is retrying a download again.
  virtual void NotifyStalled() = 0;
  // A fetcher status, 0 to 9 (PackageFetcherStatus).
  virtual void NotifyStatusChanged(int status) = 0;
  // The tracking data that this fetch posts to the update service; sent once per fetch when not empty.
  virtual void NotifyTrackingDataObtained(const std::string& tracking_data) = 0;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_PACKAGE_FETCHER_DELEGATE_H_
