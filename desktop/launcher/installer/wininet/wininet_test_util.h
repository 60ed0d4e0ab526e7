// A harness for the downloader tests: a downloader on an owner thread with a message loop, as the package
// fetcher's worker holds it, with a delegate and a UI runner that record what they are told, and the test data
// (the served files and their SHA-256 from sha256sum).
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_TEST_UTIL_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/synchronization/waitable_event.h"
#include "base/threading/thread.h"
#include "base/values.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"
#include "desktop/launcher/installer/wininet/wininet.h"

namespace zorvi::installer::wininet_test {

// Only a hang reaches this bound.
constexpr DWORD kHangBoundMs = 120000;

// The Windows path of a served file, or of the test data folder itself for "".
std::wstring DataPath(const std::wstring& relative);
std::wstring ServedFolder();
// The SHA-256 of a served file as sha256sum gave it; a missing entry fails the test.
std::string ServedSha256(const std::string& name);
// The SHA-256 of `bytes` in lower-case hex.
std::string Sha256Of(const std::string& bytes);
// A file for a download below the test data's out folder; testdata_check.sh compares it with `source` (a
// served file) when given.
std::wstring OutputPath(const std::wstring& name, const std::string& source = "");

// Records the downloader's notifications; called from any thread.
class RecordingDelegate : public PackageFetcherDelegate {
 public:
  void SetTotalProgress(int total) override;
  void SetCurrentProgress(int value) override;
  void NotifyStalled() override;
  void NotifyStatusChanged(int) override {}
  void NotifyTrackingDataObtained(const std::string&) override {}

  // Signals progress_reached() once the received count reaches `bytes`.
  void WatchProgress(int bytes);
  base::WaitableEvent& progress_reached() { return progress_reached_; }

  // What it was told so far.
  struct Seen {
    std::vector<int> totals;
    int last_progress = 0;
    int progress_calls = 0;
    int stalls = 0;
    int off_owner_thread = 0;  // progress calls that did not come on the owner's thread
  };
  Seen seen() const;
  void set_owner_thread(DWORD id);

 private:
  mutable std::mutex lock_;
  Seen seen_;
  int watched_ = -1;
  DWORD owner_thread_ = 0;
  base::WaitableEvent progress_reached_{true, false};
};

// Answers the proxy-credential prompt with a preset result, as a controller that cannot show a dialog does.
class RecordingUIRunner : public UICallbackRunner {
 public:
  void set_reply(uint32_t reply);
  int calls() const;
  // The UI callback of the last call, never run by this runner.
  UICallback last_callback() const;
  // The thread the last call came on.
  base::PlatformThreadId last_caller() const;

  void RunUICallbackAndPostReply(const UICallback& ui_callback,
                                 const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                 const UIReply& reply) override;

 private:
  mutable std::mutex lock_;
  uint32_t reply_ = 0;
  int calls_ = 0;
  UICallback last_callback_;
  base::PlatformThreadId last_caller_ = 0;
};

// One statistics tree, as the statistics sender owns it.
class StatsTree {
 public:
  StatsTree();
  InstallerStats* root() { return &view_; }
  // A copy of the tree, taken under its lock.
  std::unique_ptr<base::DictionaryValue> Snapshot();

 private:
  StatsTreeGuard guard_;
  base::DictionaryValue tree_;
  InstallerStats view_;
};

// A downloader living on its own owner thread.
class DownloaderHarness {
 public:
  DownloaderHarness();
  ~DownloaderHarness();

  // Runs `task` with the downloader on the owner thread and waits for it.
  void RunOnOwner(const std::function<void(Wininet*)>& task);

  // Starts a download on the owner thread; false when StartDownload refused it.
  bool Start(const std::wstring& url, const std::string& post_data, std::unique_ptr<WininetResponseWriter> writer,
             std::unique_ptr<WininetObserver> observer);
  // Waits for the next completion callback; false when none came within the bound.
  bool WaitForCompletion();
  // Start, then wait; the downloader's state when its completion callback ran, or -1 when it did not start or
  // did not end.
  int Download(const std::wstring& url, const std::string& post_data, std::unique_ptr<WininetResponseWriter> writer,
               std::unique_ptr<WininetObserver> observer);
  // Destroys the downloader on its thread (waiting for its sessions to close) and runs what the owner thread
  // still has queued.
  void DestroyDownloader();

  int completions() const;
  // The states the downloader had when its completion callbacks ran, in order.
  std::vector<int> completion_states() const;
  RecordingDelegate& delegate() { return delegate_; }
  RecordingUIRunner& ui_runner() { return ui_runner_; }
  base::PlatformThreadId owner_thread() const { return owner_.GetThreadId(); }

 private:
  void OnDone();

  RecordingDelegate delegate_;
  RecordingUIRunner ui_runner_;
  base::Thread owner_{"Downloader owner"};
  std::unique_ptr<Wininet> wininet_;
  mutable std::mutex lock_;
  std::vector<int> completion_states_;
  base::WaitableEvent completed_{false, false};
};

}  // namespace zorvi::installer::wininet_test

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_TEST_UTIL_H_
