#include "base/process/process_handle.h"

namespace base {

ProcessId CurrentProcessId() {
  return GetCurrentProcessId();
}

ProcessId GetProcessIdOfHandle(ProcessHandle process) {
  return GetProcessId(process);
}

}  // namespace base
