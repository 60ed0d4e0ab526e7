// Plays the crash reporter's end of the pipe for the crash client's tests, with raw bytes: creates the pipe,
// answers one registration as its mode says, then serves the client's dump requests by reading the crash
// facts straight out of the client's memory. Everything it sees goes into files of the record folder.
//
//   crash_server_test_child.exe MODE PIPE_NAME RECORD_DIR EVENT_BASE
//
// Modes: "serve" (a valid reply, then every request is answered), "silent" (a valid reply, requests are never
// answered), "hold" (as serve, but the first request is held open while the client's second thread crashes),
// "bad-tag", "zero-pid", "zero-handle", "made-up" (a malformed reply, then only watch for an acknowledgement; the
// zero ones are replies whose non-zero handles are duplicated into the client as a reporter's are, "made-up" a
// reply whose handles are numbers that can be no handle of the client's). placed.txt counts what was duplicated.
// Events: EVENT_BASE_ready once the pipe exists, EVENT_BASE_registered once the registration is recorded;
// "hold" also sets EVENT_BASE_go and waits for EVENT_BASE_second. Exit code 0, or 1 on a failure of its own.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

using zorvi::installer::CrashAssertionRecord;
using zorvi::installer::CrashPipeMessage;

namespace {

constexpr DWORD kLongWaitMs = 60000;  // only a broken test waits this long
// How long a held request watches for a second one: a second thread that were not held by the client would
// signal within this window.
constexpr DWORD kSecondRequestWindowMs = 300;

std::wstring g_record_dir;
std::wstring g_event_base;

bool WriteRecord(const std::wstring& name, const void* data, size_t size) {
  HANDLE file = CreateFileW((g_record_dir + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

bool WriteText(const std::wstring& name, const std::string& text) {
  return WriteRecord(name, text.data(), text.size());
}

HANDLE NamedEvent(const wchar_t* suffix) {
  return CreateEventW(nullptr, TRUE, FALSE, (g_event_base + suffix).c_str());
}

// Synchronous use of the overlapped pipe.
bool PipeIo(HANDLE pipe, bool write, void* buffer, DWORD size, DWORD* done) {
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  BOOL ok = write ? WriteFile(pipe, buffer, size, nullptr, &overlapped)
                  : ReadFile(pipe, buffer, size, nullptr, &overlapped);
  if (ok || GetLastError() == ERROR_IO_PENDING)
    ok = GetOverlappedResult(pipe, &overlapped, done, TRUE);
  CloseHandle(overlapped.hEvent);
  return ok;
}

bool Connect(HANDLE pipe) {
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  BOOL ok = ConnectNamedPipe(pipe, &overlapped);
  if (!ok && GetLastError() == ERROR_PIPE_CONNECTED) {
    ok = TRUE;
  } else if (!ok && GetLastError() == ERROR_IO_PENDING) {
    DWORD unused = 0;
    ok = GetOverlappedResult(pipe, &overlapped, &unused, TRUE);
  }
  CloseHandle(overlapped.hEvent);
  return ok;
}

template <typename T>
bool ReadClient(HANDLE process, uint64_t address, T* value) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<uintptr_t>(address)), value, sizeof(T),
                           &read) &&
         read == sizeof(T);
}

// Reads what the client published for this request, as the reporter does: its crashing thread's id, its
// exception pointers and the records behind them, and its assertion record.
bool RecordCrash(HANDLE client, const CrashPipeMessage& request, int number) {
  DWORD thread_id = 0;
  uint64_t pointers_address = 0;
  EXCEPTION_POINTERS pointers = {};
  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  CrashAssertionRecord assertion = {};
  if (!ReadClient(client, request.thread_id_address, &thread_id) ||
      !ReadClient(client, request.exception_pointers_address, &pointers_address) ||
      !ReadClient(client, pointers_address, &pointers) ||
      !ReadClient(client, reinterpret_cast<uintptr_t>(pointers.ExceptionRecord), &record) ||
      !ReadClient(client, reinterpret_cast<uintptr_t>(pointers.ContextRecord), &context) ||
      !ReadClient(client, request.assertion_address, &assertion)) {
    return false;
  }
  char text[512];
  snprintf(text, sizeof(text),
           "thread=%lu\ncode=%lx\naddress=%llx\nrip=%llx\nparameters=%lu\nparameter0=%llx\nparameter1=%llx\n",
           thread_id, record.ExceptionCode, static_cast<unsigned long long>(
                                                reinterpret_cast<uintptr_t>(record.ExceptionAddress)),
           static_cast<unsigned long long>(context.Rip), record.NumberParameters,
           static_cast<unsigned long long>(record.ExceptionInformation[0]),
           static_cast<unsigned long long>(record.ExceptionInformation[1]));
  const std::wstring suffix = std::to_wstring(number);
  return WriteText(L"crash" + suffix + L".txt", text) &&
         WriteRecord(L"assertion" + suffix + L".bin", &assertion, sizeof(assertion));
}

int Serve(const std::wstring& mode, HANDLE pipe) {
  CrashPipeMessage request = {};
  DWORD done = 0;
  if (!Connect(pipe) || !PipeIo(pipe, false, &request, sizeof(request), &done) || done != sizeof(request))
    return 1;
  WriteRecord(L"request.bin", &request, sizeof(request));
  HANDLE client = OpenProcess(GENERIC_ALL, FALSE, request.process_id);
  if (!client)
    return 1;

  CrashPipeMessage reply = {};
  reply.tag = zorvi::installer::kCrashRegistrationReply;
  reply.process_id = GetCurrentProcessId();
  HANDLE dump_request = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE dump_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE alive = CreateMutexW(nullptr, TRUE, nullptr);
  const bool valid = mode == L"serve" || mode == L"silent" || mode == L"hold";
  int placed = 0;
  if (mode == L"bad-tag") {
    // No reply, so plausible handle values that were never duplicated: the client must neither keep nor close
    // them.
    reply.tag = zorvi::installer::kCrashRegistrationAck;
    reply.dump_request_event = 0x1230;
    reply.dump_done_event = 0x1234;
    reply.server_alive_mutex = 0x1238;
  } else if (mode == L"made-up") {
    // Beyond the largest handle table a process can have.
    reply.dump_request_event = 0x7FFFFFF0;
    reply.dump_done_event = 0x7FFFFFF4;
    reply.server_alive_mutex = 0x7FFFFFF8;
  } else {
    const bool zero_handle = mode == L"zero-handle";
    HANDLE in_client[3] = {};
    if (!DuplicateHandle(GetCurrentProcess(), dump_request, client, &in_client[0],
                         zorvi::installer::kDumpRequestEventAccess, FALSE, 0) ||
        (!zero_handle && !DuplicateHandle(GetCurrentProcess(), dump_done, client, &in_client[1],
                                          zorvi::installer::kDumpDoneEventAccess, FALSE, 0)) ||
        !DuplicateHandle(GetCurrentProcess(), alive, client, &in_client[2],
                         zorvi::installer::kServerAliveMutexAccess, FALSE, 0)) {
      return 1;
    }
    placed = zero_handle ? 2 : 3;
    reply.dump_request_event = reinterpret_cast<uintptr_t>(in_client[0]);
    reply.dump_done_event = reinterpret_cast<uintptr_t>(in_client[1]);
    reply.server_alive_mutex = reinterpret_cast<uintptr_t>(in_client[2]);
    if (mode == L"zero-pid")
      reply.process_id = 0;
  }
  if (!PipeIo(pipe, true, &reply, sizeof(reply), &done))
    return 1;
  WriteRecord(L"reply.bin", &reply, sizeof(reply));
  WriteText(L"placed.txt", std::to_string(placed));
  CrashPipeMessage ack = {};
  if (PipeIo(pipe, false, &ack, sizeof(ack), &done) && done == sizeof(ack))
    WriteRecord(L"ack.bin", &ack, sizeof(ack));
  else
    WriteText(L"no_ack.txt", "the client sent no acknowledgement\n");
  SetEvent(NamedEvent(L"_registered"));
  if (!valid)
    return 0;

  int requests = 0;
  const HANDLE waits[] = {dump_request, client};
  while (WaitForMultipleObjects(2, waits, FALSE, kLongWaitMs) == WAIT_OBJECT_0) {
    ResetEvent(dump_request);
    ++requests;
    if (mode == L"silent")
      continue;
    if (mode == L"hold" && requests == 1) {
      SetEvent(NamedEvent(L"_go"));
      if (WaitForSingleObject(NamedEvent(L"_second"), kLongWaitMs) != WAIT_OBJECT_0)
        return 1;
      if (WaitForSingleObject(dump_request, kSecondRequestWindowMs) == WAIT_OBJECT_0)
        WriteText(L"second_request.txt", "a second request arrived while the first was held\n");
    }
    if (!RecordCrash(client, request, requests))
      WriteText(L"read_failed.txt", "the client's crash facts could not be read\n");
    SetEvent(dump_done);
  }
  WriteText(L"requests.txt", std::to_string(requests) + "\n");
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 5)
    return 1;
  const std::wstring mode = argv[1];
  g_record_dir = argv[3];
  g_event_base = argv[4];
  HANDLE pipe = zorvi::installer::CreateCrashServerPipe(argv[2], nullptr);
  if (pipe == INVALID_HANDLE_VALUE)
    return 1;
  SetEvent(NamedEvent(L"_ready"));
  return Serve(mode, pipe);
}
