#include "base/process/exit_status.h"

#include <windows.h>

#include "base/logging.h"

namespace base {
namespace {

// Exit codes that mean the process was ended from outside rather than by its own choice or a fault.
constexpr DWORD kKilledExitCodes[] = {
    1,           // TerminateProcess with 1, what task managers use
    0x40010004,  // DBG_TERMINATE_PROCESS
    0xC000013A,  // STATUS_CONTROL_C_EXIT
    0xC0000354,  // STATUS_DEBUGGER_INACTIVE
};

}  // namespace

ProcessExitStatus GetProcessExitStatus(ProcessHandle process, int* exit_code) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) {
    // Nothing is known about how the process ended: that is not a clean exit.
    PLOG(ERROR) << "GetExitCodeProcess failed";
    if (exit_code)
      *exit_code = -1;
    return ProcessExitStatus::kAbnormal;
  }
  if (exit_code)
    *exit_code = static_cast<int>(code);

  if (code == STILL_ACTIVE) {
    const DWORD wait_result = ::WaitForSingleObject(process, 0);
    if (wait_result == WAIT_TIMEOUT) {
      if (exit_code)
        *exit_code = static_cast<int>(wait_result);
      return ProcessExitStatus::kRunning;
    }
    if (wait_result == WAIT_FAILED)
      PLOG(ERROR) << "WaitForSingleObject failed";
    // Signalled (or not waitable) yet claiming to be active: the process chose 259 as its exit code.
    return ProcessExitStatus::kAbnormal;
  }
  if (code == 0)
    return ProcessExitStatus::kNormal;
  for (DWORD killed : kKilledExitCodes) {
    if (code == killed)
      return ProcessExitStatus::kKilled;
  }
  return ProcessExitStatus::kCrashed;
}

}  // namespace base
