// One-off tasks on the system thread pool. Nothing orders two tasks: they may run at the same time on
// different system threads. PostTaskAndReply is the way back to the posting thread.
#ifndef BASE_THREADING_WORKER_POOL_H_
#define BASE_THREADING_WORKER_POOL_H_

#include <windows.h>

#include "base/callback.h"
#include "base/location.h"

namespace base {

class WorkerPool {
 public:
  // The signature of QueueUserWorkItem, so that tests can watch or refuse the queueing.
  using QueueUserWorkItemFunction = BOOL(WINAPI*)(LPTHREAD_START_ROUTINE, PVOID, ULONG);

  WorkerPool() = delete;

  // Queues `task`; a slow task lets the system pool add a thread for it. False when the system refuses the
  // work item: the task is then released here, on the calling thread.
  static bool PostTask(const Location& from_here, Closure task, bool task_is_slow);

  // Runs `task` on the pool, then `reply` on the calling thread's task runner (which it must have).
  static bool PostTaskAndReply(const Location& from_here, Closure task, Closure reply, bool task_is_slow);

  // True on a system thread while it runs a task of this pool.
  static bool RunsTasksOnCurrentThread();

  // Replaces QueueUserWorkItem (null restores it); returns the previous function.
  static QueueUserWorkItemFunction SetQueueUserWorkItemFunctionForTesting(QueueUserWorkItemFunction function);
};

}  // namespace base

#endif  // BASE_THREADING_WORKER_POOL_H_
