#include "desktop/windows/crash_reporter/reporter/crash_dump_server.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <utility>

#include "desktop/windows/crash_reporter/crash_key_names.h"
#include "desktop/windows/crash_reporter/reporter/dump_writer.h"

namespace zorvi {
namespace installer {
namespace {

constexpr DWORD kMessageSize = sizeof(CrashPipeMessage);
// The dump-request step runs in the wait thread, where it only takes the request and queues the capture (which
// may take over a minute) on a worker: the wait thread also serves the pipe and the other clients' requests.
constexpr ULONG kDumpRequestWaitFlags = WT_EXECUTEINWAITTHREAD | WT_EXECUTELONGFUNCTION;
static_assert(kDumpRequestWaitFlags == 0x14 && WT_EXECUTEONLYONCE == 8);
// How long destruction waits for the pipe's steps to notice it: 100 rounds of 10 ms.
constexpr int kStopRounds = 100;
constexpr DWORD kStopRoundMs = 10;

// Set by tests only (SetExitStepEndHookForTesting).
std::atomic<void (*)()> g_exit_step_end_hook{nullptr};
// Set by tests only (SetProcessWaitRegisteredHookForTesting).
std::atomic<void (*)(HANDLE)> g_process_wait_registered_hook{nullptr};
// Set by tests only (SetPipeStepHookForTesting, SetDestructionStartHookForTesting).
std::atomic<void (*)(int)> g_pipe_step_hook{nullptr};
std::atomic<void (*)()> g_destruction_start_hook{nullptr};
// Set by tests only (SetDumpRequestTakenHookForTesting).
std::atomic<void (*)(bool)> g_dump_request_taken_hook{nullptr};

uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeValue(now);
}

// Closes a handle that lives in another process. DuplicateHandle with DUPLICATE_CLOSE_SOURCE and no target is
// refused by some implementations, so the handle is moved into this process and closed here.
void CloseHandleInProcess(HANDLE process, HANDLE handle) {
  HANDLE copy = nullptr;
  if (DuplicateHandle(process, handle, GetCurrentProcess(), &copy, 0, FALSE,
                      DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS)) {
    CloseHandle(copy);
  }
}

uint64_t HandleValue(HANDLE handle) {
  return reinterpret_cast<uintptr_t>(handle);
}

}  // namespace

CrashClientRecord::CrashClientRecord(CrashDumpServer* server, const CrashPipeMessage& request)
    : server_(server),
      process_id_(request.process_id),
      dump_type_(request.dump_type),
      thread_id_address_(request.thread_id_address),
      exception_pointers_address_(request.exception_pointers_address),
      assertion_address_(request.assertion_address),
      custom_info_entries_address_(request.custom_info_entries_address),
      custom_info_count_(request.custom_info_count),
      start_time_(Now()) {}

CrashClientRecord::~CrashClientRecord() {
  server_->TakeWait(&dump_request_wait_).Close();
  WaitForCaptureEnd();
  server_->TakeWait(&process_wait_).Close();
}

bool CrashClientRecord::Initialize() {
  process_.Set(OpenProcess(GENERIC_ALL, FALSE, process_id_));
  if (!process_.IsValid())
    return false;
  FILETIME creation, exit, kernel, user;
  if (GetProcessTimes(process_.Get(), &creation, &exit, &kernel, &user))
    start_time_ = FileTimeValue(creation);
  dump_request_event_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  dump_done_event_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  capture_idle_event_.Set(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  return dump_request_event_.IsValid() && dump_done_event_.IsValid() && capture_idle_event_.IsValid();
}

void CrashClientRecord::WaitForCaptureEnd() const {
  // Without the event no wait was ever registered, so no capture either.
  if (capture_idle_event_.IsValid())
    WaitForSingleObject(capture_idle_event_.Get(), INFINITE);
}

CrashCustomClientInfo CrashClientRecord::GetCustomInfo() const {
  if (!custom_info_copy_)
    return {};
  return {custom_info_copy_.get(), static_cast<size_t>(custom_info_count_ + 1)};
}

void CrashClientRecord::PrefetchCustomInfo() {
  if (custom_info_count_ > kMaxCustomInfoEntries)
    return;
  const size_t count = static_cast<size_t>(custom_info_count_);
  if (!custom_info_copy_) {
    custom_info_copy_.reset(new (std::nothrow) CrashCustomInfoEntry[count + 1]());
    if (!custom_info_copy_)
      return;
    wcscpy(custom_info_copy_[count].name, kCrashKeyPtime);
  }
  // A short read is not worth reporting: the owner reads whatever arrived, and "ptime" is set either way.
  ReadClientMemory(process_.Get(), custom_info_entries_address_, custom_info_copy_.get(),
                   count * sizeof(CrashCustomInfoEntry));
  const uint64_t now = Now();
  const uint64_t up_time_ms = now > start_time_ ? (now - start_time_) / 10000 : 0;
  swprintf(custom_info_copy_[count].value, CrashCustomInfoEntry::kTextLength, L"%llu",
           static_cast<unsigned long long>(up_time_ms));
}

CrashDumpServer::CrashDumpServer(const std::wstring& pipe_name, SECURITY_ATTRIBUTES* security_attributes,
                                 const CrashDumpServerCallbacks& callbacks, bool generate_dumps,
                                 const std::wstring& dump_folder)
    : pipe_name_(pipe_name),
      security_attributes_(security_attributes),
      callbacks_(callbacks),
      generate_dumps_(generate_dumps),
      dump_folder_(dump_folder) {}

CrashDumpServer::~CrashDumpServer() {
  base::win::ScopedRegisteredWait pipe_wait;
  {
    base::AutoLock lock(lock_);
    shutting_down_ = true;
    pipe_wait = std::move(pipe_wait_);
  }
  if (void (*hook)() = g_destruction_start_hook.load(std::memory_order_acquire))
    hook();
  // Without the wait, the pipe steps never ran or an error step has closed the pipe and its event already.
  if (pipe_wait.IsValid()) {
    DisconnectNamedPipe(pipe_.Get());
    // The next step gives the pipe up; a step that is running now may reset the event, hence the rounds.
    for (int round = 0; round < kStopRounds && state_ != kError; ++round) {
      SetEvent(overlapped_event_.Get());
      Sleep(kStopRoundMs);
    }
    pipe_wait.Close();
    if (io_started_ && !HasOverlappedIoCompleted(&overlapped_)) {
      // The I/O writes into this object: let it end before the object does.
      DWORD transferred = 0;
      CancelIoEx(pipe_.Get(), &overlapped_);
      GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, TRUE);
    }
  }
  pipe_.Close();

  // No registration runs any more (it is a pipe step); exit steps leave their records to us from now on.
  std::vector<std::unique_ptr<CrashClientRecord>> clients;
  {
    base::AutoLock lock(lock_);
    clients.swap(clients_);
  }
  clients.clear();  // each waits for its own running callbacks and capture
  // Exit steps whose records had left the list before: they still use this object until they end.
  {
    base::AutoLock lock(lock_);
    while (exit_steps_running_ > 0)
      exit_steps_done_.Wait();
  }
  if (server_alive_mutex_.IsValid())
    ReleaseMutex(server_alive_mutex_.Get());
  server_alive_mutex_.Close();
  overlapped_event_.Close();
}

bool CrashDumpServer::Start() {
  State expected = kUninitialized;
  if (!state_.compare_exchange_strong(expected, kInitial))
    return false;
  server_alive_mutex_.Set(CreateMutexW(nullptr, TRUE, nullptr));
  if (!server_alive_mutex_.IsValid())
    return false;
  overlapped_event_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!overlapped_event_.IsValid())
    return false;
  overlapped_.hEvent = overlapped_event_.Get();
  base::win::ScopedRegisteredWait wait;
  if (!wait.Register(overlapped_event_.Get(), &OnPipeEvent, this, INFINITE, WT_EXECUTEINWAITTHREAD))
    return false;
  {
    base::AutoLock lock(lock_);
    pipe_wait_ = std::move(wait);
  }
  pipe_.Set(CreateCrashServerPipe(pipe_name_, security_attributes_));
  if (!pipe_.IsValid())
    return false;
  if (!SetEvent(overlapped_event_.Get())) {
    state_ = kError;
    return false;
  }
  return true;
}

