#include "base/threading/worker_pool.h"

#include <atomic>
#include <memory>
#include <utility>

#include "base/lazy_instance.h"
#include "base/pending_task.h"
#include "base/profiler/task_profiler.h"
#include "base/threading/post_task_and_reply_impl.h"
#include "base/threading/task_run_scope.h"
#include "base/threading/thread_local.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace {

std::atomic<WorkerPool::QueueUserWorkItemFunction> g_queue_user_work_item{nullptr};

// Set while a system thread runs one of this pool's tasks.
constinit LazyInstance<ThreadLocalBoolean>::Leaky g_worker_pool_running_on_this_thread;

DWORD WINAPI WorkItemCallback(void* param) {
  std::unique_ptr<PendingTask> pending_task(static_cast<PendingTask*>(param));
  static const unsigned char* const toplevel = trace_event::TraceLog::GetCategoryGroupEnabled("toplevel");
  internal::TaskRunScope run_scope(toplevel, "WorkerThread::ThreadMain::Run", pending_task->posted_from, 0, 0);

  g_worker_pool_running_on_this_thread.Get().Set(true);
  TaskStopwatch stopwatch;
  stopwatch.Start();
  pending_task->task.Run();
  stopwatch.Stop();
  g_worker_pool_running_on_this_thread.Get().Set(false);

  ThreadData::TallyRunOnWorkerThreadIfTracking(pending_task->birth_tally, pending_task->time_posted, stopwatch);
  return 0;
}

class WorkerPoolTaskAndReply : public internal::PostTaskAndReplyImpl {
 public:
  explicit WorkerPoolTaskAndReply(bool task_is_slow) : task_is_slow_(task_is_slow) {}

 private:
  bool PostTask(const Location& from_here, Closure task) override {
    return WorkerPool::PostTask(from_here, std::move(task), task_is_slow_);
  }

  const bool task_is_slow_;
};

}  // namespace

// static
bool WorkerPool::PostTask(const Location& from_here, Closure task, bool task_is_slow) {
  auto pending_task = std::make_unique<PendingTask>(from_here, std::move(task));
  QueueUserWorkItemFunction queue = g_queue_user_work_item.load(std::memory_order_acquire);
  if (!queue)
    queue = &::QueueUserWorkItem;
  if (!queue(&WorkItemCallback, pending_task.get(), task_is_slow ? WT_EXECUTELONGFUNCTION : 0)) {
    PLOG(ERROR) << "QueueUserWorkItem";
    return false;  // the task is released here
  }
  (void)pending_task.release();  // the work item owns it now
  return true;
}

// static
bool WorkerPool::PostTaskAndReply(const Location& from_here, Closure task, Closure reply, bool task_is_slow) {
  return WorkerPoolTaskAndReply(task_is_slow).PostTaskAndReply(from_here, std::move(task), std::move(reply));
}

// static
bool WorkerPool::RunsTasksOnCurrentThread() {
  return g_worker_pool_running_on_this_thread.Get().Get();
}

// static
WorkerPool::QueueUserWorkItemFunction WorkerPool::SetQueueUserWorkItemFunctionForTesting(
    QueueUserWorkItemFunction function) {
  return g_queue_user_work_item.exchange(function, std::memory_order_acq_rel);
}

}  // namespace base
