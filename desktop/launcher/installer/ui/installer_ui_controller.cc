#include "desktop/launcher/installer/ui/installer_ui_controller.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <numeric>
#include <utility>

#include "base/bind.h"
#include "base/cpu.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/launcher/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer {

namespace {

constexpr int kMaxFetcherRestarts = 3;
// Bars that move by more than this are set at once; smaller advances step so that the bar animates.
constexpr int kLargestSteppedAdvance = 10;
// The stream whose full-package page needs no product in its address.
constexpr int kStreamWithoutProductQuery = 4;
constexpr uint32_t kErrorCancelled = ERROR_CANCELLED;

// Brings the first enabled, visible window of the enumerated thread to the front.
BOOL CALLBACK RaiseFirstUsableWindow(HWND window, LPARAM) {
  if (!IsWindowEnabled(window) || !IsWindowVisible(window))
    return TRUE;
  SetForegroundWindow(window);
  return FALSE;
}

void PostReply(const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
               const UICallbackRunner::UIReply& reply, uint32_t result) {
  reply_task_runner->PostTask(FROM_HERE, base::Bind(reply, result));
}

}  // namespace

InstallerUIController::InstallerUIController()
    : run_loop_(Win32DialogDispatcher::GetInstance()), sequence_(this) {}

InstallerUIController::~InstallerUIController() {
  sequence_.DeleteParts();
  window_.reset();
  closed_window_.reset();
}

bool InstallerUIController::RunUI(Settings* settings, bool without_fetcher, const base::FilePath& download_folder,
                                  bool run_immediately) {
  const DWORD owner = AcquireUILock(download_folder);
  if (owner != 0 && owner != GetCurrentThreadId()) {
    LOG(INFO) << "Another instance of the installer UI is running. Switching to it";
    EnumThreadWindows(owner, &RaiseFirstUsableWindow, 0);
    return false;
  }
  settings_ = settings;
  run_immediately_ = run_immediately;
  without_fetcher_ = without_fetcher;
  sequence_.MakeParts(settings_, without_fetcher_, download_folder, this);
  if (without_fetcher_)
    phase_ = kPhasePackageReady;

  base::ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, base::Bind(&InstallerUIController::Init, weak_factory_.GetWeakPtr()));
  run_loop_.Run();
  LOG(INFO) << "Controller exiting";
  // The settings need to outlive only the run: they may still have a status to announce, which concerns neither
  // the run nor its window (closed, and deleted once the notification that closed it had returned) any longer.
  closed_window_.reset();
  settings_->RemoveObserver(this);
  settings_ = nullptr;
  return success_;
}

