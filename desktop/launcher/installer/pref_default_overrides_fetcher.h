// Fetches the default-preference overrides for the browser's first run: the installer's tracking data is posted
// to the update service, and its answer is stored as the file "pref_default_overrides" beside the unpacked
// package, where the installation picks it up. Switched on by the feature
// "installer-pref-default-overrides-support"; the installation goes on without overrides whatever happens here.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_
#define DESKTOP_LAUNCHER_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_

#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "desktop/launcher/installer/wininet/wininet.h"

namespace zorvi::installer {

class UICallbackRunner;

class PrefDefaultOverridesFetcher {
 public:
  // The file goes into `folder`. The runner (required, not owned) answers the downloader's proxy prompt.
  PrefDefaultOverridesFetcher(const base::FilePath& folder, UICallbackRunner* ui_callback_runner);
  PrefDefaultOverridesFetcher(const PrefDefaultOverridesFetcher&) = delete;
  PrefDefaultOverridesFetcher& operator=(const PrefDefaultOverridesFetcher&) = delete;
  // A fetch still running is stopped and its `done` never runs.
  ~PrefDefaultOverridesFetcher();

  // On a thread with a task runner. Runs `done` exactly once on this thread: inside this call when there is
  // nothing to fetch (the feature is off) or the request cannot be sent, else when the request has ended. A
  // failed fetch leaves no file. One fetch at a time.
  void Fetch(const std::string& tracking_data, base::Closure done);

  // The switch "local-pref-default-overrides-server" with a value: that value; without one: the local machine
  // on port 3001; else the update service's "api/prefs/" query with the product name and full version, as they
  // stand.
  static std::wstring BuildRequestUrl();

  const base::FilePath& output_path() const { return output_path_; }

 private:
  void OnFetched();

  const base::FilePath output_path_;
  Wininet downloader_;
  base::Closure done_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_
