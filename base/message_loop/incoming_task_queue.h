// The locked queue through which every thread posts to a message loop. Posters append; the loop takes the
// whole queue in one swap when its own work queue runs dry. The queue wakes the loop exactly once per
// empty-to-non-empty transition while the loop sleeps (or is about to).
#ifndef BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
#define BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_

#include <windows.h>

#include <cstdint>

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/pending_task.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {

namespace debug {
class TaskAnnotator;
}

class IncomingTaskQueue : public RefCountedThreadSafe<IncomingTaskQueue> {
 public:
  // The loop that drains the queue. Both calls come from posting threads with the queue's lock held: they
  // must not post, and take no lock but their own leaf locks.
  class Loop {
   public:
    // Wakes the loop's pump; thread-safe.
    virtual void ScheduleWork() = 0;
    // The annotator that will run the loop's tasks (its address ties the queueing trace event to the run).
    virtual debug::TaskAnnotator* task_annotator() = 0;

   protected:
    virtual ~Loop() = default;
  };

  // Queues tasks for `loop` but does not wake it before StartScheduling.
  explicit IncomingTaskQueue(Loop* loop);
  IncomingTaskQueue(const IncomingTaskQueue&) = delete;
  IncomingTaskQueue& operator=(const IncomingTaskQueue&) = delete;

  // Queues a task due `delay` from now (zero or negative: due at once). A positive delay under 32 ms makes
  // it a high-resolution task. False once the loop is gone; the closure is then released on the calling
  // thread, after the queue's lock is let go (its bound values may post again).
  bool AddToIncomingQueue(const Location& from_here, Closure task, TimeDelta delay, bool nestable);

  // On the loop's thread, with `work_queue` empty: moves every queued task into it. When nothing was queued
  // the next post wakes the loop again. Returns the number of high-resolution tasks posted since the last
  // call.
  int32_t ReloadWorkQueue(TaskQueue* work_queue);

  // The loop is bound and its pump can be woken; wakes it now when tasks are already queued.
  void StartScheduling();

  // The loop has begun to die on the calling thread: every later post fails. A closure refused on that thread
  // (one whose destruction, as the loop destroys its tasks, posts again) is kept for the loop's next reload, so
  // that the loop destroys it in its next pass; one refused on another thread is released by its poster.
  void StartShutdown();

  // The loop is going away: every later post fails, its closure released by the poster.
  void WillDestroyCurrentMessageLoop();

 protected:
  friend class RefCountedThreadSafe<IncomingTaskQueue>;
  virtual ~IncomingTaskQueue();

 private:
  // With the lock held. False when there is no loop any more; the task's closure is then moved to
  // `refused_task` for the caller to release outside the lock.
  bool PostPendingTask(PendingTask* pending_task, Closure* refused_task);
  void ScheduleWork();

  int32_t high_res_task_count_ = 0;
  Lock incoming_queue_lock_;
  TaskQueue incoming_queue_;
  Loop* message_loop_;
  int32_t next_sequence_num_ = 0;
  // A wake-up is pending: the loop has not yet found the queue empty since it was woken.
  bool message_loop_scheduled_ = false;
  bool is_ready_for_scheduling_ = false;
  // The thread the loop is dying on; 0 while it lives.
  DWORD shutdown_thread_id_ = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
