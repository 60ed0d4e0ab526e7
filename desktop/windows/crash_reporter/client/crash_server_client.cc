#include "desktop/windows/crash_reporter/client/crash_server_client.h"

#include <winternl.h>

#include <atomic>
#include <cstring>
#include <string_view>
#include <utility>

namespace zorvi {
namespace installer {
namespace {

std::atomic<DWORD> g_pipe_wait_ms{2000};
std::atomic<DWORD> g_dump_wait_ms{15000};

// Read data, write data and write attributes (the last for the message read mode); the reporter may learn
// who we are but not act as us.
constexpr DWORD kPipeAccess = FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kPipeFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
static_assert(kPipeAccess == 0x103 && kPipeFlags == 0x110000);

uint64_t AddressOf(const void* field) {
  return reinterpret_cast<uintptr_t>(field);
}

HANDLE HandleFrom(uint64_t value) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

// Whether `value` is a handle of this process to an object of the kind `type_name` names ("Event", "Mutant")
// granting at least `access`. A reply's handles are numbers that another process wrote: one that is no such
// handle was never placed here, and closing it would close some other handle of this process, or stop the
// process at the handle verifier when it is none at all.
bool IsHandleOfKind(uint64_t value, const wchar_t* type_name, ACCESS_MASK access) {
  using NtQueryObjectFunction = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<NtQueryObjectFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  const HANDLE handle = HandleFrom(value);
  if (!query || value == 0 || handle == INVALID_HANDLE_VALUE)
    return false;
  PUBLIC_OBJECT_BASIC_INFORMATION basic = {};
  if (!NT_SUCCESS(query(handle, ObjectBasicInformation, &basic, sizeof(basic), nullptr)) ||
      (basic.GrantedAccess & access) != access) {
    return false;
  }
  // The kind's name follows the record in the same buffer.
  alignas(PUBLIC_OBJECT_TYPE_INFORMATION) BYTE buffer[sizeof(PUBLIC_OBJECT_TYPE_INFORMATION) + 128];
  const auto* type = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer);
  if (!NT_SUCCESS(query(handle, ObjectTypeInformation, buffer, sizeof(buffer), nullptr)) || !type->TypeName.Buffer)
    return false;
  return std::wstring_view(type->TypeName.Buffer, type->TypeName.Length / sizeof(wchar_t)) == type_name;
}

}  // namespace

CrashServerClient::CrashServerClient(const std::wstring& pipe_name, uint32_t dump_type,
                                     const CrashCustomClientInfo* custom_info)
    : pipe_name_(pipe_name), dump_type_(dump_type) {
  if (custom_info)
    custom_info_ = *custom_info;
}

CrashServerClient::CrashServerClient(HANDLE pipe, uint32_t dump_type, const CrashCustomClientInfo* custom_info)
    : given_pipe_(pipe), dump_type_(dump_type) {
  if (custom_info)
    custom_info_ = *custom_info;
}

CrashServerClient::~CrashServerClient() = default;

void CrashServerClient::SetPipeWaitForTesting(DWORD milliseconds) {
  g_pipe_wait_ms = milliseconds;
}

void CrashServerClient::SetDumpWaitForTesting(DWORD milliseconds) {
  g_dump_wait_ms = milliseconds;
}

HANDLE CrashServerClient::OpenPipe() {
  base::win::ScopedHandle pipe;
  if (given_pipe_.IsValid()) {
    pipe.Set(given_pipe_.Take());
  } else {
    // One instance serves one client at a time: a busy pipe is waited for once, then given up.
    for (int attempt = 0; attempt < 2 && !pipe.IsValid(); ++attempt) {
      pipe.Set(CreateFileW(pipe_name_.c_str(), kPipeAccess, 0, nullptr, OPEN_EXISTING, kPipeFlags, nullptr));
      if (pipe.IsValid())
        break;
      if (attempt > 0 || GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(pipe_name_.c_str(), g_pipe_wait_ms))
        return INVALID_HANDLE_VALUE;
    }
    if (!pipe.IsValid())
      return INVALID_HANDLE_VALUE;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr))
    return INVALID_HANDLE_VALUE;
  return pipe.Take();
}

