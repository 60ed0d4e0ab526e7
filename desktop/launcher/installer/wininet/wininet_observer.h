// What a download reports as it goes: the downloader calls its observer on its owner thread and on WinINet's
// callback threads, one call at a time, in the order of the download's steps. Every event does nothing by
// default, so a plain instance is the null observer.
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_OBSERVER_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_OBSERVER_H_

#include <cstdint>
#include <string>

namespace zorvi::installer {

class WininetObserver {
 public:
  WininetObserver() = default;
  WininetObserver(const WininetObserver&) = delete;
  WininetObserver& operator=(const WininetObserver&) = delete;
  virtual ~WininetObserver() = default;

  // A download starts, with `received` body bytes already there (0).
  virtual void OnChunkStart(uint32_t /*received*/) {}
  // The server's address as WinINet gives it.
  virtual void OnConnectedToIp(const std::string& /*ip*/) {}
  // The server redirected the request to `url`.
  virtual void OnRedirect(const std::wstring& /*url*/) {}
  // A response header the downloader records (empty value when the response has none).
  virtual void OnHeader(const std::wstring& /*name*/, const std::wstring& /*value*/) {}
  // How a request step ended: WinINet's error code, 0 for success.
  virtual void OnWininetError(uint32_t /*error*/) {}
  virtual void OnHttpStatus(uint32_t /*status*/) {}
  // A broken transfer is requested again; `retry_count` counts the retries that gained nothing.
  virtual void OnRetry(int /*retry_count*/) {}
  // A request of the download ended (before a resume, and when the download ends), with `received` bytes.
  virtual void OnChunkEnd(uint32_t /*received*/) {}
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_OBSERVER_H_
