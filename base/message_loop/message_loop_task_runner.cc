#include "base/message_loop/message_loop_task_runner.h"

#include <utility>

namespace base {

MessageLoopTaskRunner::MessageLoopTaskRunner(scoped_refptr<IncomingTaskQueue> incoming_queue)
    : incoming_queue_(std::move(incoming_queue)) {}

MessageLoopTaskRunner::~MessageLoopTaskRunner() = default;

void MessageLoopTaskRunner::BindToCurrentThread() {
  AutoLock lock(valid_thread_id_lock_);
  valid_thread_id_ = GetCurrentThreadId();
}

bool MessageLoopTaskRunner::PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) {
  return incoming_queue_->AddToIncomingQueue(from_here, std::move(task), delay, true);
}

bool MessageLoopTaskRunner::PostNonNestableDelayedTask(const Location& from_here, Closure task,
                                                       TimeDelta delay) {
  return incoming_queue_->AddToIncomingQueue(from_here, std::move(task), delay, false);
}

bool MessageLoopTaskRunner::RunsTasksOnCurrentThread() const {
  AutoLock lock(valid_thread_id_lock_);
  return valid_thread_id_ == GetCurrentThreadId();
}

}  // namespace base
