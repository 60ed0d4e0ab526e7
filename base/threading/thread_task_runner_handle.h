// Tells code which task runner belongs to the calling thread. A thread's message loop publishes its runner
// by holding a ThreadTaskRunnerHandle while it is bound to the thread.
#ifndef BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_
#define BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_

#include "base/memory/ref_counted.h"
#include "base/single_thread_task_runner.h"

namespace base {

class ThreadTaskRunnerHandle {
 public:
  // The calling thread's runner; the thread must have one (IsSet).
  static scoped_refptr<SingleThreadTaskRunner> Get();
  static bool IsSet();

  // Publishes `task_runner`, which must run its tasks on this thread, as the thread's runner until the
  // handle goes. At most one handle per thread.
  explicit ThreadTaskRunnerHandle(scoped_refptr<SingleThreadTaskRunner> task_runner);
  ~ThreadTaskRunnerHandle();
  ThreadTaskRunnerHandle(const ThreadTaskRunnerHandle&) = delete;
  ThreadTaskRunnerHandle& operator=(const ThreadTaskRunnerHandle&) = delete;

 private:
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_
