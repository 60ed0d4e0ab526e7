// A crash client for the crash client's tests: registers a crash handler with the reporter behind PIPE_NAME
// (played by crash_server_test_child.exe) and then fails as its mode says. Its exit code is what the system
// made of the failure; what it knew before failing goes into files of DIR.
//
//   crash_client_test_child.exe MODE PIPE_NAME DIR EVENT_BASE [ARGUMENTS...]
//
// Modes:
//   null-write [WAIT_MS]  writes through a null pointer (DIR\client.txt: its thread id and the function);
//                         waits WAIT_MS for the reporter's dump (default: the client's own limit)
//   invalid-handle [WAIT_MS]   as null-write, with an invalid-handle exception: the platform continues after an
//                         unhandled one (wine before even asking the unhandled-exception filter), so the child
//                         hands it to the filter as the system's dispatch would, and ends as the system would
//   breakpoint, breakpoint-reported   a breakpoint, without and with the flag for debug exceptions
//   invalid-parameter EXPRESSION FUNCTION FILE LINE   the runtime reports an invalid parameter
//   pure-call             a pure virtual call from a base-class destructor
//   uncaught              a C++ exception that nothing catches
//   two-threads           the main thread crashes; a second one crashes once EVENT_BASE_go is set, after
//                         setting EVENT_BASE_second; only the first crash is let through to a report
//   in-process-dumps      no reporter: an in-process dump without and one with an assertion record into DIR
//                         (the first with the system's UuidCreate hidden); DIR\dump_ids.txt names them
//   handler-order         two in-process handlers destroyed in the order they were made
//   keys WRITE...         writes the process's crash keys, each WRITE "INDEX:TEXT" or "FIRST-LAST:TEXT", in
//                         order; names the block's address in DIR\keys.txt, sets EVENT_BASE_ready and waits
//                         for EVENT_BASE_release
//   stray-write           writes into the crash keys' block outside the table's own writes
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "desktop/windows/crash_reporter/crash_exception_handler.h"
#include "desktop/windows/crash_reporter/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_server_client.h"
#include "desktop/windows/crash_reporter/crashing_code_test_util.h"

using zorvi::installer::CrashAssertionRecord;
using zorvi::installer::CrashExceptionHandler;

using crash_test::WriteThroughNull;

namespace {

std::wstring g_dir;

void AppendText(const std::wstring& name, const std::string& text) {
  FILE* file = _wfopen((g_dir + L"\\" + name).c_str(), L"ab");
  if (!file)
    return;
  fputs(text.c_str(), file);
  fclose(file);
}

// Lets the first crash through and parks every later one for good, as the installer's own gate does: once the
// first report is done, the process ends under the threads that crashed after it.
bool FirstCrashOnly(void*, EXCEPTION_POINTERS*, CrashAssertionRecord*) {
  static LONG claimed = 0;
  if (InterlockedCompareExchange(&claimed, 1, 0) != 0)
    Sleep(INFINITE);
  return true;
}

CrashExceptionHandler* Register(const std::wstring& pipe_name,
                                CrashExceptionHandler::FilterCallback filter = nullptr) {
  auto* handler = new CrashExceptionHandler(std::wstring(), filter, nullptr, nullptr,
                                            CrashExceptionHandler::kHandleAll, 0, pipe_name, nullptr);
  if (!handler->IsOutOfProcess())
    ExitProcess(2);
  return handler;
}

DWORD WINAPI SecondCrash(void* event_base) {
  const std::wstring base = static_cast<const wchar_t*>(event_base);
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, (base + L"_go").c_str());
  HANDLE second = CreateEventW(nullptr, TRUE, FALSE, (base + L"_second").c_str());
  if (WaitForSingleObject(go, 60000) != WAIT_OBJECT_0)
    ExitProcess(3);
  SetEvent(second);
  WriteThroughNull();
  return 0;
}

bool RecordDumpId(const wchar_t*, const wchar_t* dump_id, void*, EXCEPTION_POINTERS*, CrashAssertionRecord*,
                  bool succeeded) {
  char line[128];
  snprintf(line, sizeof(line), "%ls %d\n", dump_id, succeeded ? 1 : 0);
  AppendText(L"dump_ids.txt", line);
  return succeeded;
}

