#include "base/message_loop/incoming_task_queue.h"

#include <utility>

#include "base/debug/task_annotator.h"
#include "base/logging.h"

namespace base {
namespace {

// Delays shorter than this need the high-resolution timer to be kept.
constexpr int64_t kHighResolutionDelayMs = 32;

}  // namespace

IncomingTaskQueue::IncomingTaskQueue(Loop* loop) : message_loop_(loop) {}

IncomingTaskQueue::~IncomingTaskQueue() = default;

bool IncomingTaskQueue::AddToIncomingQueue(const Location& from_here, Closure task, TimeDelta delay,
                                           bool nestable) {
  // Declared before the lock so that a refused closure is destroyed after the lock is released.
  Closure refused_task;
  AutoLock lock(incoming_queue_lock_);
  const bool delayed = delay > TimeDelta();
  PendingTask pending_task(from_here, std::move(task), delayed ? TimeTicks::Now() + delay : TimeTicks(),
                           nestable);
  if (delayed && delay.InMilliseconds() < kHighResolutionDelayMs) {
    ++high_res_task_count_;
    pending_task.is_high_res = true;
  }
  return PostPendingTask(&pending_task, &refused_task);
}

bool IncomingTaskQueue::PostPendingTask(PendingTask* pending_task, Closure* refused_task) {
  if (message_loop_ && shutdown_thread_id_ == GetCurrentThreadId()) {
    // Refused, but destroyed by the dying loop's next pass rather than here: a closure whose destruction posts
    // again would otherwise recurse through this post without bound.
    incoming_queue_.push(std::move(*pending_task));
    return false;
  }
  if (!message_loop_ || shutdown_thread_id_ != 0) {
    *refused_task = std::move(pending_task->task);
    return false;
  }
  pending_task->sequence_num = next_sequence_num_;
  // The counter wraps from the largest to the smallest value; the task ordering allows for that.
  next_sequence_num_ = static_cast<int32_t>(static_cast<uint32_t>(next_sequence_num_) + 1u);
  message_loop_->task_annotator()->DidQueueTask("MessageLoop::PostTask", *pending_task);

  const bool was_empty = incoming_queue_.empty();
  incoming_queue_.push(std::move(*pending_task));
  if (is_ready_for_scheduling_ && !message_loop_scheduled_ && was_empty)
    ScheduleWork();
  return true;
}

void IncomingTaskQueue::ScheduleWork() {
  message_loop_->ScheduleWork();
  message_loop_scheduled_ = true;
}

int32_t IncomingTaskQueue::ReloadWorkQueue(TaskQueue* work_queue) {
  DCHECK(work_queue->empty());
  AutoLock lock(incoming_queue_lock_);
  if (incoming_queue_.empty()) {
    // The loop is about to sleep: the next post must wake it.
    message_loop_scheduled_ = false;
  } else {
    incoming_queue_.swap(*work_queue);
  }
  const int32_t high_res_tasks = high_res_task_count_;
  high_res_task_count_ = 0;
  return high_res_tasks;
}

void IncomingTaskQueue::StartScheduling() {
  AutoLock lock(incoming_queue_lock_);
  DCHECK(!is_ready_for_scheduling_);
  is_ready_for_scheduling_ = true;
  if (message_loop_ && !incoming_queue_.empty())
    ScheduleWork();
}

void IncomingTaskQueue::StartShutdown() {
  AutoLock lock(incoming_queue_lock_);
  shutdown_thread_id_ = GetCurrentThreadId();
}

void IncomingTaskQueue::WillDestroyCurrentMessageLoop() {
  AutoLock lock(incoming_queue_lock_);
  message_loop_ = nullptr;
}

}  // namespace base
