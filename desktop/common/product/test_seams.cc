#include "desktop/common/product/test_seams.h"

#include <atomic>

namespace zorvi::installer {

namespace {

std::atomic<AdminTokenSeam> g_admin_token_seam{AdminTokenSeam::kNone};
// Texts once set are never freed: a reader may still hold the previous one.
std::atomic<const std::string*> g_branding_text{nullptr};
std::atomic<const wchar_t*> g_global_storage_mutex_name{nullptr};
// A copy of the list last set; a replaced copy is kept for the same reason.
std::atomic<const std::vector<std::wstring>*> g_preferred_ui_languages{nullptr};
std::atomic<int64_t> g_download_retry_delay_ms{-1};
std::atomic<int> g_download_maximum_retries{-1};
std::atomic<int64_t> g_download_termination_wait_ms{-1};
std::atomic<int64_t> g_move_back_retry_delay_ms{-1};
std::atomic<HeldFileRetryPauseHook> g_held_file_retry_pause_hook{nullptr};
std::atomic<int64_t> g_backend_exit_grace_ms{-1};
std::atomic<LaunchRefusalHook> g_launch_refusal_hook{nullptr};
std::atomic<OpenWithDialogHook> g_open_with_dialog_hook{nullptr};
std::atomic<GraceWaitHook> g_grace_wait_hook{nullptr};
std::atomic<TaskbarPinHook> g_taskbar_pin_hook{nullptr};
std::atomic<StepReportedHook> g_step_reported_hook{nullptr};
std::atomic<DetachedStartHook> g_detached_start_hook{nullptr};
std::atomic<ElevatedLaunchHook> g_elevated_launch_hook{nullptr};
std::atomic<bool> g_folder_grant_refused{false};
std::atomic<const wchar_t*> g_run_user_stand_in{nullptr};
std::atomic<PackageFileUseHook> g_package_file_use_hook{nullptr};
std::atomic<CheckedPathUseHook> g_checked_path_use_hook{nullptr};
std::atomic<WindowShownHook> g_window_shown_hook{nullptr};

}  // namespace

void SetAdminTokenSeamForTesting(AdminTokenSeam seam) {
  g_admin_token_seam.store(seam, std::memory_order_relaxed);
}

AdminTokenSeam GetAdminTokenSeam() {
  return g_admin_token_seam.load(std::memory_order_relaxed);
}

void SetBrandingTextForTesting(const std::string& text) {
  g_branding_text.store(new std::string(text), std::memory_order_release);
}

const std::string* GetBrandingTextSeam() {
  return g_branding_text.load(std::memory_order_acquire);
}

void SetGlobalStorageMutexNameForTesting(const wchar_t* name) {
  g_global_storage_mutex_name.store(name ? (new std::wstring(name))->c_str() : nullptr, std::memory_order_release);
}

const wchar_t* GetGlobalStorageMutexNameSeam() {
  return g_global_storage_mutex_name.load(std::memory_order_acquire);
}

void SetPreferredUiLanguagesForTesting(const std::vector<std::wstring>* languages) {
  g_preferred_ui_languages.store(languages ? new std::vector<std::wstring>(*languages) : nullptr,
                                 std::memory_order_release);
}

const std::vector<std::wstring>* GetPreferredUiLanguagesSeam() {
  return g_preferred_ui_languages.load(std::memory_order_acquire);
}

void SetDownloadRetryDelayForTesting(int64_t milliseconds) {
  g_download_retry_delay_ms.store(milliseconds, std::memory_order_relaxed);
}

int64_t GetDownloadRetryDelaySeam() {
  return g_download_retry_delay_ms.load(std::memory_order_relaxed);
}

void SetDownloadMaximumRetriesForTesting(int maximum) {
  g_download_maximum_retries.store(maximum, std::memory_order_relaxed);
}

int GetDownloadMaximumRetriesSeam() {
  return g_download_maximum_retries.load(std::memory_order_relaxed);
}

void SetDownloadTerminationWaitForTesting(int64_t milliseconds) {
  g_download_termination_wait_ms.store(milliseconds, std::memory_order_relaxed);
}

int64_t GetDownloadTerminationWaitSeam() {
  return g_download_termination_wait_ms.load(std::memory_order_relaxed);
}

void SetBackendExitGraceForTesting(int64_t milliseconds) {
  g_backend_exit_grace_ms.store(milliseconds, std::memory_order_relaxed);
}

int64_t GetBackendExitGraceSeam() {
  return g_backend_exit_grace_ms.load(std::memory_order_relaxed);
}

void SetMoveBackRetryDelayForTesting(int64_t milliseconds) {
  g_move_back_retry_delay_ms.store(milliseconds, std::memory_order_relaxed);
}

int64_t GetMoveBackRetryDelaySeam() {
  return g_move_back_retry_delay_ms.load(std::memory_order_relaxed);
}

void SetHeldFileRetryPauseHookForTesting(HeldFileRetryPauseHook hook) {
  g_held_file_retry_pause_hook.store(hook, std::memory_order_relaxed);
}

HeldFileRetryPauseHook GetHeldFileRetryPauseHook() {
  return g_held_file_retry_pause_hook.load(std::memory_order_relaxed);
}

void SetLaunchRefusalHookForTesting(LaunchRefusalHook hook) {
  g_launch_refusal_hook.store(hook, std::memory_order_relaxed);
}

LaunchRefusalHook GetLaunchRefusalHook() {
  return g_launch_refusal_hook.load(std::memory_order_relaxed);
}

void SetOpenWithDialogHookForTesting(OpenWithDialogHook hook) {
  g_open_with_dialog_hook.store(hook, std::memory_order_relaxed);
}

OpenWithDialogHook GetOpenWithDialogHook() {
  return g_open_with_dialog_hook.load(std::memory_order_relaxed);
}

void SetFolderPermissionGraceHookForTesting(GraceWaitHook hook) {
  g_grace_wait_hook.store(hook, std::memory_order_relaxed);
}

GraceWaitHook GetFolderPermissionGraceHook() {
  return g_grace_wait_hook.load(std::memory_order_relaxed);
}

void SetTaskbarPinHookForTesting(TaskbarPinHook hook) {
  g_taskbar_pin_hook.store(hook, std::memory_order_relaxed);
}

TaskbarPinHook GetTaskbarPinHook() {
  return g_taskbar_pin_hook.load(std::memory_order_relaxed);
}

void SetStepReportedHookForTesting(StepReportedHook hook) {
  g_step_reported_hook.store(hook, std::memory_order_relaxed);
}

StepReportedHook GetStepReportedHook() {
  return g_step_reported_hook.load(std::memory_order_relaxed);
}

void SetDetachedStartHookForTesting(DetachedStartHook hook) {
  g_detached_start_hook.store(hook, std::memory_order_relaxed);
}

DetachedStartHook GetDetachedStartHook() {
  return g_detached_start_hook.load(std::memory_order_relaxed);
}

void SetElevatedLaunchHookForTesting(ElevatedLaunchHook hook) {
  g_elevated_launch_hook.store(hook, std::memory_order_relaxed);
}

ElevatedLaunchHook GetElevatedLaunchHook() {
  return g_elevated_launch_hook.load(std::memory_order_relaxed);
}

void SetFolderGrantRefusedForTesting(bool refused) {
  g_folder_grant_refused.store(refused, std::memory_order_relaxed);
}

bool GetFolderGrantRefusedSeam() {
  return g_folder_grant_refused.load(std::memory_order_relaxed);
}

void SetRunUserStandInForTesting(const wchar_t* account) {
  g_run_user_stand_in.store(account ? (new std::wstring(account))->c_str() : nullptr, std::memory_order_release);
}

const wchar_t* GetRunUserStandInSeam() {
  return g_run_user_stand_in.load(std::memory_order_acquire);
}

void SetPackageFileUseHookForTesting(PackageFileUseHook hook) {
  g_package_file_use_hook.store(hook, std::memory_order_relaxed);
}

PackageFileUseHook GetPackageFileUseHook() {
  return g_package_file_use_hook.load(std::memory_order_relaxed);
}

void SetCheckedPathUseHookForTesting(CheckedPathUseHook hook) {
  g_checked_path_use_hook.store(hook, std::memory_order_relaxed);
}

CheckedPathUseHook GetCheckedPathUseHook() {
  return g_checked_path_use_hook.load(std::memory_order_relaxed);
}

void SetWindowShownHookForTesting(WindowShownHook hook) {
  g_window_shown_hook.store(hook, std::memory_order_relaxed);
}

WindowShownHook GetWindowShownHook() {
  return g_window_shown_hook.load(std::memory_order_relaxed);
}

}  // namespace zorvi::installer
