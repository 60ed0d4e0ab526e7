#include "base/process/process_information_holder.h"

namespace base {

ProcessInformationHolder::ProcessInformationHolder(const PROCESS_INFORMATION& info) {
  Set(info);
}

ProcessInformationHolder::~ProcessInformationHolder() = default;

void ProcessInformationHolder::Set(const PROCESS_INFORMATION& info) {
  process_handle_.Set(info.hProcess);
  thread_handle_.Set(info.hThread);
  process_id_ = info.dwProcessId;
  thread_id_ = info.dwThreadId;
}

void ProcessInformationHolder::Close() {
  process_handle_.Close();
  thread_handle_.Close();
  process_id_ = 0;
  thread_id_ = 0;
}

HANDLE ProcessInformationHolder::TakeProcessHandle() {
  process_id_ = 0;
  return process_handle_.Take();
}

}  // namespace base
