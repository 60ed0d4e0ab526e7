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
//   dump-libraries        no reporter, no crash: the file of the library that gives the dump writers'
//                         MiniDumpWriteDump, then of the "dbghelp.dll" an in-process handler loaded, into
//                         DIR\libraries.txt, one line each ("none" for no such library)
//   handler-order         two in-process handlers destroyed in the order they were made
//   keys WRITE...         writes the process's crash keys, each WRITE "INDEX:TEXT" or "FIRST-LAST:TEXT", in
//                         order; names the block's address in DIR\keys.txt, sets EVENT_BASE_ready and waits
//                         for EVENT_BASE_release
//   stray-write           writes into the crash keys' block outside the table's own writes
//   snapshot WAIT_MS THREADS   a crash worth a crash log: starts a thread holding eight x87 values, a thread whose
//                         stack pointer lies in a mapped file view, and THREADS threads parked in a wait; once all
//                         are parked names them in DIR\child.txt and writes through a null pointer on the main
//                         thread. Its filter fills a crash information record (the one a crashing reporter keeps
//                         for the copy that reports it) at the address named there.
#include <windows.h>
#include <shellapi.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"
#include "desktop/windows/crash_reporter/client/crash_exception_handler.h"
#include "desktop/windows/crash_reporter/client/crash_keys.h"
#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"
#include "desktop/windows/crash_reporter/client/crash_server_client.h"
#include "desktop/windows/crash_reporter/client/crashing_code_test_util.h"
#include "desktop/windows/crash_reporter/dump_library.h"

using zorvi::installer::CapturedException;
using zorvi::installer::CrashAssertionRecord;
using zorvi::installer::CrashExceptionHandler;

using crash_test::WriteThroughNull;

// Eight values of eight different exponents, loaded in this order (so the last is st(0)).
extern "C" double g_x87_values[8];
double g_x87_values[8] = {1.0, -2.5, 1e10, 3e-20, 7e100, -1e-300, 12345.678, 0.1};

namespace {

HANDLE g_parked_all;  // set when every thread is parked
LONG g_parked = 0;
LONG g_to_park = 0;
HANDLE g_never;  // never set: the parked threads wait on it for good

}  // namespace

extern "C" void Park() {
  if (InterlockedIncrement(&g_parked) == g_to_park)
    SetEvent(g_parked_all);
  WaitForSingleObject(g_never, INFINITE);
}

// Pushes the eight values onto the x87 stack and parks with them there (nothing on the way to the wait uses
// the x87 registers, and the system keeps them with the thread's context).
extern "C" void ParkWithX87Values();
asm(".globl ParkWithX87Values\n"
    "ParkWithX87Values:\n"
    "  sub $40, %rsp\n"
    "  lea g_x87_values(%rip), %rax\n"
    "  fldl 0(%rax)\n  fldl 8(%rax)\n  fldl 16(%rax)\n  fldl 24(%rax)\n"
    "  fldl 32(%rax)\n  fldl 40(%rax)\n  fldl 48(%rax)\n  fldl 56(%rax)\n"
    "  call Park\n"
    "  add $40, %rsp\n"
    "  ret\n");

// Moves the stack pointer to `top` (16-byte aligned) and parks there for good.
extern "C" void ParkOnStack(void* top);
asm(".globl ParkOnStack\n"
    "ParkOnStack:\n"
    "  mov %rcx, %rsp\n"
    "  sub $32, %rsp\n"
    "  call Park\n"
    "1:\n"
    "  jmp 1b\n");

namespace {

constexpr SIZE_T kViewSize = 65536;

DWORD WINAPI X87Thread(void*) {
  ParkWithX87Values();
  return 0;
}

DWORD WINAPI MappedStackThread(void*) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kViewSize, nullptr);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kViewSize));
  if (!view)
    ExitProcess(3);
  ParkOnStack(view + kViewSize - 64);
  return 0;
}

DWORD WINAPI ParkedThread(void*) {
  Park();
  return 0;
}

HANDLE StartThread(LPTHREAD_START_ROUTINE start, DWORD* id) {
  // Small stacks: hundreds of these threads are started.
  HANDLE thread = CreateThread(nullptr, 65536, start, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, id);
  if (!thread)
    ExitProcess(4);
  return thread;
}

zorvi::installer::CrashInformationRecord g_record = {};

