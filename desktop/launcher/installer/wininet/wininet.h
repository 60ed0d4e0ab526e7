// The downloader: fetches one URL at a time over HTTP or HTTPS with WinINet's asynchronous interface, streams
// the body into a WininetResponseWriter and reports to a WininetObserver. It retries after connectivity
// failures and server errors, resumes a broken transfer with a range request from the bytes already received,
// asks the user for proxy credentials through the controller, and refuses hosts outside an allow-list, also on
// redirects: it follows them itself, each new address checked before anything is sent to it.
//
// The owner calls it on one thread whose task runner receives every hand-back (the package fetcher's worker,
// the overrides fetcher's and the statistics sender's main thread). WinINet's status callbacks run on
// WinINet's threads and post what must run on the owner's thread.
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_H_

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/single_thread_task_runner.h"
#include "base/time/time.h"
#include "base/win/scoped_internet_handle.h"
#include "desktop/launcher/installer/wininet/wininet_observer.h"
#include "desktop/launcher/installer/wininet/wininet_response_writer.h"

namespace zorvi::installer {

class PackageFetcherDelegate;
class UICallbackRunner;
class WininetSession;
class WininetTerminationThread;

class Wininet {
 public:
  // The owner reads the state in its completion callback: kCompleted is success, anything else failure.
  enum State : int {
    kIdle = 0,
    kRequesting = 1,  // a request was sent; its completion carries the response's head
    kReceiving = 2,   // the response was accepted; completions carry body data
    kStopped = 3,
    kFailed = 4,
    kCompleted = 5,
  };

  static constexpr int kDefaultMaximumRetries = 600;
  static constexpr base::TimeDelta kRetryDelay = base::TimeDelta::FromMicroseconds(6000 * 1000);
  // How long a closed session may take to close its requests before its buffers are given up on.
  static constexpr base::TimeDelta kTerminationWait = base::TimeDelta::FromMicroseconds(5000 * 1000);
  // Redirects followed from one request for the download's address; one more fails the download.
  static constexpr int kMaximumRedirects = 10;
  // The delegate hears of the received count once it has grown by a step since it last heard, and at the end of
  // each body: a step is a kProgressUpdates-th of the expected size, and at least kProgressStep.
  static constexpr uint32_t kProgressStep = 64 * 1024;
  static constexpr uint32_t kProgressUpdates = 256;

  // The runner is required; the delegate, told of progress and stalls, may be null. Neither is owned.
  Wininet(UICallbackRunner* ui_callback_runner, PackageFetcherDelegate* delegate);
  Wininet(const Wininet&) = delete;
  Wininet& operator=(const Wininet&) = delete;
  ~Wininet();

  // Starts downloading `url`: a GET when `post_data` is empty, else a POST of it. Owns `writer` and
  // `observer` (both required) from here on, whatever the result. On true, `on_done` runs exactly once on this
  // thread when the download has ended, unless Stop comes first; on false it never runs and the caller
  // reports the failure itself. The previous download must have ended.
  bool StartDownload(const std::wstring& url, const std::string& post_data, base::Closure on_done,
                     std::unique_ptr<WininetResponseWriter> writer, std::unique_ptr<WininetObserver> observer);
  // Ends the running download without running its completion callback.
  void Stop();

  State state() const { return state_.load(); }
  // Host suffixes that may be contacted, also through redirects; empty allows every host. Set before
  // StartDownload.
  void set_allowed_hosts(const std::vector<std::wstring>& hosts) { allowed_hosts_ = hosts; }
  // Retries, while the count of retries that gained nothing is at most this (so 0 still retries once).
  void set_maximum_retries(int maximum) { maximum_retries_ = maximum; }
  int maximum_retries() const { return maximum_retries_; }
  // The retries of the last download that gained nothing; 0 once a download completed. Read after the end.
  int retry_count() const { return retry_count_; }

  // Whether `host` ends with one of the entries of `allowed` (compared exactly, from the end); an empty entry
  // or an empty list allows every host.
  static bool IsHostAllowed(const std::wstring& host, const std::vector<std::wstring>& allowed);

 private:
  struct UrlParts {
    std::wstring url;  // as parsed
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;
  };
  static bool ParseUrl(const std::wstring& url, UrlParts* parts);

  // WinINet's status callback; finds the session that `context` names.
  static void CALLBACK InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                              DWORD info_length);

  // On WinINet's threads, with the session's lock held.
  void OnStatus(WininetSession* session, HINTERNET handle, DWORD status, void* info, DWORD info_length);
  // A redirect answer of the current request: the next request is sent only to an address that passes the
  // checks.
  void OnRedirect(WininetSession* session, DWORD status, const std::wstring& location);
  void OnRequestComplete(WininetSession* session, DWORD error);
  bool HandleInitialCompletion(WininetSession* session);
  void HandleCompletionInProgress(WininetSession* session);
  // A body ended short of its length, or the connection broke while reading: resumes at once when the request
  // gained bytes, else counts a retry.
  void ResumeAfterBrokenBody(WininetSession* session);
  // With the lock held, on any thread.
  void CheckRetriesAndResume(WininetSession* session);
  // Drops the body received so far, for an answer that brings it from its start; false, and the download
  // failed, when the writer cannot start over.
  bool StartBodyOver(WininetSession* session);
  // Tells the delegate the expected size on the owner's thread.
  void PostTotalProgress(const WininetSession* session);
  // Tells the delegate the received count on the owner's thread, at steps and at the end of a body.
  void PostProgress(const WininetSession* session, bool body_ended);

