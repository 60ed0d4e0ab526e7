// The task runner of a message loop: posts go into the loop's incoming queue; tasks run on the thread the
// loop is bound to.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_TASK_RUNNER_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_TASK_RUNNER_H_

#include <windows.h>

#include "base/memory/ref_counted.h"
#include "base/message_loop/incoming_task_queue.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"

namespace base {

class MessageLoopTaskRunner : public SingleThreadTaskRunner {
 public:
  explicit MessageLoopTaskRunner(scoped_refptr<IncomingTaskQueue> incoming_queue);

  // From now on the runner's thread is the calling thread.
  void BindToCurrentThread();

  bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override;
  bool PostNonNestableDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override;
  // False before BindToCurrentThread.
  bool RunsTasksOnCurrentThread() const override;

 private:
  ~MessageLoopTaskRunner() override;

  const scoped_refptr<IncomingTaskQueue> incoming_queue_;
  DWORD valid_thread_id_ = 0;
  mutable Lock valid_thread_id_lock_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_TASK_RUNNER_H_
