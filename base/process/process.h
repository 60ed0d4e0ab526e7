// Process: the owner of one process handle, or a stand-in for the calling process that owns nothing.
#ifndef BASE_PROCESS_PROCESS_H_
#define BASE_PROCESS_PROCESS_H_

#include <windows.h>

#include "base/process/process_handle.h"
#include "base/win/scoped_handle.h"

namespace base {

class Process {
 public:
  // Holds nothing (invalid).
  Process() = default;
  // Takes ownership of `handle`. The current-process pseudo handle is refused (a fatal check): use Current().
  explicit Process(ProcessHandle handle);
  Process(Process&& other) noexcept;
  // Keeps the thread's last error unchanged, even when an older handle is closed.
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  // The calling process; nothing is owned or closed.
  static Process Current();

  bool IsValid() const;
  // The held handle, or the current-process pseudo handle when this stands for the calling process.
  ProcessHandle Handle() const;
  ProcessId Pid() const;
  // Closes the handle; the object becomes invalid.
  void Close();

  // TerminateProcess with `exit_code`; when that succeeded and `wait` is set, waits up to a minute for the
  // process to end. The result is whether the termination was accepted.
  bool Terminate(int exit_code, bool wait) const;

 private:
  bool is_current_process_ = false;
  win::ScopedHandle process_;
};

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_H_