DWORD InstallerUIController::AcquireUILock(const base::FilePath& download_folder) {
  LOG(INFO) << "Getting installer UI mutex";
  const std::wstring mutex_name =
      base::StringPrintf(L"Local\\%ls/Installer/UI_lock", base::UTF8ToWide(GetProductName()).c_str());
  base::win::ScopedHandle mutex(CreateMutexW(nullptr, FALSE, mutex_name.c_str()));
  if (!mutex.IsValid()) {
    LOG(WARNING) << "Failed to create installer UI mutex.";
    return 0;
  }
  // Serialises the create-or-read of the lock file between instances; the open file itself is the lock.
  WaitForSingleObject(mutex.Get(), INFINITE);
  const base::FilePath lock_path = download_folder.Append(L"installer.lck");
  lock_file_.Set(CreateFileW(lock_path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  DWORD owner = 0;
  if (lock_file_.IsValid()) {
    owner = GetCurrentThreadId();
    DWORD written = 0;
    WriteFile(lock_file_.Get(), &owner, sizeof(owner), &written, nullptr);
    VLOG(1) << "Obtained installer UI lock";
  } else {
    VLOG(1) << "Didn't obtain installer UI lock";
    base::win::ScopedHandle existing(CreateFileW(lock_path.value().c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!existing.IsValid()) {
      LOG(WARNING) << "Existing installer UI lock file is invalid";
    } else {
      DWORD read = 0;
      if (!ReadFile(existing.Get(), &owner, sizeof(owner), &read, nullptr) || read != sizeof(owner))
        owner = 0;
    }
  }
  ReleaseMutex(mutex.Get());
  return owner;
}

void InstallerUIController::Init() {
  LOG(INFO) << "Initializing installer UI";
  settings_->AddObserver(this);
  sequence_.runner()->AddObserver(this);

  window_ = InstallerWindow::Create(settings_, stats(), run_immediately_);
  if (!window_) {
    const char kMessage[] = "Could not initialize installer window";
    OnInstallerError(kInstallerErrorGeneric, std::wstring(), kMessage);
    LOG(ERROR) << kMessage;
    // Nothing could show the error or let the user end the run: end it here, so that the run loop quits and the
    // run counts as failed.
    Terminate();
    return;
  }
  window_->delegates()->AddObserver(this);
  window_->ShowPhase(phase_);

  if (!base::CPU().has_sse2()) {
    LOG(ERROR) << kNoSse2Message;
    // Dismissing the box cancels the run through OnCancel.
    window_->ShowErrorBox(GetLocalizedString(IDS_ERROR_NO_SSE2));
    return;
  }
  if (sequence_.fetcher()) {
    VLOG(1) << "Starting the package fetcher";
    sequence_.fetcher()->Start();
  }
  if (InstallerUiStatsEnabled()) {
    if (!settings_->status_fetcher()) {
      initial_stats_written_ = true;
      settings_->WriteStats("ui.initial_", stats());
    }
    stats()->SetInteger("run_immediately", run_immediately_ ? 1 : 0);
  }
  if (run_immediately_ && !settings_->status_fetcher()) {
    LOG(INFO) << "runimmediately set and status already fetched.";
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::Bind(&InstallerUIController::OnAccept, weak_factory_.GetWeakPtr()));
  }
}

void InstallerUIController::OnPathChanged() {
  VLOG(2) << "New status obtained";
  if (phase_ == kPhaseInstalling && sequence_.tracking_data().empty()) {
    VLOG(2) << "Need to handle tracking data from new path";
    phase_ = kPhasePackageReady;
  }
  if (run_immediately_ || accept_waiting_for_status_) {
    VLOG(1) << "runimmediately set or Accept already clicked";
    accept_waiting_for_status_ = false;
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::Bind(&InstallerUIController::OnAccept, weak_factory_.GetWeakPtr()));
  }
  if (!initial_stats_written_ && InstallerUiStatsEnabled()) {
    initial_stats_written_ = true;
    settings_->WriteStats("ui.initial_", stats());
  }
}

void InstallerUIController::OnAccept() {
  LOG(INFO) << "Accept clicked.";
  // An acceptance that waited for a status, or a run that starts at once, may come due after the user cancelled:
  // nothing is started then.
  if (terminated_ || cancelling_) {
    LOG(INFO) << "The UI has ended; not installing";
    return;
  }
  if (installation_started_) {
    LOG(WARNING) << "Installation already in progress.";
    return;
  }
  if (settings_->status_fetcher()) {
    VLOG(1) << "Still waiting for status";
    accept_waiting_for_status_ = true;
    return;
  }
  if (phase_ == kPhasePackageReady) {
    VLOG(1) << "Tracking data is ready for handling";
    HandleTrackingData();
  }
  settings_->RemoveObserver(this);
  settings_->WriteStats("", stats());
  if (base::win::GetVersion() < base::win::VERSION_WIN7) {
    if (window_) {
      window_->DisplayError(GetLocalizedString(IDS_ERROR_OLD_WINDOWS, GetLocalizedString(IDS_FULL_PACKAGE)), true,
                            kOldWindowsMessage);
    }
    return;
  }
  installation_started_ = true;
  if (pending_error_) {
    VLOG(1) << "An error is pending. Show it first.";
    HandlePendingError();
    return;
  }
  if (!sequence_.runner()->Run(settings_)) {
    VLOG(1) << "Failed to run the backend. Show whatever error was reported";
    HandlePendingError();
    return;
  }
  if (!stored_ui_request_.is_null()) {
    VLOG(1) << "Running pending fetcher callback.";
    std::exchange(stored_ui_request_, base::Closure()).Run();
  }
  if (restart_fetching_on_accept_) {
    VLOG(1) << "Restarting fetching after background tries failed.";
    RestartFetching();
  }
  if (!window_)
    return;
  window_->ShowPage(InstallerWindow::kPageProgress);
  const HWND bar = GetDlgItem(window_->main_dialog(), IDC_PROGRESS_BAR);
  const int high = std::max(1, std::accumulate(phase_weights_.begin(), phase_weights_.end(), 0));
  SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(static_cast<uint16_t>(GetProgressPosition()), static_cast<uint16_t>(high)));
  SendMessageW(bar, PBM_SETSTEP, 1, 0);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  window_->ShowPhase(phase_);
}

