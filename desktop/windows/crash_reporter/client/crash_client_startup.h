// The crash client's start-up in an installer process: finds or starts the process's crash reporter, connects
// the crash handler to the reporter's pipe, sends exceptions that escape a window procedure to the same
// handler, and fills the installer's crash keys. Nothing here logs: it runs before logging is set up, and a
// process whose reporter cannot be reached simply runs without crash handling.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_CLIENT_STARTUP_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_CLIENT_STARTUP_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace zorvi {
namespace installer {

// "crash-reporter-pid" as an unsigned decimal number; 0 when absent or not such a number.
uint32_t GetCrashReporterPidFromSwitch();

// Starts this process's command line again as its crash reporter and returns the reporter's process id once
// the reporter says its pipe is listening; 0 when it cannot start, ends first or takes longer than 2000 ms.
uint32_t StartCrashReporter();

// The reporter this process reports its crashes to, as start-up found or started it; 0 when none.
void SetCrashReporterProcessId(uint32_t process_id);
uint32_t GetCrashReporterProcessId();

// Connects the process's one crash handler to the reporter recorded above, unless there is no reporter or a
// handler already exists. A handler that cannot register is dropped: no dump is ever written in process.
void InitCrashReporterClient();

// Fills the installer's crash keys: process type, test and origin values from the environment, the modules.
void SetInstallerCrashKeys();

// "<name>:<base, 16 upper-case hex digits>:<size, lower-case hex>:<path>::" for each of the modules the
// reporter needs to read the crash (the executable, this library, the system's core libraries) that is loaded.
std::wstring GetLoadedModulesText();

// The hook the window procedure's exception handler calls: reports the crash and ends the process with exit
// code 1. Installed by InitCrashReporterClient once a handler is connected.
int WriteDumpAndTerminate(EXCEPTION_POINTERS* exception_pointers, void* value);

// Test-only: how long StartCrashReporter waits for the reporter (2000 ms); negative keeps the product's.
void SetCrashReporterStartWaitForTesting(int milliseconds);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_CLIENT_STARTUP_H_