bool FillRecord(void*, EXCEPTION_POINTERS* exception_pointers, CrashAssertionRecord*) {
  g_record.thread_id = GetCurrentThreadId();
  g_record.exception_pointers = reinterpret_cast<uintptr_t>(exception_pointers);
  return true;
}

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
  CapturedException breakpoint(EXCEPTION_BREAKPOINT);
  {
    CrashExceptionHandler::DisableUuidCreateForTesting(true);
    CrashExceptionHandler handler(g_dir, nullptr, &RecordDumpId, nullptr, CrashExceptionHandler::kHandleAll, 0,
                                  std::wstring(), nullptr);
    CrashExceptionHandler::DisableUuidCreateForTesting(false);
    if (handler.IsOutOfProcess() || !handler.WriteDumpNow(&breakpoint.pointers))
      return 4;
  }
  new CrashExceptionHandler(g_dir, nullptr, &RecordDumpId, nullptr, CrashExceptionHandler::kHandleAll, 0,
                            std::wstring(), nullptr);
  CrashExceptionHandler::HandleInvalidParameter(L"in-process expression", L"InProcessDumps", L"child.cc", 42, 0);
  return 5;  // not reached: a handled report ends the process
}

// The file of the module holding `address`, or "none".
std::string ModuleFileOf(const void* address) {
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH] = {};
  if (!address || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      static_cast<const wchar_t*>(address), &module) ||
      !GetModuleFileNameW(module, path, MAX_PATH)) {
    return "none";
  }
  char text[MAX_PATH * 3];
  snprintf(text, sizeof(text), "%ls", path);
  return text;
}

int DumpLibraries() {
  {
    const zorvi::installer::DumpLibrary dbghelp(L"dbghelp.dll");
    AppendText(L"libraries.txt",
               ModuleFileOf(reinterpret_cast<const void*>(dbghelp.Find<FARPROC>("MiniDumpWriteDump"))) + "\n");
  }
  CrashExceptionHandler handler(g_dir, nullptr, nullptr, nullptr, CrashExceptionHandler::kHandleNothing, 0,
                                std::wstring(), nullptr);
  AppendText(L"libraries.txt", ModuleFileOf(GetModuleHandleW(L"dbghelp.dll")) + "\n");
  return handler.IsOutOfProcess() ? 9 : 0;
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

int Snapshot(const std::wstring& pipe_name, long parked_threads) {
  Register(pipe_name, &FillRecord);
  g_parked_all = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_to_park = parked_threads + 2;
  DWORD x87_id = 0, mapped_id = 0, parked_id = 0;
  CloseHandle(StartThread(&X87Thread, &x87_id));
  CloseHandle(StartThread(&MappedStackThread, &mapped_id));
  for (long i = 0; i < parked_threads; ++i)
    CloseHandle(StartThread(&ParkedThread, &parked_id));
  if (WaitForSingleObject(g_parked_all, 60000) != WAIT_OBJECT_0)
    return 5;

  std::string text = "main=" + std::to_string(GetCurrentThreadId()) + "\nx87=" + std::to_string(x87_id) +
                     "\nmapped=" + std::to_string(mapped_id) +
                     "\nrecord=" + std::to_string(reinterpret_cast<uintptr_t>(&g_record)) + "\nvalues=";
  for (double value : g_x87_values) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof(bits));
    char hex[24];
    snprintf(hex, sizeof(hex), "%016" PRIx64 ",", bits);
    text += hex;
  }
  AppendText(L"child.txt", text + "\n");
  WriteThroughNull();
  return 7;  // not reached: the crash ends the process
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
  if (mode == L"dump-libraries")
    return DumpLibraries();
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

  if ((mode == L"null-write" || mode == L"invalid-handle" || mode == L"snapshot") && argc > 5)
    zorvi::installer::CrashServerClient::SetDumpWaitForTesting(std::stoul(argv[5]));
  if (mode == L"snapshot" && argc == 7)
    return Snapshot(pipe_name, std::stol(argv[6]));
  CrashExceptionHandler* handler = Register(pipe_name, mode == L"two-threads" ? &FirstCrashOnly : nullptr);
  if (mode == L"null-write" || mode == L"invalid-handle") {
    char text[128];
    snprintf(text, sizeof(text), "thread=%lu\nfunction=%llx\n", GetCurrentThreadId(),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&WriteThroughNull)));
    AppendText(L"client.txt", text);
    if (mode == L"invalid-handle") {
      CapturedException invalid_handle(EXCEPTION_INVALID_HANDLE);
      if (CrashExceptionHandler::HandleException(&invalid_handle.pointers) == EXCEPTION_EXECUTE_HANDLER)
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
