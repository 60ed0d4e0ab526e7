// TaskRunner: the thread-safe, reference-counted place where work is posted. Every subsystem hands work to
// other threads only by posting closures to a runner; a runner decides where and when they run.
#ifndef BASE_TASK_RUNNER_H_
#define BASE_TASK_RUNNER_H_

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/time/time.h"

namespace base {

class TaskRunner;

// The last release calls the runner's OnDestruct, so that a runner may choose where it dies.
struct TaskRunnerTraits {
  static void Destruct(const TaskRunner* task_runner);
};

class TaskRunner : public RefCountedThreadSafe<TaskRunner, TaskRunnerTraits> {
 public:
  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

  // Queues `task` to run no sooner than `delay` from now (zero or negative: as soon as possible). False
  // when the runner no longer accepts work; the closure is released then.
  virtual bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) = 0;
  // True when a task posted here would run on the calling thread.
  virtual bool RunsTasksOnCurrentThread() const = 0;

  bool PostTask(const Location& from_here, Closure task);

  // Runs `task` on this runner and then `reply` on the runner of the calling thread (which must have one,
  // see ThreadTaskRunnerHandle). Both are destroyed on the calling thread: the task after it ran, the reply
  // after it ran. False, with neither run, when this runner refuses the task.
  bool PostTaskAndReply(const Location& from_here, Closure task, Closure reply);

 protected:
  friend struct TaskRunnerTraits;

  TaskRunner() = default;
  virtual ~TaskRunner() = default;

  // Called when the last reference is dropped; deletes the runner unless a subclass decides otherwise.
  virtual void OnDestruct() const;
};

}  // namespace base

#endif  // BASE_TASK_RUNNER_H_