base::win::ScopedRegisteredWait CrashDumpServer::TakeWait(base::win::ScopedRegisteredWait* slot) {
  base::AutoLock lock(lock_);
  return std::move(*slot);
}

void CALLBACK CrashDumpServer::OnPipeEvent(void* context, BOOLEAN) {
  static_cast<CrashDumpServer*>(context)->HandlePipeEvent();
}

void CrashDumpServer::Signal() {
  if (!SetEvent(overlapped_event_.Get()))
    state_ = kError;
}

void CrashDumpServer::SetStateAndSignal(State state) {
  state_ = state;
  Signal();
}

// The event is manual-reset and the wait fires for as long as it stays set, so every step either leaves it
// set on purpose (the next step is due) or has an I/O pending that resets it and sets it on completion.
void CrashDumpServer::HandlePipeEvent() {
  if (void (*hook)(int) = g_pipe_step_hook.load(std::memory_order_acquire))
    hook(state_);
  if (shutting_down_) {
    state_ = kError;
    ResetEvent(overlapped_event_.Get());
    return;
  }
  switch (state_) {
    case kError:
      return HandleError();
    case kInitial:
      return HandleInitial();
    case kConnecting:
      return HandleConnecting();
    case kConnected:
      return HandleConnected();
    case kReading:
      return HandleReading();
    case kReadDone:
      return HandleReadDone();
    case kWriting:
      return HandleWriting();
    case kWriteDone:
      return HandleWriteDone();
    case kReadingAck:
      return HandleReadingAck();
    case kDisconnecting:
      return HandleDisconnecting();
    default:
      state_ = kError;
      return;
  }
}

