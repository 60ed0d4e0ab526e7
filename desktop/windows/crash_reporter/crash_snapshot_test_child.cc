// A crash client whose threads are worth a crash log. It registers with the reporter behind PIPE_NAME, starts a
// thread holding eight x87 values, a thread whose stack pointer lies in a mapped file view, and THREADS threads
// parked in a wait; once all of them are parked it names them in DIR\child.txt and writes through a null pointer
// on its main thread. It waits WAIT_MS for the reporter's dump. Its crash handler's filter also fills a crash
// information record (the one a crashing reporter keeps for the copy that reports it) at the address named in
// child.txt.
//
//   crash_snapshot_test_child.exe PIPE_NAME THREADS DIR WAIT_MS
#include <windows.h>
#include <shellapi.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "desktop/windows/crash_reporter/crash_exception_handler.h"
#include "desktop/windows/crash_reporter/crash_minidump.h"
#include "desktop/windows/crash_reporter/crash_server_client.h"

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

bool FillRecord(void*, EXCEPTION_POINTERS* exception_pointers, zorvi::installer::CrashAssertionRecord*) {
  g_record.thread_id = GetCurrentThreadId();
  g_record.exception_pointers = reinterpret_cast<uintptr_t>(exception_pointers);
  return true;
}

volatile int* volatile g_null_target = nullptr;

__attribute__((noinline)) void WriteThroughNull() {
  *g_null_target = 1;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 5)
    return 1;
  const std::wstring pipe_name = argv[1], folder = argv[3];
  const long parked_threads = std::stol(argv[2]);
  zorvi::installer::CrashServerClient::SetDumpWaitForTesting(std::stoul(argv[4]));
  auto* handler = new zorvi::installer::CrashExceptionHandler(
      std::wstring(), &FillRecord, nullptr, nullptr, zorvi::installer::CrashExceptionHandler::kHandleAll, 0, pipe_name,
      nullptr);
  if (!handler->IsOutOfProcess())
    return 2;

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
  text += "\n";
  FILE* file = _wfopen((folder + L"\\child.txt").c_str(), L"wb");
  if (!file || fwrite(text.data(), 1, text.size(), file) != text.size() || fclose(file) != 0)
    return 6;
  WriteThroughNull();
  return 7;  // not reached: the crash ends the process
}
