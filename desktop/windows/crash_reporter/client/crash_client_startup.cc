#include "desktop/windows/crash_reporter/client/crash_client_startup.h"

#include <psapi.h>

#include <atomic>
#include <iomanip>
#include <memory>
#include <sstream>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/window_proc_exception_filter.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/windows/crash_reporter/client/crash_exception_handler.h"
#include "desktop/windows/crash_reporter/client/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_common.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {

namespace {

// This process's command line for the reporter, which reads its switches, all but those that give the reporter
// its role: given to this process, they would make the reporter take the healthy installer for a crashed reporter
// and report it, or name another parent.
base::CommandLine ReporterCommandLine(const base::FilePath& executable) {
  base::CommandLine reporter = *base::CommandLine::ForCurrentProcess();
  reporter.SetProgram(executable);
  for (const char* role : {kCrashReporterParentIdSwitch, kCrashReporterExceptionInfoSwitch,
                           kCrashReporterMinidumpSwitch}) {
    reporter.RemoveSwitch(role);
  }
  return reporter;
}

constexpr DWORD kReporterStartWaitMs = 2000;
constexpr DWORD kModulePathSize = MAX_PATH;

std::atomic<uint32_t> g_reporter_process_id{0};
std::atomic<int> g_reporter_start_wait_ms{-1};
// Set once at start-up and kept until the process ends: its hooks must outlive every thread that may crash.
CrashExceptionHandler* g_crash_handler = nullptr;
volatile LONG g_first_crash = 0;

// Lets exactly one crash through to a report. Every later crashing thread, whichever way it came, is parked for
// good: the process ends under it once the first report is done.
bool FirstCrashGate(void*, EXCEPTION_POINTERS*, CrashAssertionRecord*) {
  if (InterlockedCompareExchange(&g_first_crash, 1, 0) != 0)
    Sleep(INFINITE);
  return true;
}

// A reported crash counts as handled, whatever became of the dump.
bool DumpDone(const wchar_t*, const wchar_t*, void*, EXCEPTION_POINTERS*, CrashAssertionRecord*, bool) {
  return true;
}

// The modules the reporter needs to make sense of addresses in this process; null is the executable. The
// names are written as listed here, not as the system spells the loaded file.
constexpr const wchar_t* kReportedModules[] = {nullptr,           kPackageLibraryFileName, L"KernelBase.dll",
                                               L"kernel32.dll",   L"ntdll.dll",            L"user32.dll",
                                               L"msvcrt.dll"};

}  // namespace

uint32_t GetCrashReporterPidFromSwitch() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch(kCrashReporterPidSwitch))
    return 0;
  unsigned process_id = 0;
  if (!base::StringToUint(command_line.GetSwitchValueNative(kCrashReporterPidSwitch), &process_id))
    return 0;
  return process_id;
}

