#include "base/message_loop/minimal_task_loop_test_util.h"

#include <utility>

namespace base {

MinimalTaskLoop::MinimalTaskLoop()
    : incoming_queue_(MakeRefCounted<IncomingTaskQueue>(this)),
      task_runner_(MakeRefCounted<MessageLoopTaskRunner>(incoming_queue_)) {}

MinimalTaskLoop::~MinimalTaskLoop() {
  handle_.reset();
  incoming_queue_->WillDestroyCurrentMessageLoop();
  // Queued tasks die unrun, here.
  TaskQueue leftovers;
  incoming_queue_->ReloadWorkQueue(&leftovers);
}

void MinimalTaskLoop::BindToCurrentThread() {
  incoming_queue_->StartScheduling();
  task_runner_->BindToCurrentThread();
  handle_ = std::make_unique<ThreadTaskRunnerHandle>(task_runner_);
}

void MinimalTaskLoop::ScheduleWork() {
  schedule_work_count_.fetch_add(1);
  wake_up_.Signal();
}

void MinimalTaskLoop::Quit() {
  quit_.store(true);
  wake_up_.Signal();
}

TimeTicks MinimalTaskLoop::NextDelayedRunTime() const {
  return delayed_work_queue_.empty() ? TimeTicks() : delayed_work_queue_.top().delayed_run_time;
}

bool MinimalTaskLoop::RunOneTask() {
  for (;;) {
    if (work_queue_.empty()) {
      incoming_queue_->ReloadWorkQueue(&work_queue_);
      if (work_queue_.empty())
        ++empty_reload_count_;
    }
    if (work_queue_.empty())
      break;
    PendingTask task = std::move(work_queue_.front());
    work_queue_.pop();
    if (!task.delayed_run_time.is_null()) {
      delayed_work_queue_.push(std::move(task));
      continue;
    }
    task_annotator_.RunTask("MessageLoop::PostTask", task);
    return true;
  }
  if (!delayed_work_queue_.empty() && delayed_work_queue_.top().delayed_run_time <= TimeTicks::Now()) {
    PendingTask task = delayed_work_queue_.top();
    delayed_work_queue_.pop();
    task_annotator_.RunTask("MessageLoop::PostTask", task);
    return true;
  }
  return false;
}

void MinimalTaskLoop::RunUntilIdle() {
  while (RunOneTask()) {
  }
}

void MinimalTaskLoop::Run() {
  quit_.store(false);
  while (!quit_.load()) {
    if (RunOneTask())
      continue;
    if (quit_.load())
      break;
    const TimeTicks next = NextDelayedRunTime();
    if (next.is_null())
      wake_up_.Wait();
    else
      wake_up_.TimedWait(next - TimeTicks::Now());
  }
}

}  // namespace base
