// A program that misbehaves on purpose, for the checks of the test harness itself (tools/check-wine-stacks.sh,
// tools/check-wine-server-crash.sh).
//
//   harness_test_child hang [--spawn] [--ready=NAME]
//     Hangs: the main thread waits in WaitForTheWorker for a worker blocked in BlockForGood, on an event nobody
//     sets. With --spawn it first starts a copy of itself and waits until that copy is blocked too, so that a
//     report must cover the processes a test starts as well; with --ready it sets the named event once blocked.
//   harness_test_child crash-wine
//     Dies the way a program dies when wine's own code crashes under it: by a Linux signal (SIGSYS, raised on itself
//     through raw system calls), not by a Windows exception. Meaningful under wine only.
//   harness_test_child query-handles [--after=NAME]
//     Waits for the named event (when given), then asks for the handle list of every process on the machine and
//     prints how many handles it holds.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HANDLE g_ready = nullptr;
HANDLE g_main_waits = nullptr;

// The named event is set in the same call that starts the wait, and only once the main thread waits too: whoever
// it wakes finds both threads blocked, never about to block (a thread that has yet to make its call when the wine
// server dies ends instead of hanging).
__attribute__((noinline)) DWORD WINAPI BlockForGood(void* never_set) {
  ::WaitForSingleObject(g_main_waits, INFINITE);
  const DWORD result = g_ready ? ::SignalObjectAndWait(g_ready, static_cast<HANDLE>(never_set), INFINITE, FALSE)
                               : ::WaitForSingleObject(static_cast<HANDLE>(never_set), INFINITE);
  // Never reached; the call after the wait also keeps this function's frame on the stack (no tail call).
  std::printf("the worker woke up: %lu\n", result);
  return result;
}

__attribute__((noinline)) void WaitForTheWorker(HANDLE worker) {
  const DWORD result = ::SignalObjectAndWait(g_main_waits, worker, INFINITE, FALSE);
  std::printf("the worker ended: %lu\n", result);
}

// Starts a copy of this program that hangs, and waits until its worker is blocked.
bool SpawnBlockedCopy() {
  const std::wstring ready = L"harness_test_child_ready_" + std::to_wstring(::GetCurrentProcessId());
  HANDLE blocked = ::CreateEventW(nullptr, TRUE, FALSE, ready.c_str());
  wchar_t path[MAX_PATH];
  if (!blocked || !::GetModuleFileNameW(nullptr, path, MAX_PATH))
    return false;
  std::wstring command = L"\"" + std::wstring(path) + L"\" hang --ready=" + ready;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  HANDLE waits[] = {blocked, info.hProcess};
  return ::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
}

int Hang(bool spawn) {
  if (spawn && !SpawnBlockedCopy()) {
    std::fprintf(stderr, "could not start the blocked copy: error %lu\n", ::GetLastError());
    return 2;
  }
  HANDLE never_set = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_main_waits = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE worker = ::CreateThread(nullptr, 0, &BlockForGood, never_set, 0, nullptr);
  if (!never_set || !g_main_waits || !worker)
    return 3;
  std::printf("process %lu blocks\n", ::GetCurrentProcessId());
  std::fflush(stdout);
  WaitForTheWorker(worker);
  return 0;
}

int CrashWine() {
  long pid, tid, result;
  asm volatile("syscall" : "=a"(pid) : "a"(39L) : "rcx", "r11", "memory");   // getpid
  asm volatile("syscall" : "=a"(tid) : "a"(186L) : "rcx", "r11", "memory");  // gettid
  asm volatile("syscall" : "=a"(result) : "a"(234L), "D"(pid), "S"(tid), "d"(31L) : "rcx", "r11", "memory");  // tgkill SIGSYS
  std::fprintf(stderr, "the signal did not end the process: %ld\n", result);
  return 5;
}

int QueryHandles(const std::wstring& after) {
  if (!after.empty()) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, after.c_str());
    if (!event || ::WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0)
      return 3;
  }
  using QueryFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  constexpr ULONG kSystemHandleInformation = 16;
  static char buffer[1 << 24];
  ULONG needed = 0;
  const LONG status = query(kSystemHandleInformation, buffer, sizeof(buffer), &needed);
  std::printf("status 0x%lx, %lu handles\n", static_cast<unsigned long>(status), *reinterpret_cast<ULONG*>(buffer));
  return status == 0 ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  bool spawn = false;
  std::wstring ready, after;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--spawn")
      spawn = true;
    else if (arg.rfind("--ready=", 0) == 0)
      ready.assign(arg.begin() + 8, arg.end());
    else if (arg.rfind("--after=", 0) == 0)
      after.assign(arg.begin() + 8, arg.end());
  }
  if (!ready.empty() && !(g_ready = ::CreateEventW(nullptr, TRUE, FALSE, ready.c_str())))
    return 3;
  if (mode == "hang")
    return Hang(spawn);
  if (mode == "crash-wine")
    return CrashWine();
  if (mode == "query-handles")
    return QueryHandles(after);
  std::fprintf(stderr,
               "usage: harness_test_child hang [--spawn] [--ready=NAME] | crash-wine | query-handles [--after=NAME]\n");
  return 2;
}