void CrashDumpServer::HandleError() {
  // The pipe is given up for good; the clients' own waits go on serving them. Under the lock, so that the
  // destructor finds either everything closed here or nothing.
  base::AutoLock lock(lock_);
  if (shutting_down_ || !pipe_wait_.IsValid())
    return;
  pipe_wait_.CloseFromCallback();  // this step runs inside it
  pipe_.Close();
  overlapped_event_.Close();
}

void CrashDumpServer::HandleInitial() {
  ResetEvent(overlapped_event_.Get());
  const BOOL connected = ConnectNamedPipe(pipe_.Get(), &overlapped_);
  Started(connected);
  if (connected) {
    SetStateAndSignal(kError);  // an overlapped connect never completes at once
    return;
  }
  switch (GetLastError()) {
    case ERROR_PIPE_CONNECTED:
      return SetStateAndSignal(kConnected);
    case ERROR_IO_PENDING:
      state_ = kConnecting;
      return;
    case ERROR_NO_DATA:
      // A client came and hung up before this first wait (a new pipe takes connections at once): the pipe is
      // fine, only that connection is over.
      return SetStateAndSignal(kDisconnecting);
    default:
      return SetStateAndSignal(kError);
  }
}

bool CrashDumpServer::Started(BOOL result) {
  io_started_ = result || GetLastError() == ERROR_IO_PENDING;
  return io_started_;
}

void CrashDumpServer::HandleConnecting() {
  DWORD transferred = 0;
  if (GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE))
    return SetStateAndSignal(kConnected);
  if (GetLastError() == ERROR_IO_INCOMPLETE)
    return;  // the completion sets the event again
  SetStateAndSignal(kDisconnecting);
}

void CrashDumpServer::HandleConnected() {
  std::memset(&message_, 0, sizeof(message_));
  if (Started(ReadFile(pipe_.Get(), &message_, kMessageSize, nullptr, &overlapped_)))
    state_ = kReading;  // the completion sets the event
  else
    SetStateAndSignal(kDisconnecting);
}