void InstallerUIController::RestartFetching() {
  phase_ = kPhaseAskingForPackage;
  if (sequence_.fetcher())
    sequence_.fetcher()->Start();
}

void InstallerUIController::NotifyStatusChanged(int status) {
  switch (status) {
    case kFetchingDownloadUrl:
      VLOG(2) << "Package will be downloaded.";
      package_downloaded_ = true;
      phase_ = kPhaseAskingForPackage;
      break;
    case kDownloadingPackage:
      phase_ = kPhaseDownloading;
      break;
    case kExtractingPackage:
      phase_ = kPhaseUnpacking;
      break;
    case kFetchingPartnerContent:
      phase_ = kPhaseFetchingPartnerContent;
      break;
    case kPackageReady:
      VLOG(1) << "Package fetched successfully.";
      phase_ = kPhasePackageReady;
      // A fetch restarted by the next accept would clean the download folder under the backend that the accept
      // has just started from this package.
      restart_fetching_on_accept_ = false;
      if (installation_started_) {
        VLOG(2) << "Got tracking data from status.";
        HandleTrackingData();
      }
      break;
    case kInitializationFailed:
    case kDownloadFailed:
    case kUnpackingFailed: {
      VLOG(1) << "Package fetcher failed.";
      const int code = status == kUnpackingFailed ? IDS_ERROR_UNPACKING : IDS_ERROR_DOWNLOAD;
      if (installation_started_) {
        VLOG(1) << "Reporting fetcher error.";
        sequence_.RecordFailureReason("Fetcher error");
        ReportError(code, std::wstring(), "Fetcher error");
        restart_fetching_on_accept_ = true;
      } else {
        VLOG(1) << "Installation hasn't started yet";
        if (fetcher_restarts_ < kMaxFetcherRestarts) {
          ++fetcher_restarts_;
          LOG(INFO) << "Restarting package fetching, " << fetcher_restarts_ << " of " << kMaxFetcherRestarts;
          RestartFetching();
        } else {
          LOG(WARNING) << "Exceeded maximum number of fetcher retries, we won't retry until user decides to.";
          restart_fetching_on_accept_ = true;
        }
      }
      break;
    }
    default:
      break;
  }
  ShowPhaseIfStarted();
}

void InstallerUIController::ShowPhaseIfStarted() {
  if (window_ && installation_started_)
    window_->ShowPhase(phase_);
}

void InstallerUIController::NotifyTrackingDataObtained(const std::string& tracking_data) {
  sequence_.KeepTrackingData(tracking_data);
}

void InstallerUIController::HandleTrackingData() {
  sequence_.ReleasePackageAfterTrackingData(
      base::Bind(&InstallerUIController::OnPackageReleased, weak_factory_.GetWeakPtr()));
}

void InstallerUIController::OnPackageReleased() {
  phase_ = kPhaseInstalling;
  if (window_ && installation_started_) {
    VLOG(2) << "Notifying installation phase change.";
    window_->ShowPhase(phase_);
  }
}

void InstallerUIController::SetTotalProgress(int total) {
  progress_current_ = 0;
  // Partner content does not move the bar.
  progress_total_ = phase_ == kPhaseFetchingPartnerContent ? 0 : total;
}

void InstallerUIController::SetCurrentProgress(int value) {
  if (progress_total_ == 0)
    return;
  progress_current_ = value;
  UpdateProgress();
}

void InstallerUIController::OnTotalSteps(int steps) {
  progress_total_ = steps;
  progress_current_ = 1;
}

void InstallerUIController::OnStep() {
  ++progress_current_;
  UpdateProgress();
}

