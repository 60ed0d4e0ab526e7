// A crash of the crash reporter itself. The reporter cannot report to itself, so its own handlers record the
// crash in a block of its memory, start the library again as a self-reporter that reads that block, writes and
// uploads a crash log, and then releases the crashed reporter, which waits for it at most 20 seconds. A user's
// reporter crashes are reported at most once in three days, so that a reporter crashing over and over cannot
// flood the crash server.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_SELF_CRASH_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_SELF_CRASH_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"

namespace zorvi {
namespace installer {

// REG_QWORD under HKEY_CURRENT_USER\Software\<company>: the FILETIME of the last self-report sent.
inline constexpr wchar_t kLastReporterCrashValue[] = L"Last crash in crash reporter";
// The event a crashed reporter waits on ("<prefix><its pid>").
inline constexpr wchar_t kReporterExceptionEventPrefix[] = L"ZorviCrashReporterException";

// Installs the reporter's unhandled-exception filter and its runtime failure handlers, once per process.
void InstallCrashReporterHandlers();

// Prepares what the handlers need to start a self-reporter (the command line and the event it signals), so that
// a crash needs no allocation; nothing when already prepared. `minidump_mode` makes that self-reporter the last.
void PrepareSelfCrashRelaunch(bool minidump_mode);

// The whole self-report role of a process started by a crashed reporter.
void RunSelfCrashReporter();

// Releases the crashed reporter `process_id` from its wait.
void SignalSelfCrashHandled(uint32_t process_id);

// Whole days since the last self-report (a missing value is created as 0); false when the key or value cannot
// be read, or the clock is earlier than the stored time.
bool GetDaysSinceLastReporterCrash(uint64_t* days);
void SetLastReporterCrashTime(const SYSTEMTIME& time);

// "crash-reporter-exception-info" as an unsigned decimal 64-bit number.
bool GetExceptionInfoAddressFromSwitch(uint64_t* address);

// Attaches to the crashed reporter, snapshots it through its crash record at `record_address` and writes the
// text crash log to `path`; true when written.
bool CollectSelfCrashLog(uint32_t process_id, uint64_t record_address, const base::FilePath& path);

// The handlers as the system and the runtime call them.
LONG WINAPI OnReporterUnhandledException(EXCEPTION_POINTERS* exception_pointers);
void OnReporterInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                unsigned int line, uintptr_t reserved);
void OnReporterPureCall();

// Test-only: how long a crashed reporter waits for its self-reporter (20,000 ms); negative keeps the product's.
void SetSelfCrashWaitForTesting(int milliseconds);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_SELF_CRASH_H_
