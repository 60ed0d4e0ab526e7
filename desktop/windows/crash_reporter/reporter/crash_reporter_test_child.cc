// A crash host for the reporter's tests: starts up as an installer process (finds or starts its reporter, which is
// this program again with "crash-reporter-parent-id", connects its crash client, fills its crash keys) and fails.
//   crash_reporter_test_child.exe MODE DIR [--test-start-wait=MS] [--test-self-wait=MS] [--test-dump-wait=MS] ...
// The waits replace the product's. Before failing it writes DIR\client-<pid>.txt (reporter=, start_ms=, thread=,
// modules=), sets the event "<DIR's last component>_ready" and waits for "_go" (the test takes hold first).
// Modes: start-only (exit 0), wait (until ended), null-write, breakpoint, pure-call, invalid-parameter (the
// installed handler, called as the runtime would), window-proc (a faulting window procedure under the pump's
// guard), two-threads (two threads fault at once), handle-trace (publishes a ring of handles 0x44, 0x45, 0x44 with
// 0x44 suspected, then writes through null), reporter-exits (as reporter: ends without signalling).
// With --test-hold-stopping its reporter, once its parent and every crash are done, sets "<base>_stopping" and
// serves its pipe on until "<base>_resume" is set.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/message_loop/guarded_window_proc.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/windows/crash_reporter/client/crash_client_startup.h"
#include "desktop/windows/crash_reporter/client/crash_exception_handler.h"
#include "desktop/windows/crash_reporter/client/crash_keys.h"
#include "desktop/windows/crash_reporter/client/crash_server_client.h"
#include "desktop/windows/crash_reporter/client/crashing_code_test_util.h"
#include "desktop/windows/crash_reporter/reporter/crash_reporter_main.h"
#include "desktop/windows/crash_reporter/reporter/crash_url.h"
#include "desktop/windows/crash_reporter/reporter/reporter_self_crash.h"

namespace zi = zorvi::installer;
using crash_test::WriteThroughNull;

namespace {

LRESULT CALLBACK FaultingWindowProc(HWND, UINT, WPARAM, LPARAM) {
  WriteThroughNull();
  return 0;
}

DWORD WINAPI SecondThread(void* start) {
  WaitForSingleObject(static_cast<HANDLE>(start), INFINITE);
  WriteThroughNull();
  return 0;
}

zi::HandleTraceBuffer g_trace;

void PublishHandleTrace() {
  // Three records; the middle one's handle is not the suspect.
  for (uint32_t i = 0; i < 3; ++i) {
    zi::HandleTraceRecord& record = g_trace.records[i];
    record = {};
    record.handle = i == 1 ? 0x45 : 0x44;
    record.thread_id = GetCurrentThreadId();
    record.timestamp = 0x100 + i;
    record.frame_count = 1;
    record.frames[0] = 0x7000 + i;
    snprintf(record.type, sizeof(record.type), "Event");
    snprintf(record.info, sizeof(record.info), "record %u", i);
  }
  g_trace.begin = 0;
  g_trace.end = 3;
  // The keys' table ends with "handle_info_items" and "invalid_handle".
  wchar_t address[32];
  swprintf(address, 32, L"0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&g_trace)));
  zi::CrashKeys::GetInstance()->SetValue(94, address);
  zi::CrashKeys::GetInstance()->SetValue(95, L"44");
}

void WriteClientFacts(const std::wstring& dir, uint64_t start_ms) {
  const std::wstring path = dir + L"\\client-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file)
    ExitProcess(20);
  fprintf(file, "reporter=%u\nstart_ms=%llu\nthread=%lu\nmodules=%ls\n", zi::GetCrashReporterProcessId(),
          static_cast<unsigned long long>(start_ms), GetCurrentThreadId(), zi::GetLoadedModulesText().c_str());
  fclose(file);
}

HANDLE NamedEvent(const std::wstring& dir, const wchar_t* suffix) {
  const std::wstring base = dir.substr(dir.rfind(L'\\') + 1);
  return CreateEventW(nullptr, TRUE, FALSE, (base + suffix).c_str());
}

std::wstring g_dir;

void HoldStopping() {
  const HANDLE resume = NamedEvent(g_dir, L"_resume");
  SetEvent(NamedEvent(g_dir, L"_stopping"));
  WaitForSingleObject(resume, 120000);
}

}  // namespace

int main() {
  base::CommandLine::Init();
  base::AtExitManager at_exit;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  // The reporter's command line puts the switches it adds before these; a self-reporter's has none.
  const base::CommandLine::StringVector arguments = command_line.GetArgs();
  const std::wstring mode = arguments.empty() ? std::wstring() : arguments[0];
  unsigned wait = 0;
  if (base::StringToUint(command_line.GetSwitchValueNative("test-start-wait"), &wait))
    zi::SetCrashReporterStartWaitForTesting(static_cast<int>(wait));
  if (base::StringToUint(command_line.GetSwitchValueNative("test-self-wait"), &wait))
    zi::SetSelfCrashWaitForTesting(static_cast<int>(wait));
  if (base::StringToUint(command_line.GetSwitchValueNative("test-dump-wait"), &wait))
    zi::CrashServerClient::SetDumpWaitForTesting(wait);
  // The tests' crash servers speak plain HTTP only.
  zi::SetPlainCollectorForTesting(true);

  if (command_line.HasSwitch(zi::kCrashReporterParentIdSwitch)) {
    if (mode == L"reporter-exits" && !command_line.HasSwitch(zi::kCrashReporterExceptionInfoSwitch))
      return 0;
    if (command_line.HasSwitch("test-hold-stopping") && arguments.size() >= 2) {
      g_dir = arguments[1];
      zi::SetReporterStoppingHookForTesting(&HoldStopping);
    }
    zi::RunCrashReporterProcess();
    return 0;
  }
  if (arguments.size() < 2)
    return 10;
  const std::wstring dir = arguments[1];

  const ULONGLONG start = GetTickCount64();
  uint32_t reporter = zi::GetCrashReporterPidFromSwitch();
  if (!reporter)
    reporter = zi::StartCrashReporter();
  const ULONGLONG start_ms = GetTickCount64() - start;
  zi::SetCrashReporterProcessId(reporter);
  if (reporter)
    zi::InitCrashReporterClient();
  zi::SetInstallerCrashKeys();
  if (mode == L"handle-trace")
    PublishHandleTrace();
  WriteClientFacts(dir, start_ms);
  // Held before "_ready": the test sets "_go" and closes its handle, which would end an event nobody else held.
  const HANDLE go = NamedEvent(dir, L"_go");
  SetEvent(NamedEvent(dir, L"_ready"));
  if (WaitForSingleObject(go, 120000) != WAIT_OBJECT_0)
    return 11;
  if (mode == L"start-only" || mode == L"reporter-exits")
    return 0;

  if (mode == L"wait") {
    Sleep(INFINITE);
  } else if (mode == L"null-write" || mode == L"handle-trace") {
    WriteThroughNull();
  } else if (mode == L"breakpoint") {
    __debugbreak();
  } else if (mode == L"pure-call") {
    delete new crash_test::PureCallDerived;
  } else if (mode == L"invalid-parameter") {
    zi::CrashExceptionHandler::HandleInvalidParameter(L"expression", L"function", L"file.cc", 7, 0);
  } else if (mode == L"window-proc") {
    base::CallWindowProcGuarded(&FaultingWindowProc, nullptr, WM_USER, 0, 0);
  } else if (mode == L"two-threads") {
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, &SecondThread, start, 0, nullptr));
    SetEvent(start);
    WriteThroughNull();
  }
  return 12;
}
