// The crash reporter's end of the crash pipe. It registers crash clients one connection at a time, hands each
// the kernel objects of the crash-time handshake, and then watches every client's dump-request event and process
// on the system thread pool: it has no thread of its own. On a dump request it copies the client's custom
// information out of the client and hands the client to its owner (and, when asked to, writes the client's
// minidump itself first). That capture runs on a pool worker of its own, so that it holds up neither the pipe
// nor the other clients' requests: captures of different clients may run at the same time.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_DUMP_SERVER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_DUMP_SERVER_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_registered_wait.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {

class CrashDumpServer;

// One registered client. The addresses lie in the client's address space, where the client keeps its crash
// facts for the reporter to read.
class CrashClientRecord {
 public:
  // A client announcing more entries than this is registered, but its custom information is never copied.
  static constexpr uint64_t kMaxCustomInfoEntries = 4096;

  CrashClientRecord(CrashDumpServer* server, const CrashPipeMessage& request);
  ~CrashClientRecord();
  CrashClientRecord(const CrashClientRecord&) = delete;
  CrashClientRecord& operator=(const CrashClientRecord&) = delete;

  DWORD process_id() const { return process_id_; }
  HANDLE process_handle() const { return process_.Get(); }
  uint32_t dump_type() const { return dump_type_; }
  uint64_t thread_id_address() const { return thread_id_address_; }
  uint64_t exception_pointers_address() const { return exception_pointers_address_; }
  uint64_t assertion_address() const { return assertion_address_; }

  // The copy made at the latest dump request: the client's entries and a last one, "ptime", holding the
  // client's up-time in milliseconds. {null, 0} before the first request and when the client announced more
  // than kMaxCustomInfoEntries.
  CrashCustomClientInfo GetCustomInfo() const;

 private:
  friend class CrashDumpServer;

  // Opens the client and makes its events; false when any of it fails.
  bool Initialize();
  // Returns once no capture of this client runs or is queued. Only after the dump-request wait is gone: no
  // capture can start after that.
  void WaitForCaptureEnd() const;
  // Copies the client's entries (count + 1 on the first call) and writes the up-time into "ptime". A short
  // read leaves what did not arrive as it was.
  void PrefetchCustomInfo();

  CrashDumpServer* const server_;
  const DWORD process_id_;
  const uint32_t dump_type_;
  const uint64_t thread_id_address_;
  const uint64_t exception_pointers_address_;
  const uint64_t assertion_address_;
  const uint64_t custom_info_entries_address_;
  const uint64_t custom_info_count_;
  std::unique_ptr<CrashCustomInfoEntry[]> custom_info_copy_;
  uint64_t start_time_ = 0;  // FILETIME units: the process's creation, else when the record was made

  base::win::ScopedHandle process_;
  base::win::ScopedHandle dump_request_event_;
  base::win::ScopedHandle dump_done_event_;
  // One capture of the client at a time: set from the moment a request is taken until its capture has ended (just
  // before the client is released). A request that comes meanwhile is answered by that capture's end.
  std::atomic<bool> capture_running_{false};
  // Manual reset, set while no capture worker of the client is queued or running; a worker sets it as its very
  // last use of the record, so that the record may go once it is set.
  base::win::ScopedHandle capture_idle_event_;
  // Thread-pool waits; empty once unregistered. Whoever unregisters one takes it out under the server's lock
  // first, so that no wait is unregistered twice.
  base::win::ScopedRegisteredWait dump_request_wait_;
  base::win::ScopedRegisteredWait process_wait_;
};

// What the owner is told, each with its own context value; any may be null. Only the connect callback runs
// under the server's lock.
struct CrashDumpServerCallbacks {
  using ClientCallback = void (*)(void* context, const CrashClientRecord* client);
  // `dump_path` is null unless the server wrote the dump itself.
  using DumpCallback = void (*)(void* context, const CrashClientRecord* client, const std::wstring* dump_path);
  using UploadCallback = void (*)(void* context, DWORD process_id);

  ClientCallback connect = nullptr;  // a client completed its registration
  void* connect_context = nullptr;
  // A client asks for its crash to be captured; it waits until this returns. Runs on a pool worker, at the same
  // time as other clients' dump callbacks (never two of one client).
  DumpCallback dump = nullptr;
  void* dump_context = nullptr;
  ClientCallback exited = nullptr;  // a registered client's process ended
  void* exited_context = nullptr;
  UploadCallback upload = nullptr;  // a process asked for an upload
  void* upload_context = nullptr;
};

class CrashDumpServer {
 public:
  // States of the pipe.
  enum State : int {
    kUninitialized = 0,
    kError = 1,  // the pipe is given up; registered clients are still served
    kInitial = 2,
    kConnecting = 3,
    kConnected = 4,
    kReading = 5,
    kReadDone = 6,
    kWriting = 7,
    kWriteDone = 8,
    kReadingAck = 9,
    kDisconnecting = 10,
  };

