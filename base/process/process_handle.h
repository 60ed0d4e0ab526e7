// Process ids of the calling process and of a process handle.
#ifndef BASE_PROCESS_PROCESS_HANDLE_H_
#define BASE_PROCESS_PROCESS_HANDLE_H_

#include <windows.h>

namespace base {

using ProcessHandle = HANDLE;
using ProcessId = DWORD;

ProcessId CurrentProcessId();

// 0 when the handle does not name a process (or lacks the query right).
ProcessId GetProcessIdOfHandle(ProcessHandle process);

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_HANDLE_H_