int InstallerUIController::GetProgressPosition() const {
  const int phase = std::clamp(phase_, 0, static_cast<int>(phase_weights_.size()) - 1);
  const int done = std::accumulate(phase_weights_.begin(), phase_weights_.begin() + phase, 0);
  const float fraction =
      progress_total_ == 0 ? 0.0f : static_cast<float>(progress_current_) / static_cast<float>(progress_total_);
  return done + static_cast<int>(static_cast<float>(phase_weights_[phase]) * fraction);
}

void InstallerUIController::UpdateProgress() {
  if (!installation_started_ || !window_)
    return;
  VLOG(2) << "Updating installation progress";
  const HWND bar = GetDlgItem(window_->main_dialog(), IDC_PROGRESS_BAR);
  int position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
  // A report past its total must not step the bar over its end, where a step starts again from the beginning.
  const int target = std::min(GetProgressPosition(), static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)));
  if (target - position > kLargestSteppedAdvance) {
    SendMessageW(bar, PBM_SETPOS, target, 0);
    return;
  }
  for (; position < target; ++position)
    SendMessageW(bar, PBM_STEPIT, 0, 0);
}

void InstallerUIController::OnInstallerError(int code, const std::wstring& detail, const std::string& message) {
  sequence_.RecordFailureReason(message);
  ReportError(code, detail, message);
}

void InstallerUIController::ReportError(int code, const std::wstring& detail, const std::string& message) {
  VLOG(1) << "Reporting error " << code;
  pending_error_ = std::make_unique<InstallerError>(InstallerError{code, detail, message});
  sequence_.runner()->Stop();
}

void InstallerUIController::OnInstallerSuccess() {
  // Every generation of the backend (the elevated copy, the package's installer) reports here, and the outer one
  // may still have work and fail or be cancelled: its end decides.
  VLOG(1) << "Installer success reported";
}

void InstallerUIController::OnInstallerTerminated(bool success) {
  VLOG(1) << "Installer termination reported";
  if (terminated_) {
    VLOG(2) << "UI already terminated";
    return;
  }
  if (cancelling_) {
    LOG(INFO) << "The cancelled installation has been undone";
    Terminate();
    return;
  }
  success_ = success;
  if (success) {
    VLOG(1) << "Installer terminated successfully. Finishing.";
    progress_current_ = progress_total_;
    UpdateProgress();
    Terminate();
    return;
  }
  if (!pending_error_) {
    const char kMessage[] = "Unreported installer error.";
    OnInstallerError(kInstallerErrorGeneric, std::wstring(), kMessage);
    LOG(ERROR) << kMessage;
  }
  base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
      FROM_HERE, base::Bind(&InstallerUIController::HandlePendingError, weak_factory_.GetWeakPtr()),
      base::TimeDelta::FromMilliseconds(100));
}

void InstallerUIController::HandlePendingError() {
  LOG(INFO) << "Handling pending error";
  installation_started_ = false;
  if (terminated_ || !window_)
    return;
  settings_->set_editable(true);
  settings_->AddObserver(this);
  if (!pending_error_) {
    // The backend could not be started and said nothing about why: the user still learns that it failed.
    const char kMessage[] = "Unreported installer error.";
    LOG(ERROR) << kMessage;
    pending_error_ = std::make_unique<InstallerError>(InstallerError{kInstallerErrorGeneric, std::wstring(), kMessage});
  }
  if (SwitchedToCurrentUser()) {
    pending_error_.reset();
    OnAccept();
    return;
  }
  const bool offer_full_package = error_page_shown_ && !without_fetcher_ &&
                                  (phase_ <= kPhaseUnpacking || package_downloaded_);
  error_page_shown_ = true;
  const std::unique_ptr<InstallerError> error = std::move(pending_error_);
  window_->DisplayError(GetLocalizedString(error->code, error->detail), offer_full_package, error->message);
}

bool InstallerUIController::SwitchedToCurrentUser() {
  if (pending_error_->code != kInstallerErrorElevation || settings_->operation() != Settings::kOperationInstall ||
      !settings_->all_users()) {
    return false;
  }
  const bool default_folder =
      base::FilePath::CompareIgnoreCase(settings_->status().path.value(),
                                        settings_->GetDefaultInstallFolder(true, true).value()) == 0;
  if (!(default_folder || settings_->status().has_write_access) || !window_->OfferCurrentUserInstall())
    return false;
  LOG(INFO) << "Offering the user to switch to a Current User install";
  settings_->SetAllUsers(false);
  if (default_folder)
    settings_->SetInstallFolderPath(settings_->GetDefaultInstallFolder(true, true));
  return true;
}

