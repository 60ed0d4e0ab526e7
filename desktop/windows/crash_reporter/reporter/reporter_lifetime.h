// How long the crash reporter process lives: while the installer that started it (its parent) runs, and after
// that until every crash being handled and every upload in flight has finished. Each piece of work holds one
// unit of a process-wide count; the reporter ends once the count is back at zero.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_LIFETIME_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_LIFETIME_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/win/scoped_handle.h"

namespace base {
class CommandLine;
}

namespace zorvi {
namespace installer {

class ReporterLifetime {
 public:
  static ReporterLifetime& Get();

  ReporterLifetime();
  ReporterLifetime(const ReporterLifetime&) = delete;
  ReporterLifetime& operator=(const ReporterLifetime&) = delete;

  // Makes the count usable for waiting; true once it is.
  bool Init();
  void AddRef();
  void Release();
  // Returns once the count is 0; a unit taken after that makes a later wait wait again (the reporter waits
  // once for its parent and crashes, and again, after its dump server is gone, for the uploads those queued).
  // False before Init.
  bool WaitForZero();

  int count() const;

 private:
  mutable base::Lock lock_;
  base::ConditionVariable zero_;
  int count_ = 0;  // guarded by lock_
  bool initialized_ = false;
};

// Holds one unit of the reporter's lifetime while the parent process runs.
class ParentProcessWatcher {
 public:
  ParentProcessWatcher() = default;
  ParentProcessWatcher(const ParentProcessWatcher&) = delete;
  ParentProcessWatcher& operator=(const ParentProcessWatcher&) = delete;
  // Gives the unit back unless the parent's exit did; waits for a running exit callback to finish.
  ~ParentProcessWatcher();

  // Starts watching the process `parent_id`; true when its exit will be noticed. A failure after the unit was
  // taken leaves it to the destructor.
  bool Watch(uint32_t parent_id);

  // Called at the start of every exit callback, on its pool thread, so that a test can hold a callback while the
  // watcher is being destroyed; null for none.
  static void SetExitCallbackHookForTesting(void (*hook)());

 private:
  static void CALLBACK OnParentExited(void* watcher, BOOLEAN timed_out);
  void ReleaseOnce();

  std::atomic<int32_t> armed_{0};  // 1 while this watcher holds its unit
  base::win::ScopedHandle process_;
  HANDLE wait_ = nullptr;
};

// The parent's process id from the switch "crash-reporter-parent-id" (a decimal number up to 4294967295);
// false, leaving *parent_id untouched, when it is missing or not such a number.
bool GetParentProcessIdFromSwitch(uint32_t* parent_id);
bool GetParentProcessIdFromSwitch(const base::CommandLine& command_line, uint32_t* parent_id);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_LIFETIME_H_
