#include "base/process/process.h"

#include <utility>

#include "base/logging.h"

namespace base {
namespace {

// How long Terminate waits for a terminated process to be gone.
constexpr DWORD kTerminateWaitMilliseconds = 60 * 1000;

}  // namespace

Process::Process(ProcessHandle handle) : process_(handle) {
  CHECK_NE(handle, ::GetCurrentProcess());
}

Process::Process(Process&& other) noexcept
    : is_current_process_(other.is_current_process_), process_(std::move(other.process_)) {
  other.is_current_process_ = false;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    const DWORD last_error = GetLastError();
    process_ = std::move(other.process_);
    is_current_process_ = other.is_current_process_;
    other.is_current_process_ = false;
    SetLastError(last_error);
  }
  return *this;
}

Process::~Process() = default;

Process Process::Current() {
  Process process;
  process.is_current_process_ = true;
  return process;
}

bool Process::IsValid() const {
  return process_.IsValid() || is_current_process_;
}

ProcessHandle Process::Handle() const {
  return is_current_process_ ? ::GetCurrentProcess() : process_.Get();
}

ProcessId Process::Pid() const {
  return GetProcessIdOfHandle(Handle());
}

void Process::Close() {
  is_current_process_ = false;
  process_.Close();
}

bool Process::Terminate(int exit_code, bool wait) const {
  if (!::TerminateProcess(Handle(), static_cast<UINT>(exit_code))) {
    PLOG(ERROR) << "Unable to terminate process " << Pid();
    return false;
  }
  if (wait && ::WaitForSingleObject(Handle(), kTerminateWaitMilliseconds) != WAIT_OBJECT_0)
    PLOG(ERROR) << "Error waiting for process " << Pid() << " to exit";
  return true;
}

}  // namespace base
