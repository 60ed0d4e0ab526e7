// One thread of a crashed process: its registers, priority and how much sound stack lies above its stack
// pointer, read while the process is stopped.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_THREAD_INFO_IMPL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_THREAD_INFO_IMPL_H_

#include <windows.h>

#include <cstdint>

#include "desktop/windows/crash_reporter/reporter/process_state.h"

namespace zorvi {
namespace installer {

class ThreadInfoImpl : public ThreadInfo {
 public:
  ThreadInfoImpl(uint32_t thread_id, bool crashed);
  ~ThreadInfoImpl() override;
  ThreadInfoImpl(const ThreadInfoImpl&) = delete;
  ThreadInfoImpl& operator=(const ThreadInfoImpl&) = delete;

  // A live thread: its context is read from the thread; false (logged) when it cannot be opened or read.
  bool Init(HANDLE process);
  // The crashed thread, whose context at the crash the caller read from the process. Only the priority
  // comes from the thread, when it can be opened.
  void InitWithContext(HANDLE process, const CONTEXT& context);

  uint32_t GetThreadId() const override;
  int32_t GetPriority() const override;
  const ThreadRegisters& GetRegisters() const override;
  uint64_t GetStackSize() const override;
  bool IsCrashed() const override;

 private:
  void CopyRegisters(const CONTEXT& context);
  void ReadPriority(HANDLE thread);
  void CheckStack(HANDLE process);

  const uint32_t thread_id_;
  const bool crashed_;
  int32_t priority_ = 0;
  uint64_t stack_size_ = 0;
  ThreadRegisters registers_ = {};
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_THREAD_INFO_IMPL_H_