void CrashDumpServer::HandleReading() {
  DWORD transferred = 0;
  const bool whole = GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE) && transferred == kMessageSize;
  SetStateAndSignal(whole ? kReadDone : kDisconnecting);
}

void CrashDumpServer::HandleReadDone() {
  const CrashPipeMessage request = message_;
  if (request.tag == kCrashUploadRequest) {
    if (callbacks_.upload)
      callbacks_.upload(callbacks_.upload_context, request.process_id);
    return SetStateAndSignal(kDisconnecting);
  }
  // A malformed request, or one naming another process than the sender, gets no reply.
  if (request.tag != kCrashRegistrationRequest || request.process_id == 0 || request.thread_id_address == 0 ||
      request.exception_pointers_address == 0 || request.assertion_address == 0 ||
      !RequestComesFromItsProcess(request)) {
    return SetStateAndSignal(kDisconnecting);
  }
  auto client = std::make_unique<CrashClientRecord>(this, request);
  if (!client->Initialize() || !AnswerRegistration(std::move(client)))
    return SetStateAndSignal(kDisconnecting);
  state_ = kWriting;  // the reply's completion sets the event
}

bool CrashDumpServer::RequestComesFromItsProcess(const CrashPipeMessage& request) const {
  ULONG client_process_id = 0;
  return GetNamedPipeClientProcessId(pipe_.Get(), &client_process_id) && client_process_id == request.process_id;
}

bool CrashDumpServer::AnswerRegistration(std::unique_ptr<CrashClientRecord> client) {
  const HANDLE client_process = client->process_handle();
  std::memset(&message_, 0, sizeof(message_));
  message_.tag = kCrashRegistrationReply;
  message_.process_id = GetCurrentProcessId();
  const struct {
    HANDLE object;
    DWORD access;
    uint64_t* field;
  } kHandOver[] = {
      {client->dump_request_event_.Get(), kDumpRequestEventAccess, &message_.dump_request_event},
      {client->dump_done_event_.Get(), kDumpDoneEventAccess, &message_.dump_done_event},
      {server_alive_mutex_.Get(), kServerAliveMutexAccess, &message_.server_alive_mutex},
  };
  std::vector<HANDLE> in_client;
  auto fail = [&] {
    for (HANDLE handle : in_client)
      CloseHandleInProcess(client_process, handle);
    return false;
  };
  for (const auto& object : kHandOver) {
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), object.object, client_process, &duplicate, object.access, FALSE, 0))
      return fail();
    in_client.push_back(duplicate);
    *object.field = HandleValue(duplicate);
  }
  if (!Started(WriteFile(pipe_.Get(), &message_, kMessageSize, nullptr, &overlapped_)))
    return fail();

  // Listed before its waits start, so that an exit noticed at once finds the record to remove.
  CrashClientRecord* const record = client.get();
  {
    base::AutoLock lock(lock_);
    if (shutting_down_)
      return fail();
    clients_.push_back(std::move(client));
    client_being_registered_ = record;
  }
  if (RegisterClientWaits(record))
    return true;
  std::unique_ptr<CrashClientRecord> removed;
  {
    base::AutoLock lock(lock_);
    removed = RemoveClientLocked(record);
    client_being_registered_ = nullptr;
  }
  // Not listed any more: its process ended meanwhile and the exit step destroys it, handles and all.
  if (removed)
    fail();
  return false;
}

bool CrashDumpServer::RegisterClientWaits(CrashClientRecord* client) {
  base::win::ScopedRegisteredWait dump_request_wait;
  if (!dump_request_wait.Register(client->dump_request_event_.Get(), &OnDumpRequest, client, INFINITE,
                                  kDumpRequestWaitFlags)) {
    return false;
  }
  {
    base::AutoLock lock(lock_);
    client->dump_request_wait_ = std::move(dump_request_wait);
  }
  // Registered and stored under the lock: a client that has ended already (it may exit as soon as it has the
  // reply) has its exit step fire at once, and that step destroys the record. Holding the lock makes it wait
  // until the wait it must unregister is in the record, instead of this step writing into a freed record.
  base::AutoLock lock(lock_);
  base::win::ScopedRegisteredWait process_wait;
  if (!process_wait.Register(client->process_.Get(), &OnClientExited, client, INFINITE, WT_EXECUTEONLYONCE))
    return false;
  if (void (*hook)(HANDLE) = g_process_wait_registered_hook.load(std::memory_order_acquire))
    hook(client->process_.Get());
  client->process_wait_ = std::move(process_wait);
  return true;
}