int InProcessDumps() {
  CONTEXT context = {};
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = EXCEPTION_BREAKPOINT;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers = {&record, &context};
  {
    CrashExceptionHandler::DisableUuidCreateForTesting(true);
    CrashExceptionHandler handler(g_dir, nullptr, &RecordDumpId, nullptr, CrashExceptionHandler::kHandleAll, 0,
                                  std::wstring(), nullptr);
    CrashExceptionHandler::DisableUuidCreateForTesting(false);
    if (handler.IsOutOfProcess() || !handler.WriteDumpNow(&pointers))
      return 4;
  }
  new CrashExceptionHandler(g_dir, nullptr, &RecordDumpId, nullptr, CrashExceptionHandler::kHandleAll, 0,
                            std::wstring(), nullptr);
  CrashExceptionHandler::HandleInvalidParameter(L"in-process expression", L"InProcessDumps", L"child.cc", 42, 0);
  return 5;  // not reached: a handled report ends the process
}

int WriteKeys(int argc, wchar_t** argv, const std::wstring& event_base) {
  zorvi::installer::CrashKeys* keys = zorvi::installer::CrashKeys::GetInstance();
  for (int i = 5; i < argc; ++i) {
    const std::wstring write = argv[i];
    const size_t colon = write.find(L':'), dash = write.find(L'-');
    if (colon == std::wstring::npos)
      return 7;
    const wchar_t* text = write.c_str() + colon + 1;
    if (dash < colon)
      keys->SetValueRange(std::stoul(write.substr(0, dash)), std::stoul(write.substr(dash + 1)), text);
    else
      keys->SetValue(std::stoul(write.substr(0, colon)), text);
  }
  char text[64];
  snprintf(text, sizeof(text), "address=%llx\n",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(keys->entries())));
  AppendText(L"keys.txt", text);
  SetEvent(CreateEventW(nullptr, TRUE, FALSE, (event_base + L"_ready").c_str()));
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, (event_base + L"_release").c_str());
  return WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 8;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 5)
    return 1;
  const std::wstring mode = argv[1], pipe_name = argv[2];
  g_dir = argv[3];
  if (mode == L"in-process-dumps")
    return InProcessDumps();
  if (mode == L"keys")
    return WriteKeys(argc, argv, argv[4]);
  if (mode == L"stray-write") {
    auto* entries = const_cast<zorvi::installer::CrashCustomInfoEntry*>(
        zorvi::installer::CrashKeys::GetInstance()->entries());
    entries[4].value[0] = L'x';  // the pages are read-only: this faults
    return 0;
  }
  if (mode == L"handler-order") {
    auto* first = new CrashExceptionHandler(std::wstring(), nullptr, nullptr, nullptr,
                                            CrashExceptionHandler::kHandleAll, 0, std::wstring(), nullptr);
    auto* second = new CrashExceptionHandler(std::wstring(), nullptr, nullptr, nullptr,
                                             CrashExceptionHandler::kHandleAll, 0, std::wstring(), nullptr);
    delete first;
    delete second;
    return 0;
  }

  if ((mode == L"null-write" || mode == L"invalid-handle") && argc > 5)
    zorvi::installer::CrashServerClient::SetDumpWaitForTesting(std::stoul(argv[5]));
  CrashExceptionHandler* handler = Register(pipe_name, mode == L"two-threads" ? &FirstCrashOnly : nullptr);
  if (mode == L"null-write" || mode == L"invalid-handle") {
    char text[128];
    snprintf(text, sizeof(text), "thread=%lu\nfunction=%llx\n", GetCurrentThreadId(),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&WriteThroughNull)));
    AppendText(L"client.txt", text);
    if (mode == L"invalid-handle") {
      CONTEXT context = {};
      RtlCaptureContext(&context);
      EXCEPTION_RECORD record = {};
      record.ExceptionCode = EXCEPTION_INVALID_HANDLE;
      record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
      EXCEPTION_POINTERS pointers = {&record, &context};
      if (CrashExceptionHandler::HandleException(&pointers) == EXCEPTION_EXECUTE_HANDLER)
        TerminateProcess(GetCurrentProcess(), EXCEPTION_INVALID_HANDLE);
      return 7;
    }
    WriteThroughNull();
  } else if (mode == L"breakpoint" || mode == L"breakpoint-reported") {
    handler->set_report_debug_exceptions(mode == L"breakpoint-reported");
    DebugBreak();
  } else if (mode == L"invalid-parameter" && argc == 9) {
    CrashExceptionHandler::HandleInvalidParameter(argv[5], argv[6], argv[7], std::stoul(argv[8]), 0);
  } else if (mode == L"pure-call") {
    crash_test::PureCallBase* object = new crash_test::PureCallDerived;
    asm volatile("" : "+r"(object));
    delete object;
  } else if (mode == L"uncaught") {
    throw std::runtime_error("nobody catches this");
  } else if (mode == L"two-threads") {
    CloseHandle(CreateThread(nullptr, 0, &SecondCrash, argv[4], 0, nullptr));
    WriteThroughNull();
  }
  return 6;  // every mode ends the process before this
}
