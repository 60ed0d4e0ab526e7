// A client of the dump server's tests. Some modes speak raw bytes on the pipe, as a broken or hostile client
// would; the others register through the real client.
//
//   crash_pipe_client_test_child.exe MODE PIPE_NAME [ARGUMENT]
//
// Raw modes (exit code: the number of reply bytes received, 0 when the server sent none):
//   close          connects and hangs up without a word
//   short          sends the first 40 bytes of a registration
//   upload         sends an upload request naming this process
//   zero-thread    sends a registration whose thread-id address is 0
//   forged PID     sends a well-formed registration that names process PID instead of this one
//   no-ack         sends a whole registration, reads the reply and ends without acknowledging it
// Client modes (exit code 0 on success, 2 when the server's answer was wrong, 1 when registration failed):
//   request COUNT  registers a table of COUNT entries ("keys": the process's crash keys) and asks for a dump;
//                  prints "before=<ms>", its up-time just before asking, as the server computes it
//   register-many COUNT   registers COUNT times, keeping every registration, then ends
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"
#include "desktop/windows/crash_reporter/client/crash_keys.h"
#include "desktop/windows/crash_reporter/client/crash_server_client.h"

using zorvi::installer::CrashCustomClientInfo;
using zorvi::installer::CrashCustomInfoEntry;
using zorvi::installer::CrashPipeMessage;
using zorvi::installer::CrashServerClient;

namespace {

constexpr DWORD kPipeWaitMs = 60000;  // only a broken test waits this long

// Crash facts for a registration to point at; the server reads them only when it writes a dump itself.
DWORD g_thread_id = 0;
EXCEPTION_POINTERS* g_exception_pointers = nullptr;
zorvi::installer::CrashAssertionRecord g_assertion = {};

HANDLE OpenPipe(const std::wstring& name) {
  if (!WaitNamedPipeW(name.c_str(), kPipeWaitMs))
    return INVALID_HANDLE_VALUE;
  HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (pipe != INVALID_HANDLE_VALUE)
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  return pipe;
}

CrashPipeMessage Registration(DWORD process_id) {
  CrashPipeMessage request = {};
  request.tag = zorvi::installer::kCrashRegistrationRequest;
  request.process_id = process_id;
  request.thread_id_address = reinterpret_cast<uintptr_t>(&g_thread_id);
  request.exception_pointers_address = reinterpret_cast<uintptr_t>(&g_exception_pointers);
  request.assertion_address = reinterpret_cast<uintptr_t>(&g_assertion);
  return request;
}

int SendRaw(const std::wstring& mode, const std::wstring& pipe_name, const std::wstring& argument) {
  HANDLE pipe = OpenPipe(pipe_name);
  if (pipe == INVALID_HANDLE_VALUE)
    return 100;
  if (mode == L"close") {
    CloseHandle(pipe);
    return 0;
  }
  CrashPipeMessage message = Registration(GetCurrentProcessId());
  DWORD size = sizeof(message);
  if (mode == L"short")
    size = 40;
  else if (mode == L"upload")
    message.tag = zorvi::installer::kCrashUploadRequest;
  else if (mode == L"zero-thread")
    message.thread_id_address = 0;
  else if (mode == L"forged")
    message.process_id = std::stoul(argument);
  else if (mode != L"no-ack")
    return 101;
  DWORD done = 0;
  if (!WriteFile(pipe, &message, size, &done, nullptr) || done != size)
    return 102;
  CrashPipeMessage reply = {};
  DWORD received = 0;
  if (!ReadFile(pipe, &reply, sizeof(reply), &received, nullptr))
    received = 0;
  CloseHandle(pipe);
  return static_cast<int>(received);
}

int RequestDump(const std::wstring& pipe_name, const std::wstring& count) {
  std::vector<CrashCustomInfoEntry> entries;
  CrashCustomClientInfo info;
  if (count == L"keys") {
    info = zorvi::installer::CrashKeys::GetInstance()->custom_client_info();
  } else {
    // The server must not read what a client announces beyond its limit: only a few entries exist.
    entries.resize(std::min<size_t>(std::stoul(count), 16));
    for (size_t i = 0; i < entries.size(); ++i) {
      swprintf(entries[i].name, CrashCustomInfoEntry::kTextLength, L"name%zu", i);
      swprintf(entries[i].value, CrashCustomInfoEntry::kTextLength, L"value%zu", i);
    }
    info = {entries.data(), std::stoul(count)};
  }
  CrashServerClient client(pipe_name, 0, &info);
  if (!client.Register())
    return 1;
  printf("before=%llu\n", static_cast<unsigned long long>(
                              zorvi::installer::MillisecondsSinceCreation(GetCurrentProcess())));
  fflush(stdout);
  return client.RequestDump(nullptr, nullptr) ? 0 : 2;
}

int RegisterMany(const std::wstring& pipe_name, int count) {
  std::vector<std::unique_ptr<CrashServerClient>> clients;
  for (int i = 0; i < count; ++i) {
    clients.push_back(std::make_unique<CrashServerClient>(pipe_name, 0, nullptr));
    if (!clients.back()->Register())
      return 1;
  }
  return 0;  // every registration ends with the process
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3)
    return 103;
  const std::wstring mode = argv[1], pipe_name = argv[2], argument = argc > 3 ? argv[3] : L"";
  CrashServerClient::SetPipeWaitForTesting(kPipeWaitMs);
  if (mode == L"request")
    return RequestDump(pipe_name, argument);
  if (mode == L"register-many")
    return RegisterMany(pipe_name, std::stoi(argument));
  return SendRaw(mode, pipe_name, argument);
}