std::unique_ptr<CrashClientRecord> CrashDumpServer::RemoveClientLocked(const CrashClientRecord* client) {
  auto found =
      std::find_if(clients_.begin(), clients_.end(), [client](const auto& entry) { return entry.get() == client; });
  if (found == clients_.end())
    return nullptr;
  std::unique_ptr<CrashClientRecord> removed = std::move(*found);
  clients_.erase(found);
  return removed;
}

void CrashDumpServer::HandleWriting() {
  DWORD transferred = 0;
  SetStateAndSignal(GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE) ? kWriteDone
                                                                                         : kDisconnecting);
}

void CrashDumpServer::HandleWriteDone() {
  // A client that ended already breaks the pipe: the read fails at once.
  const BOOL read = ReadFile(pipe_.Get(), &message_, kMessageSize, nullptr, &overlapped_);
  if (!Started(read))
    return SetStateAndSignal(kDisconnecting);
  if (read)
    return SetStateAndSignal(kReadingAck);
  state_ = kReadingAck;  // the completion sets the event
}

void CrashDumpServer::HandleReadingAck() {
  DWORD transferred = 0;
  if (GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE) && callbacks_.connect) {
    base::AutoLock lock(lock_);
    const bool listed = std::any_of(clients_.begin(), clients_.end(), [this](const auto& entry) {
      return entry.get() == client_being_registered_;
    });
    if (listed)
      callbacks_.connect(callbacks_.connect_context, client_being_registered_);
  }
  SetStateAndSignal(kDisconnecting);
}

void CrashDumpServer::HandleDisconnecting() {
  {
    base::AutoLock lock(lock_);
    client_being_registered_ = nullptr;
  }
  overlapped_.Internal = 0;
  overlapped_.InternalHigh = 0;
  overlapped_.Offset = 0;
  overlapped_.OffsetHigh = 0;
  if (ResetEvent(overlapped_event_.Get()) && DisconnectNamedPipe(pipe_.Get())) {
    if (!shutting_down_)
      SetStateAndSignal(kInitial);
    return;
  }
  SetStateAndSignal(kError);
}

// The record outlives this step (its destruction unregisters the wait, waiting for the step) and the capture it
// queues (its destruction then waits for the idle event).
void CALLBACK CrashDumpServer::OnDumpRequest(void* context, BOOLEAN) {
  auto* client = static_cast<CrashClientRecord*>(context);
  // The wait fires for as long as the event stays set: the request is taken here, once. A client asks again only
  // after it has reset its done event, so a later request sets the event anew and is not lost.
  ResetEvent(client->dump_request_event_.Get());
  const bool capture_queued = !client->capture_running_.exchange(true);
  if (void (*hook)(bool) = g_dump_request_taken_hook.load(std::memory_order_acquire))
    hook(capture_queued);
  if (!capture_queued)
    return;  // the running capture sets the done event once it ends, which answers this request too
  // The previous capture has ended, but its worker may still be at its last two steps: the event follows at once.
  WaitForSingleObject(client->capture_idle_event_.Get(), INFINITE);
  ResetEvent(client->capture_idle_event_.Get());
  if (!QueueUserWorkItem(&RunCapture, client, WT_EXECUTELONGFUNCTION))
    RunCapture(client);  // late rather than never
}

DWORD CALLBACK CrashDumpServer::RunCapture(void* context) {
  auto* client = static_cast<CrashClientRecord*>(context);
  client->server_->HandleDumpRequest(client);
  // Cleared before the client is released: a request it makes once released starts a capture of its own, while
  // one it made before (its wait had run out) is answered by the event set next.
  client->capture_running_ = false;
  SetEvent(client->dump_done_event_.Get());
  // The last use of the record and the server: once this is set, either may be destroyed.
  SetEvent(client->capture_idle_event_.Get());
  return 0;
}