  // `security_attributes` (may be null) must outlive Start. With `generate_dumps` the server writes each
  // client's minidump into `dump_folder` before calling the dump callback, and calls it only when that worked.
  CrashDumpServer(const std::wstring& pipe_name, SECURITY_ATTRIBUTES* security_attributes,
                  const CrashDumpServerCallbacks& callbacks, bool generate_dumps, const std::wstring& dump_folder);
  // Stops the pipe, waits for every running step, callback and capture, and releases the server-alive mutex, which
  // ends every registered client's dump wait at once. Must run on the thread that called Start (the mutex's owner).
  ~CrashDumpServer();
  CrashDumpServer(const CrashDumpServer&) = delete;
  CrashDumpServer& operator=(const CrashDumpServer&) = delete;

  // Creates the pipe and starts accepting clients; false when it was started before or any step failed.
  bool Start();

  State state() const { return state_; }

  // Called by each client's exit step once it has destroyed the client's record, before the destructor may go on.
  static void SetExitStepEndHookForTesting(void (*hook)());
  // Called by a registration once the wait for its client's exit is registered, before it is stored in the record.
  static void SetProcessWaitRegisteredHookForTesting(void (*hook)(HANDLE client_process));
  // Called by every pipe step at its start, with the state it is about to handle.
  static void SetPipeStepHookForTesting(void (*hook)(int state));
  // Called by the destructor once no pipe step may start anything new.
  static void SetDestructionStartHookForTesting(void (*hook)());
  // Called by every dump-request step once it has taken the request, with whether a capture is to be queued for
  // it (before that happens) or the request is left to the client's capture that is running.
  static void SetDumpRequestTakenHookForTesting(void (*hook)(bool capture_queued));

 private:
  static void CALLBACK OnPipeEvent(void* context, BOOLEAN timed_out);
  // Runs in the wait thread: takes the client's request and queues its capture, unless one is running.
  static void CALLBACK OnDumpRequest(void* context, BOOLEAN timed_out);
  // A pool worker's capture of one client, which then releases the client.
  static DWORD CALLBACK RunCapture(void* context);
  static void CALLBACK OnClientExited(void* context, BOOLEAN timed_out);

  // One step of the pipe's state machine; steps never overlap (they run in the pipe wait's thread).
  void HandlePipeEvent();
  void HandleError();
  void HandleInitial();
  void HandleConnecting();
  void HandleConnected();
  void HandleReading();
  void HandleReadDone();
  void HandleWriting();
  void HandleWriteDone();
  void HandleReadingAck();
  void HandleDisconnecting();
  // Notes whether the overlapped call that returned `result` started (the last error unchanged) and says so.
  bool Started(BOOL result);
  // Runs the next step; a failure to do so gives the pipe up.
  void Signal();
  void SetStateAndSignal(State state);

  // True when the connection's client process is the one the request names: anyone on the machine may write
  // a request, and the reporter opens the named process with full access.
  bool RequestComesFromItsProcess(const CrashPipeMessage& request) const;
  // Hands the client its objects, sends the reply and starts watching the client; on failure nothing of it
  // stays behind, in the client or here.
  bool AnswerRegistration(std::unique_ptr<CrashClientRecord> client);
  bool RegisterClientWaits(CrashClientRecord* client);
  // Takes the record out of the list; null when it is not there.
  std::unique_ptr<CrashClientRecord> RemoveClientLocked(const CrashClientRecord* client);

  void HandleDumpRequest(CrashClientRecord* client);
  bool WriteDumpFor(const CrashClientRecord& client, std::wstring* dump_path);
  void HandleClientExited(CrashClientRecord* client);

  // Takes a wait out of its slot under the lock; empty when another party took it first.
  base::win::ScopedRegisteredWait TakeWait(base::win::ScopedRegisteredWait* slot);
  friend class CrashClientRecord;

  base::Lock lock_;  // guards clients_, shutting_down_, the wait slots and the connect callback's lookup
  std::vector<std::unique_ptr<CrashClientRecord>> clients_;
  // Exit steps that took their record off the list and are still destroying it, which reaches this server: the
  // destructor waits until none is left. Guarded by the lock.
  int exit_steps_running_ = 0;
  base::ConditionVariable exit_steps_done_{&lock_};
  // Set under the lock; the pipe steps also read it without.
  std::atomic<bool> shutting_down_{false};

  const std::wstring pipe_name_;
  SECURITY_ATTRIBUTES* const security_attributes_;
  const CrashDumpServerCallbacks callbacks_;
  const bool generate_dumps_;
  const std::wstring dump_folder_;

  base::win::ScopedHandle pipe_;
  base::win::ScopedHandle overlapped_event_;
  base::win::ScopedRegisteredWait pipe_wait_;
  base::win::ScopedHandle server_alive_mutex_;
  std::atomic<State> state_{kUninitialized};
  OVERLAPPED overlapped_ = {};
  // The last overlapped call has a completion to come, or came at once: only then is there an I/O to wait for. A
  // call that fails at once leaves the overlapped's status at pending, with nothing that will ever complete it.
  bool io_started_ = false;
  CrashPipeMessage message_ = {};  // the request read, then the reply written
  CrashClientRecord* client_being_registered_ = nullptr;  // compared, never followed, outside the lock
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_DUMP_SERVER_H_
