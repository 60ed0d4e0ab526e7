#include "desktop/launcher/installer/silent_installer_controller.h"

#include "base/bind.h"
#include "base/cpu.h"
#include "base/logging.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"
#include "desktop/launcher/installer/status.h"

namespace zorvi::installer {

namespace {

// The backend's exit is reported after its last message; a little grace lets an error that is still on its way
// be heard before the run ends.
constexpr int64_t kTerminateAfterBackendExitMs = 1000;

}  // namespace

SilentInstallerController::SilentInstallerController() : sequence_(this) {}

SilentInstallerController::~SilentInstallerController() = default;

bool SilentInstallerController::Run(Settings* settings, bool without_fetcher, const base::FilePath& work_folder) {
  settings_ = settings;
  settings_->AddObserver(this);
  sequence_.MakeParts(settings_, without_fetcher, work_folder, this);
  if (sequence_.fetcher())
    sequence_.fetcher()->Start();
  else
    package_ready_ = true;
  sequence_.runner()->AddObserver(this);

  // Started from the loop even when the settings are complete already, so that it never runs inside Run.
  if (!settings_->status_fetcher()) {
    VLOG(1) << "Settings already obtained. Starting.";
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::Bind(&SilentInstallerController::StartInstallation, weak_factory_.GetWeakPtr()));
  }
  run_loop_.Run();
  LOG(INFO) << "Controller exiting";
  sequence_.runner()->RemoveObserver(this);
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
  settings_->WriteStats(std::string(), sequence_.stats());
  if (base::win::GetVersion() < base::win::VERSION_WIN7) {
    LOG(ERROR) << kOldWindowsMessage;
    Terminate();
    return;
  }
  if (!base::CPU().has_sse2()) {
    LOG(ERROR) << kNoSse2Message;
    Terminate();
    return;
  }
  if (package_ready_) {
    VLOG(2) << "Got tracking data from package.";
    sequence_.ReleasePackageAfterTrackingData(base::Closure());
  }
  VLOG(2) << "Preparing to run the installer.";
  if (!sequence_.runner()->Run(settings_)) {
    Terminate();
    return;
  }
  backend_running_ = true;
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
      sequence_.ReleasePackageAfterTrackingData(base::Closure());
      break;
    case kInitializationFailed:
    case kDownloadFailed:
    case kUnpackingFailed:
      // An unattended run has nobody to retry for: it ends here.
      VLOG(1) << "Package fetcher failed.";
      // A backend that waits for the package is told to stop.
      if (backend_running_)
        sequence_.runner()->Stop();
      Fail("Fetcher error");
      break;
    default:
      break;
  }
}

void SilentInstallerController::NotifyTrackingDataObtained(const std::string& tracking_data) {
  sequence_.KeepTrackingData(tracking_data);
}

void SilentInstallerController::OnInstallerError(int /*code*/, const std::wstring& /*detail*/,
                                                 const std::string& message) {
  VLOG(2) << "Installer error: terminating";
  Fail(message);
}

void SilentInstallerController::Fail(const std::string& reason) {
  sequence_.RecordFailureReason(reason);
  failed_ = true;
  result_ = false;  // also when heard in the grace after the backend's exit, which waits for just such news
  if (!backend_running_) {
    Terminate();
    return;
  }
  // The backend undoes what it did before it ends: the run ends with it, so that nothing is still being undone
  // once the installer has exited.
  VLOG(2) << "Waiting for the backend to end";
}

void SilentInstallerController::OnInstallerSuccess() {
  // Every generation of the backend (elevated copy, the package's installer) reports here, and the outer one may
  // still have work and fail: its exit decides, and the run must outlive it.
  VLOG(2) << "Installer succeeded: waiting for the backend to end";
}

void SilentInstallerController::OnInstallerTerminated(bool success) {
  VLOG(2) << "Installer ended. Success is " << (success ? 1 : 0) << ". terminating";
  // The outcome of an ended run is the one its statistics carry: the exit code must agree with them.
  if (terminated_) {
    VLOG(2) << "Termination already done.";
    return;
  }
  backend_running_ = false;
  result_ = success && !failed_;
  const int64_t seam = GetBackendExitGraceSeam();
  base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
      FROM_HERE, base::Bind(&SilentInstallerController::Terminate, weak_factory_.GetWeakPtr()),
      base::TimeDelta::FromMilliseconds(seam >= 0 ? seam : kTerminateAfterBackendExitMs));
}

void SilentInstallerController::Terminate() {
  if (terminated_) {
    VLOG(2) << "Termination already done.";
    return;
  }
  terminated_ = true;
  // A successful autoupdate is the everyday case and is not reported; a failed one is.
  const bool send = settings_->enable_installer_stats() && (!settings_->autoupdate() || !result_);
  sequence_.SendStats(result_, send, package_will_be_downloaded_, run_loop_.QuitClosure());
}

}  // namespace zorvi::installer
