// A task runner for tests that runs nothing on its own: it belongs to the thread that makes it, queues
// what any thread posts (with the delay asked for), and runs the queue when the test says so. Header only,
// so that the tests of several areas can use it.
#ifndef BASE_THREADING_MANUAL_TASK_RUNNER_TEST_UTIL_H_
#define BASE_THREADING_MANUAL_TASK_RUNNER_TEST_UTIL_H_

#include <windows.h>

#include <deque>
#include <utility>

#include "base/location.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"

namespace base {

class ManualTaskRunner : public SingleThreadTaskRunner {
 public:
  struct PostedTask {
    Location from_here;
    Closure task;
    TimeDelta delay;
    bool nestable;
  };

  ManualTaskRunner() : thread_id_(::GetCurrentThreadId()) {}

  bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override {
    return Add(from_here, std::move(task), delay, true);
  }
  bool PostNonNestableDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override {
    return Add(from_here, std::move(task), delay, false);
  }
  bool RunsTasksOnCurrentThread() const override { return ::GetCurrentThreadId() == thread_id_; }

  // Later posts fail (and release their closures) while refusing.
  void set_refuse_posts(bool refuse) {
    AutoLock lock(lock_);
    refuse_posts_ = refuse;
  }

  size_t NumPendingTasks() {
    AutoLock lock(lock_);
    return tasks_.size();
  }
  // The queue as it is now, left in place.
  std::deque<PostedTask> PendingTasks() {
    AutoLock lock(lock_);
    return tasks_;
  }

  // Runs the tasks queued now, oldest first, whatever their delay; tasks they post wait for the next call.
  // Returns how many ran.
  size_t RunPendingTasks() {
    std::deque<PostedTask> batch;
    {
      AutoLock lock(lock_);
      batch.swap(tasks_);
      posted_.Reset();
    }
    for (PostedTask& posted : batch) {
      posted.task.Run();
      posted.task.Reset();
    }
    return batch.size();
  }

  // Destroys the queued tasks without running them.
  void ClearPendingTasks() {
    std::deque<PostedTask> dropped;
    AutoLock lock(lock_);
    dropped.swap(tasks_);
    posted_.Reset();
  }

  // Blocks until at least one task is queued.
  void WaitForTask() { posted_.Wait(); }
  // As WaitForTask, for at most `max_time`; false when nothing was queued in time.
  bool TimedWaitForTask(TimeDelta max_time) { return posted_.TimedWait(max_time); }

 private:
  ~ManualTaskRunner() override = default;

  bool Add(const Location& from_here, Closure task, TimeDelta delay, bool nestable) {
    AutoLock lock(lock_);
    if (refuse_posts_)
      return false;  // `task` is released on return, on the posting thread
    tasks_.push_back(PostedTask{from_here, std::move(task), delay, nestable});
    posted_.Signal();
    return true;
  }

  const DWORD thread_id_;
  Lock lock_;
  std::deque<PostedTask> tasks_;
  bool refuse_posts_ = false;
  WaitableEvent posted_{true, false};
};

}  // namespace base

#endif  // BASE_THREADING_MANUAL_TASK_RUNNER_TEST_UTIL_H_
