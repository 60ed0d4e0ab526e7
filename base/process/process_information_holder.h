// Owner of what CreateProcess hands back: the process and thread handles and their ids.
#ifndef BASE_PROCESS_PROCESS_INFORMATION_HOLDER_H_
#define BASE_PROCESS_PROCESS_INFORMATION_HOLDER_H_

#include <windows.h>

#include "base/win/scoped_handle.h"

namespace base {

class ProcessInformationHolder {
 public:
  ProcessInformationHolder() = default;
  // Takes ownership of both handles of `info`.
  explicit ProcessInformationHolder(const PROCESS_INFORMATION& info);
  ProcessInformationHolder(const ProcessInformationHolder&) = delete;
  ProcessInformationHolder& operator=(const ProcessInformationHolder&) = delete;
  ~ProcessInformationHolder();

  // Closes what is held, then takes ownership of both handles of `info`.
  void Set(const PROCESS_INFORMATION& info);
  // Closes both handles and forgets the ids.
  void Close();

  bool IsValid() const { return process_handle_.IsValid(); }
  HANDLE process_handle() const { return process_handle_.Get(); }
  HANDLE thread_handle() const { return thread_handle_.Get(); }
  DWORD process_id() const { return process_id_; }
  DWORD thread_id() const { return thread_id_; }

  // Gives up the process handle: the caller owns it now.
  [[nodiscard]] HANDLE TakeProcessHandle();
  // Closes the thread handle alone (the process handle stays).
  void CloseThreadHandle() { thread_handle_.Close(); }

 private:
  win::ScopedHandle process_handle_;
  win::ScopedHandle thread_handle_;
  DWORD process_id_ = 0;
  DWORD thread_id_ = 0;
};

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_INFORMATION_HOLDER_H_
