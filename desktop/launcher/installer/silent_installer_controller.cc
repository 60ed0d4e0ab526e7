#include "desktop/launcher/installer/silent_installer_controller.h"

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/cpu.h"
#include "base/features/feature_list.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/win/windows_version.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"
#include "desktop/launcher/installer/pref_default_overrides_fetcher.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {

namespace {

constexpr char kUiStatsFeature[] = "installer-ui-stats";
constexpr char kFailureReasonKey[] = "failure_reason";

// The backend's exit is reported after its last message; a little grace lets a success or error that is still
// on its way be heard before the run ends.
constexpr int64_t kTerminateAfterBackendExitMs = 1000;

}  // namespace

SilentInstallerController::SilentInstallerController() : stats_sender_(this) {}

SilentInstallerController::~SilentInstallerController() = default;

bool SilentInstallerController::Run(Settings* settings, bool without_fetcher, const base::FilePath& work_folder) {
  settings_ = settings;
  settings_->AddObserver(this);
  base::FilePath package_folder;
  if (without_fetcher) {
    VLOG(1) << "Initializing controller without fetcher.";
    base::PathService::Get(base::kExeDir, &package_folder);
    package_ready_ = true;
  } else {
    VLOG(1) << "Initializing controller with fetcher.";
    package_fetcher_ = std::make_unique<PackageFetcher>(work_folder, stats_sender_.stats(), this, this);
    package_fetcher_->Start();
    package_folder = package_fetcher_->unpack_folder();
  }
  installer_runner_ = std::make_unique<InstallerRunner>(package_folder);
  overrides_fetcher_ = std::make_unique<PrefDefaultOverridesFetcher>(package_folder, this);
  installer_runner_->AddObserver(this);

  // Started from the loop even when the settings are complete already, so that it never runs inside Run.
  if (!settings_->status_fetcher()) {
    VLOG(1) << "Settings already obtained. Starting.";
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::Bind(&SilentInstallerController::StartInstallation, weak_factory_.GetWeakPtr()));
  }
  run_loop_.Run();
  LOG(INFO) << "Controller exiting";
  installer_runner_->RemoveObserver(this);
  settings_->RemoveObserver(this);
  return result_;
}

void SilentInstallerController::OnPathChanged() {
  VLOG(1) << "Settings obtained. Starting.";
  StartInstallation();
}

void SilentInstallerController::StartInstallation() {
  // A run that has already ended (a fetch that failed while the settings were still being read) starts nothing.
  if (terminated_)
    return;
  installation_started_ = true;
  settings_->WriteStats(std::string(), stats_sender_.stats());
  if (base::win::GetVersion() < base::win::VERSION_WIN7) {
    LOG(ERROR) << "This version of Zorvi doesn't support windows versions " << "prior to Windows 7";
    Terminate();
    return;
  }
  if (!base::CPU().has_sse2()) {
    LOG(ERROR) << "SSE2 not supported by the computer";
    Terminate();
    return;
  }
  if (package_ready_) {
    VLOG(2) << "Got tracking data from package.";
    RunTrackingDataActions();
  }
  VLOG(2) << "Preparing to run the installer.";
  if (!installer_runner_->Run(settings_))
    Terminate();
}

void SilentInstallerController::RunUICallbackAndPostReply(
    const UICallback& /*ui_callback*/, const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
    const UIReply& reply) {
  LOG(ERROR) << "Cannot display UI requested by fetcher when running silently";
  reply_task_runner->PostTask(FROM_HERE, base::Bind(reply, 0u));
}

void SilentInstallerController::NotifyStatusChanged(int status) {
  switch (status) {
    case kFetchingDownloadUrl:
      VLOG(2) << "Package will be downloaded.";
      package_will_be_downloaded_ = true;
      break;
    case kPackageReady:
      VLOG(1) << "Package fetched successfully.";
      package_ready_ = true;
      // Until the installation starts, StartInstallation runs the actions itself (once).
      if (!installation_started_)
        break;
      VLOG(2) << "Got tracking data from status.";
      RunTrackingDataActions();
      break;
    case kInitializationFailed:
    case kDownloadFailed:
    case kUnpackingFailed:
      // An unattended run has nobody to retry for: it ends here.
      VLOG(1) << "Package fetcher failed.";
      if (base::FeatureList::GetInstance()->IsFeatureEnabled(kUiStatsFeature))
        stats_sender_.stats()->SetString(kFailureReasonKey, "Fetcher error");
      Terminate();
      break;
    default:
      break;
  }
}

void SilentInstallerController::NotifyTrackingDataObtained(const std::string& tracking_data) {
  VLOG(2) << "Tracking data obtained.";
  tracking_data_ = tracking_data;
}

void SilentInstallerController::RunTrackingDataActions() {
  const std::string& data = tracking_data_.empty() ? settings_->status().tracking_data : tracking_data_;
  stats_sender_.stats()->SetString("tracking_data", data);
  const base::Closure done =
      base::Bind(&SilentInstallerController::OnTrackingDataActionsDone, weak_factory_.GetWeakPtr());
  // An uninstallation writes no first-run preferences, so it needs no overrides.
  if (settings_->operation() == Settings::kOperationUninstall)
    done.Run();
  else
    overrides_fetcher_->Fetch(data, done);
}

void SilentInstallerController::OnTrackingDataActionsDone() {
  VLOG(2) << "Tracking data actions done: package complete.";
  installer_runner_->OnPackageReady();
}

void SilentInstallerController::OnInstallerError(int /*code*/, const std::wstring& /*detail*/,
                                                 const std::string& message) {
  if (base::FeatureList::GetInstance()->IsFeatureEnabled(kUiStatsFeature))
    stats_sender_.stats()->SetString(kFailureReasonKey, message);
  VLOG(2) << "Installer error: terminating";
  Terminate();
}

void SilentInstallerController::OnInstallerSuccess() {
  VLOG(2) << "Installer succeeded: terminating";
  result_ = true;
  Terminate();
}

void SilentInstallerController::OnInstallerTerminated(bool success) {
  result_ = success;
  VLOG(2) << "Installer ended. Success is " << (success ? 1 : 0) << ". terminating";
  base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
      FROM_HERE, base::Bind(&SilentInstallerController::Terminate, weak_factory_.GetWeakPtr()),
      base::TimeDelta::FromMilliseconds(kTerminateAfterBackendExitMs));
}

void SilentInstallerController::Terminate() {
  if (terminated_) {
    VLOG(2) << "Termination already done.";
    return;
  }
  terminated_ = true;
  stats_sender_.stats()->SetInteger("installation_success", result_ ? 1 : 0);
  // A successful autoupdate is the everyday case and is not reported; a failed one is.
  if (settings_->enable_installer_stats() && (!settings_->autoupdate() || !result_)) {
    LOG(INFO) << "Sending stats";
    stats_sender_.Send(run_loop_.QuitClosure(), package_will_be_downloaded_);
  } else {
    LOG(INFO) << "Not sending stats";
    run_loop_.Quit();
  }
}

}  // namespace zorvi::installer
