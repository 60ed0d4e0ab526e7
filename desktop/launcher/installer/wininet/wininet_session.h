// One WinINet session of the downloader (one per download), and what outlives the downloader's interest in
// it: WinINet's threads may still call back, read the request body or write a finished read into the buffer
// after the downloader has closed the session, stopped or been destroyed.
//
// So the handles carry a session number as their context instead of a pointer. A callback looks its session
// up in a process-wide table and holds a reference while it runs; a callback for a session that is gone finds
// nothing. A session leaves the table only once WinINet has reported every handle of it closed (after which it
// touches none of its buffers), or never, when that report does not come in time.
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_SESSION_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_SESSION_H_

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "base/memory/ref_counted.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/simple_thread.h"
#include "base/time/time.h"
#include "base/win/scoped_internet_handle.h"

namespace zorvi::installer {

class Wininet;

class WininetSession : public base::RefCountedThreadSafe<WininetSession> {
 public:
  // Each InternetReadFile costs wine a pass through its locks and status callbacks whatever it copies: at 1 KiB a
  // call a 100 MiB package took ten times as long as the same GET read 64 KiB a call.
  static constexpr uint32_t kReadBufferSize = 64 * 1024;

  // Holds the session's lock, which a status callback holds while it works on the downloader and the owner
  // thread holds while it changes what callbacks read. The holding thread passes through again: WinINet calls
  // back synchronously from inside calls that a callback makes (a read, closing a handle).
  class AutoLock {
   public:
    explicit AutoLock(WininetSession* session);
    ~AutoLock();
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

   private:
    WininetSession* const session_;
    bool acquired_ = false;
  };

  // A session for `downloader`, registered in the table under a new, non-zero context value.
  static base::scoped_refptr<WininetSession> Create(Wininet* downloader, const std::string& post_data);
  WininetSession(const WininetSession&) = delete;
  WininetSession& operator=(const WininetSession&) = delete;

  // The session whose handles carry `context`, or null when it is gone.
  static base::scoped_refptr<WininetSession> Find(DWORD_PTR context);
  // How many sessions the table holds (for tests of their release).
  static size_t CountForTesting();

  DWORD_PTR context() const { return context_; }

  // The session handle, given once it is open; closed by Terminate, or when the session goes.
  void set_internet(HINTERNET internet);
  // Null once Terminate closed it.
  HINTERNET internet();
  // A connection or request handle of the session was made; its closing is reported by OnHandleClosing.
  void OnHandleCreated();
  // WinINet's last callback for `handle`.
  void OnHandleClosing(HINTERNET handle);
  // Whether WinINet may still call back for a connection or request handle of the session.
  bool has_live_handles() const { return live_handles_.load() > 0; }

  // The downloader lets go of the session: no callback touches the downloader any more. Takes the lock.
  void Cancel();
  bool cancelled() const { return cancelled_.load(); }
  // Called by a status callback that finds the session cancelled; logs the first time. The status callback
  // stays registered until the session handle is closed: the closing of the connection and request handles,
  // which says that WinINet is done with the buffers, reaches the session through it.
  void AcknowledgeCancel();

  // On the termination thread: waits at most `bound` for WinINet to close every handle of the session, then
  // unregisters the status callback and closes the session handle. When WinINet does not confirm in time (under
  // wine a read pending on a stalled connection outlives its closed handle), the session stays in the table,
  // since WinINet may still use its buffers, until WinINet reports the last handle closed.
  void Terminate(base::TimeDelta bound);

  // The downloader of the session; null once cancelled. Read with the lock held.
  Wininet* downloader() const { return downloader_; }

  // What WinINet uses asynchronously: the request body and headers, the read buffer, the read count and the
  // count of bytes WinINet said it has.
  const std::string& post_data() const { return post_data_; }
  std::wstring& request_headers() { return request_headers_; }
  char* read_buffer() { return read_buffer_; }
  DWORD* bytes_read() { return &bytes_read_; }
  DWORD* bytes_available() { return &bytes_available_; }

 private:
  friend class base::RefCountedThreadSafe<WininetSession>;
  WininetSession(Wininet* downloader, const std::string& post_data);
  ~WininetSession();

  // Leaves the table.
  void Unregister();

  DWORD_PTR context_ = 0;
  Wininet* downloader_;

  base::Lock lock_;
  std::atomic<DWORD> lock_holder_{0};

  // Sequentially consistent, both: Cancel and the last OnHandleClosing each write one and read the other, so at
  // least one of them sees that the session is finished.
  std::atomic<bool> cancelled_{false};
  std::atomic<int> live_handles_{0};
  // Signalled once the session is cancelled and WinINet has closed all its connection and request handles.
  base::WaitableEvent handles_closed_{true, false};

  base::Lock internet_lock_;
  base::win::ScopedInternetHandle internet_;  // guarded by internet_lock_
  std::atomic<bool> acknowledged_{false};
  std::atomic<bool> given_up_{false};  // Terminate stopped waiting before WinINet confirmed

  const std::string post_data_;
  std::wstring request_headers_;
  char read_buffer_[kReadBufferSize] = {};
  DWORD bytes_read_ = 0;
  DWORD bytes_available_ = 0;
};

// Closes a cancelled session off the owner's thread, so that waiting for WinINet never blocks it.
class WininetTerminationThread : public base::SimpleThread {
 public:
  WininetTerminationThread(base::scoped_refptr<WininetSession> session, base::TimeDelta bound);
  ~WininetTerminationThread() override;

  void Run() override;

 private:
  base::scoped_refptr<WininetSession> session_;
  const base::TimeDelta bound_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_WININET_SESSION_H_
