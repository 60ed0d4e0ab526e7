#include "desktop/launcher/installer/wininet/wininet_session.h"

#include <map>
#include <utility>

#include "base/logging.h"

namespace zorvi::installer {

namespace {

// The sessions that WinINet may still call back for, by context value. Never destroyed: a callback may come
// while the process exits.
struct SessionTable {
  base::Lock lock;
  std::map<DWORD_PTR, base::scoped_refptr<WininetSession>> sessions;  // guarded by lock
  DWORD_PTR last_context = 0;                                         // guarded by lock
};

SessionTable& Table() {
  static SessionTable* const table = new SessionTable;
  return *table;
}

}  // namespace

WininetSession::AutoLock::AutoLock(WininetSession* session) : session_(session) {
  const DWORD self = GetCurrentThreadId();
  if (session_->lock_holder_.load() == self)
    return;
  session_->lock_.Acquire();
  session_->lock_holder_.store(self);
  acquired_ = true;
}

WininetSession::AutoLock::~AutoLock() {
  if (!acquired_)
    return;
  session_->lock_holder_.store(0);
  session_->lock_.Release();
}

base::scoped_refptr<WininetSession> WininetSession::Create(Wininet* downloader, const std::string& post_data) {
  base::scoped_refptr<WininetSession> session(new WininetSession(downloader, post_data));
  SessionTable& table = Table();
  base::AutoLock hold(table.lock);
  session->context_ = ++table.last_context;
  table.sessions[session->context_] = session;
  return session;
}

WininetSession::WininetSession(Wininet* downloader, const std::string& post_data)
    : downloader_(downloader), post_data_(post_data) {}

WininetSession::~WininetSession() = default;

base::scoped_refptr<WininetSession> WininetSession::Find(DWORD_PTR context) {
  SessionTable& table = Table();
  base::AutoLock hold(table.lock);
  auto found = table.sessions.find(context);
  return found == table.sessions.end() ? nullptr : found->second;
}

size_t WininetSession::CountForTesting() {
  SessionTable& table = Table();
  base::AutoLock hold(table.lock);
  return table.sessions.size();
}

void WininetSession::Unregister() {
  base::scoped_refptr<WininetSession> last;  // released after the table's lock
  SessionTable& table = Table();
  base::AutoLock hold(table.lock);
  auto found = table.sessions.find(context_);
  if (found != table.sessions.end()) {
    last = std::move(found->second);
    table.sessions.erase(found);
  }
}

void WininetSession::set_internet(HINTERNET internet) {
  base::AutoLock hold(internet_lock_);
  internet_.Set(internet);
}

HINTERNET WininetSession::internet() {
  base::AutoLock hold(internet_lock_);
  return internet_.Get();
}

void WininetSession::OnHandleCreated() {
  live_handles_.fetch_add(1);
}

void WininetSession::OnHandleClosing(HINTERNET handle) {
  {
    base::AutoLock hold(internet_lock_);
    if (handle == internet_.Get())
      return;
  }
  if (live_handles_.fetch_sub(1) == 1 && cancelled_.load()) {
    handles_closed_.Signal();
    if (given_up_.load())
      Unregister();  // the late confirmation: WinINet is done with the buffers only now
  }
}

void WininetSession::Cancel() {
  {
    AutoLock hold(this);
    downloader_ = nullptr;
    cancelled_.store(true);
  }
  if (live_handles_.load() == 0)
    handles_closed_.Signal();
}

void WininetSession::AcknowledgeCancel() {
  if (!acknowledged_.exchange(true))
    VLOG(1) << "Wininet request cancelled. unregistering the callback.";
}

void WininetSession::Terminate(base::TimeDelta bound) {
  bool confirmed = handles_closed_.TimedWait(bound);
  if (!confirmed) {
    given_up_.store(true);
    // A confirmation between the wait and the line above saw no give-up: this check sees it instead.
    confirmed = live_handles_.load() == 0;
  }
  if (!confirmed)
    LOG(WARNING) << "WinINET did not close the session's requests in time; keeping their buffers until it does";
  base::win::ScopedInternetHandle internet;
  {
    base::AutoLock hold(internet_lock_);
    internet = std::move(internet_);
  }
  if (internet.IsValid()) {
    InternetSetStatusCallbackW(internet.Get(), nullptr);
    internet.Close();
  }
  if (confirmed)
    Unregister();
}

WininetTerminationThread::WininetTerminationThread(base::scoped_refptr<WininetSession> session,
                                                   base::TimeDelta bound)
    : base::SimpleThread("Wininet Termination"), session_(std::move(session)), bound_(bound) {}

WininetTerminationThread::~WininetTerminationThread() = default;

void WininetTerminationThread::Run() {
  LOG(INFO) << "Waiting for WinINET to finish";
  session_->Terminate(bound_);
  session_ = nullptr;
}

}  // namespace zorvi::installer