uint32_t StartCrashReporter() {
  // The reporter is this executable again. The command line's first word need not name it (a parent may start a
  // program under any name), and the system would look that word up in this folder, the current one and the
  // search path.
  base::FilePath executable;
  if (!GetOwnExecutablePath(&executable))
    return 0;
  base::CommandLine command_line = ReporterCommandLine(executable);
  command_line.AppendSwitchASCII(kCrashReporterParentIdSwitch, std::to_string(GetCurrentProcessId()));
  const std::wstring event_name = FormatCrashObjectName(kCrashReporterInitEventPrefix, GetCurrentProcessId());
  if (event_name.empty())
    return 0;
  base::win::ScopedHandle init_event(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  if (!init_event.IsValid())
    return 0;
  std::wstring command = command_line.GetCommandLineString();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
    return 0;
  base::win::ScopedHandle process(started.hProcess);
  base::win::ScopedHandle thread(started.hThread);
  // A reporter that ends before it is ready ends the wait at once. One that is merely slow is left running:
  // it ends by itself with this process.
  const HANDLE objects[] = {init_event.Get(), process.Get()};
  const int wait = g_reporter_start_wait_ms.load();
  const DWORD result = WaitForMultipleObjects(2, objects, FALSE, wait >= 0 ? wait : kReporterStartWaitMs);
  return result == WAIT_OBJECT_0 ? started.dwProcessId : 0;
}

void SetCrashReporterProcessId(uint32_t process_id) {
  g_reporter_process_id.store(process_id);
}

uint32_t GetCrashReporterProcessId() {
  return g_reporter_process_id.load();
}

void InitCrashReporterClient() {
  const uint32_t reporter = GetCrashReporterProcessId();
  if (g_crash_handler || !reporter)
    return;
  const std::wstring pipe_name = FormatCrashObjectName(kCrashPipeNamePrefix, reporter);
  if (pipe_name.empty())
    return;
  const CrashCustomClientInfo custom_info = CrashKeys::GetInstance()->custom_client_info();
  auto handler = std::make_unique<CrashExceptionHandler>(std::wstring(), &FirstCrashGate, &DumpDone, nullptr,
                                                         CrashExceptionHandler::kHandleAll, 0, pipe_name,
                                                         &custom_info);
  // Without the reporter the handler would write dumps itself; the installer rather runs without one.
  if (!handler->IsOutOfProcess())
    return;
  handler->set_report_debug_exceptions(true);
  g_crash_handler = handler.release();
  base::win::SetWindowProcExceptionFilter(&WriteDumpAndTerminate);
}

void SetInstallerCrashKeys() {
  CrashKeys* keys = CrashKeys::GetInstance();
  keys->SetValue(CrashKeys::kProcessType, L"installer");
  const std::wstring test = ReadEnvironmentVariable(L"ZORVI_CRASH_REPORTER_VEMTRA_TEST");
  if (!test.empty())
    keys->SetValueRange(CrashKeys::kVemtraTestFirst, CrashKeys::kVemtraTestLast, test.c_str());
  const std::wstring origin = ReadEnvironmentVariable(L"ZORVI_CRASH_ORIGIN");
  if (!origin.empty())
    keys->SetValue(CrashKeys::kOrigin, origin.c_str());
  keys->SetValueRange(CrashKeys::kModulesFirst, CrashKeys::kModulesLast, GetLoadedModulesText().c_str());
}

std::wstring GetLoadedModulesText() {
  std::wostringstream text;
  for (const wchar_t* name : kReportedModules) {
    const HMODULE module = GetModuleHandleW(name);
    if (!module)
      continue;
    MODULEINFO info = {};
    if (!GetModuleInformation(GetCurrentProcess(), module, &info, sizeof(info)))
      continue;
    wchar_t path[kModulePathSize];
    const DWORD length = GetModuleFileNameW(module, path, kModulePathSize);
    // A path that fills the buffer may have been cut.
    if (length == 0 || length >= kModulePathSize)
      continue;
    std::wstring entry_name;
    if (name) {
      entry_name = name;
    } else {
      const wchar_t* slash = wcsrchr(path, L'\\');
      if (!slash || !slash[1])
        continue;
      entry_name = slash + 1;
    }
    text << entry_name << L':' << std::uppercase << std::hex << std::setw(16) << std::setfill(L'0')
         << reinterpret_cast<uintptr_t>(info.lpBaseOfDll) << L':' << std::nouppercase << std::setw(0)
         << info.SizeOfImage << L':' << path << L"::";
  }
  return text.str();
}

int WriteDumpAndTerminate(EXCEPTION_POINTERS* exception_pointers, void*) {
  if (g_crash_handler)
    g_crash_handler->WriteDumpNow(exception_pointers);
  TerminateProcess(GetCurrentProcess(), 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

void SetCrashReporterStartWaitForTesting(int milliseconds) {
  g_reporter_start_wait_ms.store(milliseconds);
}

}  // namespace installer
}  // namespace zorvi