  // On the owner's thread.
  // Ends a StartDownload that sends nothing: false, and the writer closed.
  bool RefuseStart();
  // Makes the connection handle one to `target`'s host and port, reusing the open one when it is.
  bool ConnectTo(const UrlParts& target);
  // Sends a request for `target` on the connection, with the body (a POST) or without (a GET).
  bool OpenRequest(const UrlParts& target, bool send_body, const std::wstring& headers);
  void FollowRedirect(DWORD_PTR session_context, const std::wstring& url, bool send_body);
  void ResumeDownload(DWORD_PTR session_context);
  // The controller's interface is asked from here: its runners expect their own or the owner's thread, never one
  // of WinINet's, and the session's lock is not held while a dialog is up.
  void AskForProxyCredentials(DWORD_PTR session_context);
  void OnProxyCredentials(DWORD_PTR session_context, uint32_t result);
  void Fail(DWORD_PTR session_context);
  void Complete(DWORD_PTR session_context);
  void NotifyTotalProgress(DWORD_PTR session_context, uint32_t total);
  void NotifyCurrentProgress(DWORD_PTR session_context);
  void CloseSession();
  void SetState(State state);
  // Whether `session_context` names the open session: tasks posted for a session that has ended are dropped.
  bool IsCurrentSession(DWORD_PTR session_context) const;
  // Runs the completion callback once, last: it may start the next download.
  void RunCompletionCallback();

  // From any thread: posts `method` for the session to the owner's thread, dropped once this is destroyed.
  void PostToOwner(const WininetSession* session, void (Wininet::*method)(DWORD_PTR),
                   base::TimeDelta delay = base::TimeDelta());
  void PostFail(const WininetSession* session) { PostToOwner(session, &Wininet::Fail); }

  UICallbackRunner* const ui_callback_runner_;
  PackageFetcherDelegate* const delegate_;

  std::atomic<State> state_{kIdle};
  UrlParts url_;  // of the current download, asked again by each resume
  std::vector<std::wstring> allowed_hosts_;
  int maximum_retries_;
  base::Closure on_done_;
  base::scoped_refptr<base::SingleThreadTaskRunner> owner_task_runner_;
  std::unique_ptr<WininetTerminationThread> termination_thread_;

  // The open session, null between downloads. Replaced only on the owner's thread.
  base::scoped_refptr<WininetSession> session_;

  // Shared with the session's status callbacks: changed under the session's lock once a session is open. The
  // owner's thread closes them outside that lock, after taking them out under it; the request before the
  // connection.
  base::win::ScopedInternetHandle connection_;
  UrlParts connected_;  // the address `connection_` leads to
  base::win::ScopedInternetHandle request_;
  UrlParts request_url_;     // the address `request_` asked for
  bool request_has_body_ = false;
  int redirects_ = 0;  // followed since the download's own address was last asked
  std::unique_ptr<WininetResponseWriter> writer_;
  std::unique_ptr<WininetObserver> observer_;
  uint32_t expected_size_ = 0;
  uint32_t total_reported_ = 0;  // the expected size the delegate was last told
  uint32_t received_ = 0;
  // The most bytes held at once during this download: a body started over moves the download on only past it.
  uint32_t received_most_ = 0;
  uint32_t most_at_request_ = 0;  // `received_most_` when the current request was sent
  // `received_` when the current request was sent, or 0 once its answer started the body over: a body continued
  // moves the download on with any byte, one started over only past `received_most_`.
  uint32_t received_at_request_ = 0;
  int retry_count_ = 0;
  // The retries since `received_most_` last grew of answers that brought the body from its start and left it
  // short of that. Bytes short of it make up for other retries but not for these, or a server that restarts the
  // body and continues it by turns would be asked forever.
  int start_over_retries_ = 0;
  bool question_pending_ = false;  // the available bytes were asked for, and the answer comes as a completion
  uint32_t progress_reported_ = 0;  // `received_` when the delegate was last told
  // The received count for the delegate, and whether a notification of it is queued.
  std::atomic<uint32_t> progress_received_{0};
  std::atomic<bool> progress_posted_{false};

  // Copied by WinINet's threads into the tasks they post; made on construction, since a factory hands out
  // pointers only on the owner's thread.
  base::WeakPtr<Wininet> weak_this_;
  base::WeakPtrFactory<Wininet> weak_factory_{this};
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_H_
