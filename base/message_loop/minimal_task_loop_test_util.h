// A bare task loop for tests of the posting side: an incoming queue with its task runner, run on the thread
// that binds it, sleeping on an event between batches. It keeps immediate tasks in order and runs delayed
// ones when due; nested runs and non-nestable tasks are not handled.
#ifndef BASE_MESSAGE_LOOP_MINIMAL_TASK_LOOP_TEST_UTIL_H_
#define BASE_MESSAGE_LOOP_MINIMAL_TASK_LOOP_TEST_UTIL_H_

#include <atomic>
#include <memory>

#include "base/callback.h"
#include "base/debug/task_annotator.h"
#include "base/memory/ref_counted.h"
#include "base/message_loop/incoming_task_queue.h"
#include "base/message_loop/message_loop_task_runner.h"
#include "base/pending_task.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {

class MinimalTaskLoop : public IncomingTaskQueue::Loop {
 public:
  // Posts are accepted at once but wake nothing until the loop is bound.
  MinimalTaskLoop();
  ~MinimalTaskLoop() override;
  MinimalTaskLoop(const MinimalTaskLoop&) = delete;
  MinimalTaskLoop& operator=(const MinimalTaskLoop&) = delete;

  // Binds the loop to the calling thread and publishes its runner as the thread's runner.
  void BindToCurrentThread();

  scoped_refptr<MessageLoopTaskRunner> task_runner() const { return task_runner_; }
  IncomingTaskQueue* incoming_queue() const { return incoming_queue_.get(); }

  // Runs tasks until one of them calls Quit (sleeping on the wake-up event when there is nothing to do).
  void Run();
  // Runs every task that is ready, including those posted meanwhile, and returns.
  void RunUntilIdle();
  // Thread-safe.
  void Quit();

  // How often the queue woke this loop, and how often the loop found the queue empty.
  int schedule_work_count() const { return schedule_work_count_.load(); }
  int empty_reload_count() const { return empty_reload_count_; }

  // IncomingTaskQueue::Loop:
  void ScheduleWork() override;
  debug::TaskAnnotator* task_annotator() override { return &task_annotator_; }

 private:
  // Runs one ready task; false when none is ready.
  bool RunOneTask();
  TimeTicks NextDelayedRunTime() const;

  debug::TaskAnnotator task_annotator_;
  scoped_refptr<IncomingTaskQueue> incoming_queue_;
  scoped_refptr<MessageLoopTaskRunner> task_runner_;
  std::unique_ptr<ThreadTaskRunnerHandle> handle_;
  WaitableEvent wake_up_{false, false};
  TaskQueue work_queue_;
  DelayedTaskQueue delayed_work_queue_;
  std::atomic<int> schedule_work_count_{0};
  int empty_reload_count_ = 0;
  std::atomic<bool> quit_{false};
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MINIMAL_TASK_LOOP_TEST_UTIL_H_
