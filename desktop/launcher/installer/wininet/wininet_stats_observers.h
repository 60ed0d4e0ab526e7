// Download observers that record into the installer statistics (InstallerStats), which are sent to the update
// service when the run ends. The statistics views take their own lock; the observers take none.
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_STATS_OBSERVERS_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_STATS_OBSERVERS_H_

#include <memory>
#include <string>

#include "desktop/launcher/installer/wininet/wininet_observer.h"

namespace zorvi::installer {

class InstallerStats;

// Records the last WinINet result and HTTP status of a download as prefix + "wininet_error" and prefix +
// "http_status" (the package-address request uses the prefix "fetch_download_url_", partner files none).
class WininetErrorStatusObserver : public WininetObserver {
 public:
  // `stats` is not owned and must outlive the observer.
  WininetErrorStatusObserver(InstallerStats* stats, const std::string& prefix);

  void OnWininetError(uint32_t error) override;
  void OnHttpStatus(uint32_t status) override;

 private:
  InstallerStats* const stats_;
  const std::string prefix_;
};

// Keeps one record per download in the list at `list_key` of the parent statistics: where it started and
// ended, the server's address and headers, redirects, the last WinINet result, HTTP status and retry count.
// Events before the first chunk starts are dropped.
class WininetChunkStatsObserver : public WininetObserver {
 public:
  // `parent` is not owned and must outlive the observer.
  WininetChunkStatsObserver(InstallerStats* parent, const std::string& list_key);
  ~WininetChunkStatsObserver() override;

  void OnChunkStart(uint32_t received) override;
  void OnConnectedToIp(const std::string& ip) override;
  void OnRedirect(const std::wstring& url) override;
  void OnHeader(const std::wstring& name, const std::wstring& value) override;
  void OnWininetError(uint32_t error) override;
  void OnHttpStatus(uint32_t status) override;
  void OnRetry(int retry_count) override;
  void OnChunkEnd(uint32_t received) override;

 private:
  InstallerStats* const parent_;
  const std::string list_key_;
  std::unique_ptr<InstallerStats> chunk_;  // the current record; null until the first chunk starts
  int chunk_number_ = 0;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_STATS_OBSERVERS_H_