void InstallerUIController::OnCancel() {
  if (terminated_ || cancelling_)
    return;
  stats()->SetInteger("installation_cancelled", 1);
  if (!sequence_.runner()->backend_running()) {
    Terminate();
    return;
  }
  // The backend (or the package's installer it handed the run to) undoes what it did once told to stop. Until
  // it has ended the run is not over: the window stays, out of the user's reach, and this process stays too, as
  // the backend's installer processes end their run when it goes.
  LOG(INFO) << "Cancelling the installation: waiting for the backend to undo it";
  cancelling_ = true;
  if (window_)
    EnableWindow(window_->main_dialog(), FALSE);
  sequence_.runner()->Stop();
}

void InstallerUIController::ObtainFullPackage() {
  LOG(INFO) << "Obtaining full package";
  std::string url = GetBrandingUrl("download_full_windows");
  if (GetStreamId() != kStreamWithoutProductQuery)
    url += base::StringPrintf("&product=%s%%20%s", GetProductName().c_str(), GetStreamName().c_str());
  const std::wstring wide_url = base::UTF8ToWide(url);

  FolderInstallationInfo installation(settings_->status().path);
  const bool we_handle_http =
      installation.IsRegisteredHandler(L"http", false) || installation.IsRegisteredHandler(L"http", true);
  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_DOENVSUBST;
  execute.lpVerb = L"open";
  execute.nShow = SW_SHOW;
  // Our own browser would be started by the installer that is replacing it: the system's browser opens the page.
  if (we_handle_http) {
    VLOG(1) << "Downloading full package with IE";
    execute.lpFile = L"%ProgramFiles%\\Internet Explorer\\iexplore.exe";
    execute.lpParameters = wide_url.c_str();
  } else {
    VLOG(1) << "Downloading full package with default browser";
    execute.lpFile = wide_url.c_str();
  }
  ShellExecuteExW(&execute);
  stats()->SetInteger("installation_cancelled", 2);
  Terminate();
}

void InstallerUIController::Terminate() {
  LOG(INFO) << "Terminating the UI";
  if (terminated_) {
    VLOG(2) << "Installer UI already terminated";
    return;
  }
  terminated_ = true;
  accept_waiting_for_status_ = false;
  if (window_) {
    window_->delegates()->RemoveObserver(this);
    // The window may be the one calling: it is hidden now and deleted once its notification has returned.
    ShowWindow(window_->main_dialog(), SW_HIDE);
    closed_window_ = std::move(window_);
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::Bind(&InstallerUIController::DeleteClosedWindow, weak_factory_.GetWeakPtr()));
  }
  sequence_.runner()->Stop();
  lock_file_.Close();
  const bool send = settings_->enable_installer_stats() && !settings_->autoupdate();
  sequence_.SendStats(success_, send, package_downloaded_, run_loop_.QuitClosure());
}

void InstallerUIController::RunUICallbackAndPostReply(const UICallback& ui_callback,
                                                       const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                                       const UIReply& reply) {
  LOG(INFO) << "Obtained UI callback request from fetcher";
  if (terminated_ || cancelling_) {
    VLOG(1) << "UI has been terminated already.";
    PostReply(reply_task_runner, reply, kErrorCancelled);
    return;
  }
  if (installation_started_ && !pending_error_) {
    VLOG(1) << "Run the callback at once.";
    DoRunUICallbackAndPostReply(ui_callback, reply_task_runner, reply);
    return;
  }
  VLOG(1) << "Store callback information for later.";
  stored_ui_request_ = base::Bind(&InstallerUIController::DoRunUICallbackAndPostReply, base::Unretained(this),
                                  ui_callback, reply_task_runner, reply);
}

void InstallerUIController::DoRunUICallbackAndPostReply(const UICallback& ui_callback,
                                                         const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                                         const UIReply& reply) {
  PostReply(reply_task_runner, reply, ui_callback.Run(window_ ? window_->main_dialog() : nullptr));
}

void InstallerUIController::DeleteClosedWindow() {
  closed_window_.reset();
}

}  // namespace zorvi::installer