void CrashDumpServer::HandleDumpRequest(CrashClientRecord* client) {
  client->PrefetchCustomInfo();
  std::wstring dump_path;
  const bool dumped = generate_dumps_ && WriteDumpFor(*client, &dump_path);
  if (callbacks_.dump && (!generate_dumps_ || dumped))
    callbacks_.dump(callbacks_.dump_context, client, dumped ? &dump_path : nullptr);
}

bool CrashDumpServer::WriteDumpFor(const CrashClientRecord& client, std::wstring* dump_path) {
  uint64_t exception_pointers = 0;
  DWORD crashing_thread_id = 0;
  if (!ReadClientMemory(client.process_handle(), client.exception_pointers_address(), &exception_pointers,
                        sizeof(exception_pointers)) ||
      !ReadClientMemory(client.process_handle(), client.thread_id_address(), &crashing_thread_id,
                        sizeof(crashing_thread_id))) {
    return false;
  }
  DumpWriter writer(dump_folder_, client.process_handle(), client.process_id(), crashing_thread_id,
                    GetCurrentThreadId(), exception_pointers, client.assertion_address(), client.dump_type(),
                    /*pointers_in_dumped_process=*/true);
  return writer.CreateDumpFile(dump_path) && writer.WriteMinidump();
}

void CALLBACK CrashDumpServer::OnClientExited(void* context, BOOLEAN) {
  auto* client = static_cast<CrashClientRecord*>(context);
  client->server_->HandleClientExited(client);
}

void CrashDumpServer::HandleClientExited(CrashClientRecord* client) {
  TakeWait(&client->dump_request_wait_).Close();
  // A client whose wait for its dump ran out may end while its capture still runs on a worker.
  client->WaitForCaptureEnd();
  if (callbacks_.exited)
    callbacks_.exited(callbacks_.exited_context, client);
  std::unique_ptr<CrashClientRecord> removed;
  base::win::ScopedRegisteredWait process_wait;
  {
    base::AutoLock lock(lock_);
    // While shutting down, the destructor destroys the record (waiting for this callback first); a record
    // that is no longer listed belongs to a registration that failed, whose clean-up also waits for us.
    if (shutting_down_)
      return;
    removed = RemoveClientLocked(client);
    if (!removed)
      return;
    process_wait = std::move(client->process_wait_);
    ++exit_steps_running_;
  }
  process_wait.CloseFromCallback();  // this callback runs inside that wait
  // Both waits are gone, so the record's destruction has nothing left to wait for.
  removed.reset();
  if (void (*hook)() = g_exit_step_end_hook.load(std::memory_order_acquire))
    hook();
  // The destructor may go on once the count is zero: nothing of this object is used after the lock is let go.
  base::AutoLock lock(lock_);
  if (--exit_steps_running_ == 0)
    exit_steps_done_.Broadcast();
}

// static
void CrashDumpServer::SetExitStepEndHookForTesting(void (*hook)()) {
  g_exit_step_end_hook.store(hook, std::memory_order_release);
}

// static
void CrashDumpServer::SetPipeStepHookForTesting(void (*hook)(int state)) {
  g_pipe_step_hook.store(hook, std::memory_order_release);
}

// static
void CrashDumpServer::SetDestructionStartHookForTesting(void (*hook)()) {
  g_destruction_start_hook.store(hook, std::memory_order_release);
}

// static
void CrashDumpServer::SetDumpRequestTakenHookForTesting(void (*hook)(bool capture_queued)) {
  g_dump_request_taken_hook.store(hook, std::memory_order_release);
}

// static
void CrashDumpServer::SetProcessWaitRegisteredHookForTesting(void (*hook)(HANDLE client_process)) {
  g_process_wait_registered_hook.store(hook, std::memory_order_release);
}

}  // namespace installer
}  // namespace zorvi