bool CrashServerClient::Register() {
  if (dump_request_event_.IsValid())
    return true;
  base::win::ScopedHandle pipe(OpenPipe());
  if (!pipe.IsValid())
    return false;

  CrashPipeMessage request = {};
  request.tag = kCrashRegistrationRequest;
  request.process_id = GetCurrentProcessId();
  request.dump_type = dump_type_;
  request.thread_id_address = AddressOf(&crashing_thread_id_);
  request.exception_pointers_address = AddressOf(&exception_pointers_);
  request.assertion_address = AddressOf(&assertion_);
  request.custom_info_entries_address = AddressOf(custom_info_.entries);
  request.custom_info_count = custom_info_.count;
  CrashPipeMessage reply = {};
  DWORD read = 0;
  if (!TransactNamedPipe(pipe.Get(), &request, sizeof(request), &reply, sizeof(reply), &read, nullptr) ||
      read != sizeof(reply)) {
    return false;
  }
  // Any other message is no reply, and its fields are no handles of this process.
  if (reply.tag != kCrashRegistrationReply)
    return false;
  // The server placed a reply's handles in this process before it sent the reply: those that are handles of the
  // kind the protocol names are held from here on, and closed again unless the registration succeeds. Any other
  // value is left alone, and refuses the reply.
  const auto adopt = [](uint64_t value, const wchar_t* type_name, ACCESS_MASK access) {
    return base::win::ScopedHandle(IsHandleOfKind(value, type_name, access) ? HandleFrom(value) : nullptr);
  };
  base::win::ScopedHandle dump_request_event = adopt(reply.dump_request_event, L"Event", kDumpRequestEventAccess);
  base::win::ScopedHandle dump_done_event = adopt(reply.dump_done_event, L"Event", kDumpDoneEventAccess);
  base::win::ScopedHandle server_alive_mutex = adopt(reply.server_alive_mutex, L"Mutant", kServerAliveMutexAccess);
  if (reply.process_id == 0 || !dump_request_event.IsValid() || !dump_done_event.IsValid() ||
      !server_alive_mutex.IsValid()) {
    return false;
  }
  // The server reports the client only once it has this acknowledgement.
  CrashPipeMessage ack = {};
  ack.tag = kCrashRegistrationAck;
  DWORD written = 0;
  if (!WriteFile(pipe.Get(), &ack, sizeof(ack), &written, nullptr) || written != sizeof(ack))
    return false;
  dump_request_event_ = std::move(dump_request_event);
  dump_done_event_ = std::move(dump_done_event);
  server_alive_mutex_ = std::move(server_alive_mutex);
  server_process_id_ = reply.process_id;
  return true;
}

bool CrashServerClient::RequestDump(EXCEPTION_POINTERS* exception_pointers, const CrashAssertionRecord* assertion) {
  if (!dump_request_event_.IsValid())
    return false;
  exception_pointers_ = exception_pointers;
  crashing_thread_id_ = GetCurrentThreadId();
  if (assertion)
    assertion_ = *assertion;
  else
    std::memset(&assertion_, 0, sizeof(assertion_));

  if (!ResetEvent(dump_done_event_.Get()) || !SetEvent(dump_request_event_.Get()))
    return false;
  // The server holds the mutex for as long as it lives: when it dies the mutex is abandoned and ends the wait
  // at once, as a failure.
  const HANDLE objects[] = {dump_done_event_.Get(), server_alive_mutex_.Get()};
  return WaitForMultipleObjects(2, objects, FALSE, g_dump_wait_ms) == WAIT_OBJECT_0;
}

}  // namespace installer
}  // namespace zorvi
