#include "desktop/windows/crash_reporter/reporter/reporter_self_crash.h"

#include <atomic>
#include <cwchar>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/windows/crash_reporter/crash_common.h"
#include "desktop/windows/crash_reporter/reporter/crash_files.h"
#include "desktop/windows/crash_reporter/reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"
#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"
#include "desktop/windows/crash_reporter/reporter/crash_reporter_log.h"
#include "desktop/windows/crash_reporter/reporter/crash_reporter_main.h"
#include "desktop/windows/crash_reporter/reporter/crash_upload.h"
#include "desktop/windows/crash_reporter/reporter/crash_url.h"
#include "desktop/windows/crash_reporter/reporter/reporter_lifetime.h"
#include "desktop/windows/crash_reporter/reporter/reporter_settings.h"
#include "desktop/windows/crash_reporter/runtime_hooks.h"

namespace zorvi {
namespace installer {

namespace {

constexpr DWORD kSelfCrashWaitMs = 20000;
constexpr uint64_t kMinimumDaysBetweenReports = 3;
constexpr uint64_t kFileTimeUnitsPerDay = 864000000000ULL;
constexpr DWORD kInvalidParameterCode = 0xC000000D;
constexpr DWORD kPureCallCode = 0xC0000025;

// Everything a crashing reporter thread touches is made before the crash: the record the self-reporter reads,
// the command line that starts it and the event it signals. None of it is ever freed, since a crash may come
// while the process is being torn down.
CrashInformationRecord g_record = {};
volatile LONG g_crash_claimed = 0;
bool g_handlers_installed = false;
bool g_relaunch_armed = false;
base::win::ScopedHandle* g_exception_event = nullptr;
std::wstring* g_relaunch_command = nullptr;
std::atomic<int> g_self_crash_wait_ms{-1};

// The first crashing thread goes on to report; any later one stops for good. True when a report can be made.
bool ClaimCrash() {
  if (InterlockedCompareExchange(&g_crash_claimed, 1, 0) != 0) {
    for (;;)
      SuspendThread(GetCurrentThread());
  }
  return g_relaunch_armed;
}

// Starts the self-reporter and waits until it has read this process (or gave up on it).
void RelaunchForSelfCrash() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, &(*g_relaunch_command)[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  const int configured = g_self_crash_wait_ms.load();
  const DWORD wait = configured >= 0 ? static_cast<DWORD>(configured) : kSelfCrashWaitMs;
  if (g_exception_event->IsValid())
    WaitForSingleObject(g_exception_event->Get(), wait);
  else
    Sleep(wait);
}

void CopyAssertionText(const wchar_t* text, wchar_t (&target)[CrashAssertionRecord::kTextLength]) {
  if (text && *text)
    wcsncpy_s(target, CrashAssertionRecord::kTextLength, text, _TRUNCATE);
}

// The runtime failures have no exception of their own: one is made up on this stack, where the self-reporter
// reads it while this thread waits.
[[noreturn]] void ReportRuntimeFailure(DWORD code, uint32_t type, const wchar_t* expression, const wchar_t* function,
                                       const wchar_t* file, unsigned int line) {
  if (ClaimCrash()) {
    EXCEPTION_RECORD exception = {};
    exception.ExceptionCode = code;
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_POINTERS pointers = {&exception, &context};
    g_record.thread_id = GetCurrentThreadId();
    g_record.exception_pointers = reinterpret_cast<uintptr_t>(&pointers);
    g_record.assertion.type = type;
    CopyAssertionText(expression, g_record.assertion.expression);
    CopyAssertionText(function, g_record.assertion.function);
    CopyAssertionText(file, g_record.assertion.file);
    g_record.assertion.line = line;
    RelaunchForSelfCrash();
  }
  // No at-exit work in a process that failed: it ends at once, with the failure's code.
  TerminateProcess(GetCurrentProcess(), code);
  for (;;)
    Sleep(INFINITE);
}

bool OpenReporterSettingsKey(base::win::RegKey* key) {
  const std::wstring path = L"Software\\" + base::UTF8ToWide(GetBrandingCompanyName());
  return key->Create(HKEY_CURRENT_USER, path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE) == ERROR_SUCCESS;
}

uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void InstallCrashReporterHandlers() {
  if (g_handlers_installed)
    return;
  g_handlers_installed = true;
  SetUnhandledExceptionFilter(&OnReporterUnhandledException);
  SetInvalidParameterHandler(&OnReporterInvalidParameter);
  SetPureCallHandler(&OnReporterPureCall);
}

void PrepareSelfCrashRelaunch(bool minidump_mode) {
  if (g_relaunch_armed)
    return;
  base::FilePath executable;
  if (!GetOwnExecutablePath(&executable))
    return;
  const uint32_t own_id = GetCurrentProcessId();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, FormatCrashObjectName(kReporterExceptionEventPrefix, own_id).c_str());
  if (!event)
    return;
  g_exception_event = new base::win::ScopedHandle(event);
  base::CommandLine command_line(executable);
  command_line.AppendSwitchASCII(kCrashReporterExceptionInfoSwitch,
                                 std::to_string(reinterpret_cast<uintptr_t>(&g_record)));
  command_line.AppendSwitchASCII(kCrashReporterParentIdSwitch, std::to_string(own_id));
  if (minidump_mode)
    command_line.AppendSwitch(kCrashReporterMinidumpSwitch);
  g_relaunch_command = new std::wstring(command_line.GetCommandLineString());
  g_relaunch_armed = true;
}

LONG WINAPI OnReporterUnhandledException(EXCEPTION_POINTERS* exception_pointers) {
  if (ClaimCrash()) {
    g_record.thread_id = GetCurrentThreadId();
    g_record.exception_pointers = reinterpret_cast<uintptr_t>(exception_pointers);
    g_record.assertion.type = 0;
    RelaunchForSelfCrash();
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

void OnReporterInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                unsigned int line, uintptr_t) {
  ReportRuntimeFailure(kInvalidParameterCode, 1, expression, function, file, line);
}

void OnReporterPureCall() {
  ReportRuntimeFailure(kPureCallCode, 2, nullptr, nullptr, nullptr, 0);
}

void SignalSelfCrashHandled(uint32_t process_id) {
  const std::wstring name = FormatCrashObjectName(kReporterExceptionEventPrefix, process_id);
  base::win::ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  if (event.IsValid())
    SetEvent(event.Get());
}

bool GetDaysSinceLastReporterCrash(uint64_t* days) {
  base::win::RegKey key;
  if (!OpenReporterSettingsKey(&key))
    return false;
  uint64_t stored = 0;
  DWORD size = sizeof(stored);
  DWORD type = 0;
  const LONG result = key.ReadValue(kLastReporterCrashValue, &stored, &size, &type);
  if (result == ERROR_FILE_NOT_FOUND) {
    stored = 0;
    key.WriteValue(kLastReporterCrashValue, &stored, sizeof(stored), REG_QWORD);
  } else if (result != ERROR_SUCCESS) {
    return false;
  }
  SYSTEMTIME now_system;
  GetSystemTime(&now_system);
  FILETIME now_file;
  if (!SystemTimeToFileTime(&now_system, &now_file))
    return false;
  const uint64_t now = FileTimeValue(now_file);
  // A clock set back: no telling how long it has been.
  if (now < stored)
    return false;
  *days = (now - stored) / kFileTimeUnitsPerDay;
  return true;
}

void SetLastReporterCrashTime(const SYSTEMTIME& time) {
  FILETIME file_time;
  if (!SystemTimeToFileTime(&time, &file_time))
    return;
  base::win::RegKey key;
  if (!OpenReporterSettingsKey(&key))
    return;
  const uint64_t value = FileTimeValue(file_time);
  key.WriteValue(kLastReporterCrashValue, &value, sizeof(value), REG_QWORD);
}

bool GetExceptionInfoAddressFromSwitch(uint64_t* address) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch(kCrashReporterExceptionInfoSwitch))
    return false;
  return base::StringToUint64(command_line.GetSwitchValueASCII(kCrashReporterExceptionInfoSwitch), address);
}

bool CollectSelfCrashLog(uint32_t process_id, uint64_t record_address, const base::FilePath& path) {
  return WriteCrashLogOfStoppedProcess(
      process_id, record_address + offsetof(CrashInformationRecord, exception_pointers),
      record_address + offsetof(CrashInformationRecord, thread_id), {},
      [](const ProcessStateImpl&, CrashLogInfo* info) { AddSelfCrashMetadata(info); }, path);
}

void RunSelfCrashReporter() {
  uint32_t crashed_id = 0;
  // Without the crashed reporter's id nobody can be told: it waits out its time.
  if (!GetParentProcessIdFromSwitch(&crashed_id))
    return;
  uint64_t record_address = 0;
  uint64_t days = 0;
  if (!GetExceptionInfoAddressFromSwitch(&record_address) || !GetDaysSinceLastReporterCrash(&days) ||
      days < kMinimumDaysBetweenReports) {
    SignalSelfCrashHandled(crashed_id);
    return;
  }
  const bool minidump_mode = base::CommandLine::ForCurrentProcess()->HasSwitch(kCrashReporterMinidumpSwitch);
  if (!minidump_mode) {
    PrepareSelfCrashRelaunch(true);
    InitCrashFolders();
    InitCrashReporterLogging();
    ReadReporterSettings(GetBrowserStateFilePath());
  }
  const uint32_t sequence_number = TakeCrashSequenceNumber();
  base::FilePath temp_dir;
  base::GetTempDir(&temp_dir);
  base::FilePath log_path = temp_dir.Append(base::UTF8ToWide(GetCrashLogFileName(sequence_number)));
  bool written;
  if (minidump_mode) {
    CrashLogInfo info;
    AddSelfCrashMetadata(&info);
    written = WriteSelfCrashLog(crashed_id, record_address, info, log_path, kReporterMinidumpSizeLimit);
  } else {
    written = CollectSelfCrashLog(crashed_id, record_address, log_path);
  }
  if (!written)
    log_path.clear();
  base::FilePath dump_path;
  if (IsAlternativeCrashLoggingEnabled()) {
    dump_path = temp_dir.Append(base::UTF8ToWide(GetCrashDumpFileName(sequence_number)));
    if (!WriteSelfMinidump(crashed_id, record_address, dump_path, kReporterMinidumpSizeLimit))
      dump_path.clear();
  }
  // Everything of the crashed reporter has been read: it may end now.
  SignalSelfCrashHandled(crashed_id);

  bool uploaded = false;
  if (!log_path.empty() || !dump_path.empty())
    InitCrashUrl();
  if (!log_path.empty()) {
    UploadParameters parameters;
    AddSelfLogUploadParameters(&parameters);
    uploaded |= UploadLogNow(log_path, parameters, !minidump_mode);
    DeleteFileW(log_path.value().c_str());
  }
  if (!dump_path.empty()) {
    UploadParameters parameters;
    AddSelfDumpUploadParameters(&parameters);
    uploaded |= UploadMinidumpNow(dump_path, parameters);
    DeleteFileW(dump_path.value().c_str());
  }
  if (uploaded) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    SetLastReporterCrashTime(now);
  }
}

void SetSelfCrashWaitForTesting(int milliseconds) {
  g_self_crash_wait_ms.store(milliseconds);
}

}  // namespace installer
}  // namespace zorvi
