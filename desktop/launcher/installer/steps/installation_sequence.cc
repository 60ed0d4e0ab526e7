#include "desktop/launcher/installer/steps/installation_sequence.h"

#include <utility>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"
#include "desktop/launcher/installer/pref_default_overrides_fetcher.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {

const char kOldWindowsMessage[] = "This version of Zorvi doesn't support windows versions prior to Windows 7";
const char kNoSse2Message[] = "SSE2 not supported by the computer";

namespace {

constexpr char kFailureReasonKey[] = "failure_reason";

}  // namespace

InstallationSequence::InstallationSequence(UICallbackRunner* ui_callback_runner)
    : ui_callback_runner_(ui_callback_runner), stats_sender_(ui_callback_runner) {}

InstallationSequence::~InstallationSequence() {
  DeleteParts();
}

void InstallationSequence::MakeParts(Settings* settings, bool without_fetcher, const base::FilePath& download_folder,
                                     PackageFetcherDelegate* delegate) {
  settings_ = settings;
  base::FilePath package_folder;
  if (without_fetcher) {
    VLOG(1) << "Initializing controller without fetcher.";
    base::PathService::Get(base::kExeDir, &package_folder);
  } else {
    VLOG(1) << "Initializing controller with fetcher.";
    fetcher_ = std::make_unique<PackageFetcher>(download_folder, stats(), ui_callback_runner_, delegate);
    package_folder = fetcher_->unpack_folder();
  }
  runner_ = std::make_unique<InstallerRunner>(package_folder);
  if (fetcher_)
    runner_->ShareWithBackend(fetcher_->claim());
  overrides_fetcher_ = std::make_unique<PrefDefaultOverridesFetcher>(package_folder, ui_callback_runner_);
}

void InstallationSequence::DeleteParts() {
  overrides_fetcher_.reset();
  runner_.reset();
  fetcher_.reset();
}

void InstallationSequence::KeepTrackingData(const std::string& tracking_data) {
  VLOG(2) << "Tracking data obtained.";
  tracking_data_ = tracking_data;
}

void InstallationSequence::ReleasePackageAfterTrackingData(base::Closure released) {
  if (handling_tracking_data_) {
    VLOG(1) << "Tracking data is being handled already";
    return;
  }
  const std::string& data = tracking_data_.empty() ? settings_->status().tracking_data : tracking_data_;
  stats()->SetString("tracking_data", data);
  if (settings_->operation() == Settings::kOperationUninstall) {
    OnTrackingDataHandled(std::move(released));
    return;
  }
  handling_tracking_data_ = true;
  // A package released before (to a run that failed) waits again: the next backend must not start before the
  // overrides of this fetch, which may be another folder's, are in place.
  runner_->WithdrawPackage();
  overrides_fetcher_->Fetch(data, base::Bind(&InstallationSequence::OnTrackingDataHandled,
                                             weak_factory_.GetWeakPtr(), std::move(released)));
}

void InstallationSequence::OnTrackingDataHandled(base::Closure released) {
  handling_tracking_data_ = false;
  VLOG(2) << "Tracking data actions done: package complete.";
  runner_->OnPackageReady();
  if (!released.is_null())
    released.Run();
}

void InstallationSequence::RecordFailureReason(const std::string& message) {
  if (InstallerUiStatsEnabled())
    stats()->SetString(kFailureReasonKey, message);
}

void InstallationSequence::SendStats(bool success, bool send, bool wait_for_network, base::Closure done) {
  stats()->SetInteger("installation_success", success ? 1 : 0);
  if (success && InstallerUiStatsEnabled())
    stats()->Remove(kFailureReasonKey);
  if (send) {
    LOG(INFO) << "Sending stats";
    stats_sender_.Send(std::move(done), wait_for_network);
  } else {
    LOG(INFO) << "Not sending stats";
    done.Run();
  }
}

}  // namespace zorvi::installer
