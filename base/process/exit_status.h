// How a process ended, read from its exit code.
#ifndef BASE_PROCESS_EXIT_STATUS_H_
#define BASE_PROCESS_EXIT_STATUS_H_

#include "base/process/process_handle.h"

namespace base {

enum class ProcessExitStatus {
  kNormal = 0,    // exit code 0
  kAbnormal = 1,  // the exit code cannot be read, or it is STILL_ACTIVE (259) while the process is signalled
  kKilled = 2,    // 1, DBG_TERMINATE_PROCESS, STATUS_CONTROL_C_EXIT or STATUS_DEBUGGER_INACTIVE
  kCrashed = 3,   // any other exit code
  kRunning = 4,   // STILL_ACTIVE and not signalled
};

// Classifies the process's exit code. With `exit_code` set it receives the code; while the process runs it
// receives WAIT_TIMEOUT (258), and -1 when the code cannot be read (so that no caller mistakes an unknown end
// for exit code 0).
ProcessExitStatus GetProcessExitStatus(ProcessHandle process, int* exit_code);

}  // namespace base

#endif  // BASE_PROCESS_EXIT_STATUS_H_
