// The owner of a run's installer statistics: the tree, its lock and the root view that the controller hands to
// the package fetcher, the window and the settings. Made by the silent and the interactive controllers, which
// send the statistics to the update service when the run ends.
#ifndef DESKTOP_LAUNCHER_INSTALLER_STATS_SENDER_H_
#define DESKTOP_LAUNCHER_INSTALLER_STATS_SENDER_H_

#include <string>

#include "base/callback.h"
#include "base/values.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/wininet/wininet.h"

namespace zorvi::installer {

class UICallbackRunner;

class StatsSender {
 public:
  // Records the installer's own facts (start times, version, stream, product, Windows version and, with the
  // feature "installer-ui-stats", the command line's arguments). The runner (required, not owned) is the
  // controller's, for the downloader that sends the statistics.
  explicit StatsSender(UICallbackRunner* ui_callback_runner);
  StatsSender(const StatsSender&) = delete;
  StatsSender& operator=(const StatsSender&) = delete;
  ~StatsSender();

  // The root view. Every view handed out must be gone before the sender is.
  InstallerStats* stats() { return &root_view_; }

  // Sums up what the package fetcher recorded per fetch: "wininet_retries", the number of download chunk
  // records over all fetches, and "download_ips", the chunks' server addresses joined with "; ". Nothing is
  // written when there is no list "fetches".
  void SummarizeDownloads();

  // The whole tree as compact JSON, written under the lock; false when the writer fails.
  bool SerializeAsJson(std::string* json);

  // Sums up the downloads and posts the statistics as JSON to the update service's feedback address (with the
  // switch "local-stats-server", to the local machine on port 3000). Without `wait_for_network` the request is
  // retried at most twice, so that an installer without a network ends soon. On a thread with a task runner;
  // `done` runs exactly once on it: when the request has ended, or inside this call when nothing was sent
  // (false). A sender destroyed while the request runs never runs it.
  bool Send(base::Closure done, bool wait_for_network);

 private:
  void RecordInstallerStats();

  StatsTreeGuard guard_;
  base::DictionaryValue root_;
  InstallerStats root_view_;
  Wininet downloader_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_STATS_SENDER_H_
