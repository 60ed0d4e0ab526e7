// What every installer controller drives, whether it shows a window or not: the run's statistics; the package,
// fetched into the download folder or the unpacked package the installer already runs in; the runner of the
// backend; the tracking-data actions (the default-preference overrides fetched with the run's tracking data),
// after which the package is released to the backend; at the end, the statistics sent. The controller keeps the
// decisions: when to start the fetcher and the runner, what a fetcher's status means, when the run ends.
//
// Owned by its controller and used on the controller's thread only.
#ifndef DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLATION_SEQUENCE_H_
#define DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLATION_SEQUENCE_H_

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/memory/weak_ptr.h"
#include "desktop/launcher/installer/stats_sender.h"

namespace zorvi::installer {

class InstallerRunner;
class InstallerStats;
class PackageFetcher;
class PackageFetcherDelegate;
class PrefDefaultOverridesFetcher;
class Settings;
class UICallbackRunner;

// What a controller logs, and may show, when the system cannot run the product.
extern const char kOldWindowsMessage[];  // "This version of Zorvi doesn't support windows versions prior to ..."
extern const char kNoSse2Message[];      // "SSE2 not supported by the computer"

class InstallationSequence {
 public:
  // `ui_callback_runner` (the controller; required, not owned) answers the requests for user interface of the
  // fetcher and of the downloaders that send the statistics and fetch the overrides.
  explicit InstallationSequence(UICallbackRunner* ui_callback_runner);
  InstallationSequence(const InstallationSequence&) = delete;
  InstallationSequence& operator=(const InstallationSequence&) = delete;
  ~InstallationSequence();

  // Makes the fetcher (not started), the runner and the overrides fetcher for `settings` (not owned; they
  // outlive this). `without_fetcher`: the installer runs inside an unpacked package (or an installation), whose
  // folder, the own executable's, is the package; otherwise the package is fetched into `download_folder`, with
  // reports going to `delegate` (required then, not owned).
  void MakeParts(Settings* settings, bool without_fetcher, const base::FilePath& download_folder,
                 PackageFetcherDelegate* delegate);
  // Deletes the overrides fetcher, the runner and the fetcher, in this order: none of them reports afterwards.
  void DeleteParts();

  // The fetcher's copy of the tracking data, kept for the tracking-data actions.
  void KeepTrackingData(const std::string& tracking_data);
  const std::string& tracking_data() const { return tracking_data_; }

  // The tracking-data actions: records the tracking data (the fetcher's copy, else the one the settings read from
  // the install folder) and fetches the overrides with it, except for an uninstallation, which writes no first-run
  // preferences; then releases the package to the backend and runs `released`. A package released before is held
  // back while the overrides are fetched again. A call while an overrides fetch
  // runs does nothing, since asking the busy downloader again would fail that fetch, which releases the package.
  void ReleasePackageAfterTrackingData(base::Closure released);

  // With the installer's interface statistics on, the run's failure reason.
  void RecordFailureReason(const std::string& message);

  // Records the run's outcome (a success carries no failure reason) and, when `send`, sends the statistics;
  // `done` runs once, when they have been sent or at once. A run whose package was not downloaded (a full
  // installer) may be offline: without `wait_for_network` the statistics do not wait for the network.
  void SendStats(bool success, bool send, bool wait_for_network, base::Closure done);

  StatsSender* stats_sender() { return &stats_sender_; }
  InstallerStats* stats() { return stats_sender_.stats(); }
  // Null without fetcher.
  PackageFetcher* fetcher() const { return fetcher_.get(); }
  InstallerRunner* runner() const { return runner_.get(); }

 private:
  void OnTrackingDataHandled(base::Closure released);

  UICallbackRunner* const ui_callback_runner_;
  Settings* settings_ = nullptr;
  std::string tracking_data_;
  bool handling_tracking_data_ = false;
  StatsSender stats_sender_;
  std::unique_ptr<PackageFetcher> fetcher_;
  std::unique_ptr<InstallerRunner> runner_;
  std::unique_ptr<PrefDefaultOverridesFetcher> overrides_fetcher_;
  base::WeakPtrFactory<InstallationSequence> weak_factory_{this};
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_STEPS_INSTALLATION_SEQUENCE_H_
