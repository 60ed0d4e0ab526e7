#include "base/threading/sequenced_worker_pool.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/profiler/task_profiler.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/threading/simple_thread.h"
#include "base/threading/thread_local.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/scoped_complete_trace_event.h"
#include "base/trace_event/trace_log.h"
#include "base/tracking_info.h"

namespace base {
namespace {

// Token ids of every pool of the process; the first issued is 1.
std::atomic<int32_t> g_last_sequence_token_id{0};

// Releases a held lock for a scope.
class AutoUnlock {
 public:
  explicit AutoUnlock(Lock& lock) : lock_(lock) { lock_.Release(); }
  ~AutoUnlock() { lock_.Acquire(); }
  AutoUnlock(const AutoUnlock&) = delete;
  AutoUnlock& operator=(const AutoUnlock&) = delete;

 private:
  Lock& lock_;
};

const unsigned char* FlowCategory() {
  static const unsigned char* const category =
      trace_event::TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow");
  return category;
}

struct SequencedTask : public TrackingInfo {
  SequencedTask() = default;
  explicit SequencedTask(const Location& from_here) : TrackingInfo(from_here, TimeTicks()) {}

  int32_t sequence_token_id = 0;
  int32_t trace_id = 0;
  int64_t sequence_task_number = 0;
  SequencedWorkerPool::WorkerShutdown shutdown_behavior = SequencedWorkerPool::BLOCK_SHUTDOWN;
  Location posted_from;
  Closure task;
  TimeTicks time_to_run;
};

// Earlier time to run first; equal times in posting order.
struct SequencedTaskLess {
  bool operator()(const SequencedTask& a, const SequencedTask& b) const {
    if (a.time_to_run != b.time_to_run)
      return a.time_to_run < b.time_to_run;
    return a.sequence_task_number < b.sequence_task_number;
  }
};

}  // namespace

// A runner of one sequence of a pool.
class SequencedWorkerPoolSequencedTaskRunner : public SequencedTaskRunner {
 public:
  SequencedWorkerPoolSequencedTaskRunner(scoped_refptr<SequencedWorkerPool> pool,
                                         SequencedWorkerPool::SequenceToken token,
                                         SequencedWorkerPool::WorkerShutdown shutdown_behavior)
      : pool_(std::move(pool)), token_(token), shutdown_behavior_(shutdown_behavior) {}

  bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override {
    const SequencedWorkerPool::WorkerShutdown behavior =
        delay.is_zero() ? shutdown_behavior_ : SequencedWorkerPool::SKIP_ON_SHUTDOWN;
    return pool_->PostTaskWithBehavior(from_here, token_, behavior, std::move(task), delay);
  }
  bool RunsTasksOnCurrentThread() const override { return pool_->IsRunningSequenceOnCurrentThread(token_); }
  // The pool never nests: every task is non-nestable already.
  bool PostNonNestableDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override {
    return PostDelayedTask(from_here, std::move(task), delay);
  }

 private:
  ~SequencedWorkerPoolSequencedTaskRunner() override = default;

  const scoped_refptr<SequencedWorkerPool> pool_;
  const SequencedWorkerPool::SequenceToken token_;
  const SequencedWorkerPool::WorkerShutdown shutdown_behavior_;
};

class SequencedWorkerPool::Worker : public SimpleThread {
 public:
  // Starts a worker thread, which gives itself to the pool's loop; false when the thread cannot be made.
  static bool Start(scoped_refptr<SequencedWorkerPool> worker_pool, int thread_number,
                    const std::string& thread_name_prefix);

  // The worker of the calling thread, null on other threads.
  static Worker* GetForCurrentThread();

  ~Worker() override = default;

  // SimpleThread:
  void Run() override;

  const Inner* inner() const { return inner_; }

  // Only the worker's own thread touches these.
  void set_running_task_info(int32_t token_id, WorkerShutdown shutdown_behavior) {
    task_sequence_token_id_ = token_id;
    task_shutdown_behavior_ = shutdown_behavior;
    is_processing_task_ = true;
  }
  void reset_running_task_info() { is_processing_task_ = false; }
  int32_t task_sequence_token_id() const { return task_sequence_token_id_; }
  WorkerShutdown task_shutdown_behavior() const { return task_shutdown_behavior_; }
  bool is_processing_task() const { return is_processing_task_; }

  // Guarded by the pool's lock: whether the worker runs a task that may go on past shutdown, and whether it has
  // left the pool's loop (its thread is ending).
  bool continuing_past_shutdown = false;
  bool left_loop = false;

 private:
  Worker(scoped_refptr<SequencedWorkerPool> worker_pool, const std::string& name);

  scoped_refptr<SequencedWorkerPool> worker_pool_;
  const Inner* const inner_;
  int32_t task_sequence_token_id_ = 0;
  WorkerShutdown task_shutdown_behavior_ = BLOCK_SHUTDOWN;
  bool is_processing_task_ = false;
};

class SequencedWorkerPool::Inner {
 public:
  Inner(SequencedWorkerPool* worker_pool, size_t max_threads, const std::string& thread_name_prefix,
        TestingObserver* observer);
  // Joins and deletes every worker.
  ~Inner();
  Inner(const Inner&) = delete;
  Inner& operator=(const Inner&) = delete;

  SequenceToken GetNamedSequenceToken(const std::string& name);
  bool PostTask(SequenceToken token, WorkerShutdown shutdown_behavior, const Location& from_here, Closure task,
                TimeDelta delay);
  bool RunsTasksOnCurrentThread() const;
  bool IsRunningSequenceOnCurrentThread(SequenceToken token) const;
  void Shutdown(int max_new_blocking_tasks_after_shutdown);

  // The loop of a worker thread; `this_worker` is handed over to the pool.
  void ThreadLoop(Worker* this_worker);

 private:
  enum GetWorkStatus { GET_WORK_FOUND, GET_WORK_NOT_FOUND, GET_WORK_WAIT };

  // Lock held for all below unless said otherwise.
  GetWorkStatus GetWork(SequencedTask* task, TimeDelta* wait_time, std::vector<Closure>* delete_these_outside_lock);
  bool IsSequenceTokenRunnable(int32_t sequence_token_id) const;
  // Marks the task as running; returns the number of a worker to start (0 for none).
  int WillRunWorkerTask(const SequencedTask& task);
  void DidRunWorkerTask(const SequencedTask& task);
  // Decides whether one more worker would help; if so, marks it as being created and returns its number.
  int PrepareToStartAdditionalThreadIfHelpful();
  bool CanShutdown() const;
  // Every worker has left its loop, or runs a task that may go on past shutdown.
  bool WorkersLeftOrContinuing() const;
  // Lock not held: starts the decided worker. When its thread cannot be made, the decision is undone so
  // that later posts may try again and Shutdown does not wait for a worker that never comes.
  bool FinishStartingAdditionalThread(int thread_number);

  SequencedWorkerPool* const worker_pool_;
  mutable Lock lock_;
  ConditionVariable has_work_cv_;
  ConditionVariable can_shutdown_cv_;
  const size_t max_threads_;
  const std::string thread_name_prefix_;
  std::map<std::string, int32_t> named_sequence_tokens_;
  std::map<PlatformThreadId, std::unique_ptr<Worker>> threads_;
  bool thread_being_created_ = false;
  size_t waiting_thread_count_ = 0;
  size_t blocking_shutdown_thread_count_ = 0;
  using PendingTaskSet = std::set<SequencedTask, SequencedTaskLess>;
  PendingTaskSet pending_tasks_;
  // Emptied nodes of taken tasks, reused by the next posts so that the lock is not held around the heap.
  static constexpr size_t kMaxSpareNodes = 64;
  std::vector<PendingTaskSet::node_type> spare_nodes_;
  int64_t next_sequence_task_number_ = 0;
  size_t blocking_shutdown_pending_task_count_ = 0;
  // Sequences with a task running now: at most one entry per worker, searched linearly.
  std::vector<int32_t> current_sequences_;
  TimeTicks last_clock_reading_;
  int32_t trace_id_ = 0;
  bool shutdown_called_ = false;
  int32_t max_blocking_tasks_after_shutdown_ = 0;
  TestingObserver* const testing_observer_;
};

// ---- Worker ----

namespace {

// The worker that runs on this thread, if any.
constinit LazyInstance<ThreadLocalPointer<void>>::Leaky g_current_worker;

}  // namespace

SequencedWorkerPool::Worker::Worker(scoped_refptr<SequencedWorkerPool> worker_pool, const std::string& name)
    : SimpleThread(name), worker_pool_(std::move(worker_pool)), inner_(worker_pool_->inner_.get()) {}

// static
bool SequencedWorkerPool::Worker::Start(scoped_refptr<SequencedWorkerPool> worker_pool, int thread_number,
                                        const std::string& thread_name_prefix) {
  std::unique_ptr<Worker> worker(
      new Worker(std::move(worker_pool), thread_name_prefix + "Worker" + std::to_string(thread_number)));
  if (!worker->SimpleThread::Start())
    return false;
  // The thread owns the worker now: its loop hands it to the pool, which joins and deletes it.
  (void)worker.release();
  return true;
}

// static
SequencedWorkerPool::Worker* SequencedWorkerPool::Worker::GetForCurrentThread() {
  return static_cast<Worker*>(g_current_worker.Get().Get());
}

void SequencedWorkerPool::Worker::Run() {
  const HRESULT com_result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  g_current_worker.Get().Set(this);
  worker_pool_->inner_->ThreadLoop(this);
  // The last reference may go here; the pool then deletes itself on its constructing thread.
  worker_pool_ = nullptr;
  if (SUCCEEDED(com_result))
    ::CoUninitialize();
}

// ---- Inner ----

SequencedWorkerPool::Inner::Inner(SequencedWorkerPool* worker_pool, size_t max_threads,
                                  const std::string& thread_name_prefix, TestingObserver* observer)
    : worker_pool_(worker_pool),
      has_work_cv_(&lock_),
      can_shutdown_cv_(&lock_),
      max_threads_(max_threads),
      thread_name_prefix_(thread_name_prefix),
      testing_observer_(observer) {}

SequencedWorkerPool::Inner::~Inner() {
  // Workers leave their loops only after Shutdown; by now every one has (they held references). Shutdown joined
  // and removed those that had left by then.
  for (auto& [thread_id, worker] : threads_)
    worker->Join();
  threads_.clear();
}

SequencedWorkerPool::SequenceToken SequencedWorkerPool::Inner::GetNamedSequenceToken(const std::string& name) {
  AutoLock lock(lock_);
  auto found = named_sequence_tokens_.find(name);
  if (found != named_sequence_tokens_.end())
    return SequenceToken(found->second);
  const int32_t id = g_last_sequence_token_id.fetch_add(1, std::memory_order_relaxed) + 1;
  named_sequence_tokens_[name] = id;
  return SequenceToken(id);
}

bool SequencedWorkerPool::Inner::PostTask(SequenceToken token, WorkerShutdown shutdown_behavior,
                                          const Location& from_here, Closure task, TimeDelta delay) {
  // Declared before the lock is taken, so that a refused closure is released after the lock is let go (its
  // bound values may post from their destructors).
  SequencedTask sequenced(from_here);
  sequenced.sequence_token_id = token.id_;
  sequenced.shutdown_behavior = shutdown_behavior;
  sequenced.posted_from = from_here;
  sequenced.task = std::move(task);
  sequenced.time_to_run = TimeTicks::Now() + delay;

  int create_thread_number = 0;
  {
    AutoLock lock(lock_);
    if (shutdown_called_) {
      if (shutdown_behavior != BLOCK_SHUTDOWN)
        return false;
      // A worker running a skippable task must not extend the shutdown.
      const Worker* worker = Worker::GetForCurrentThread();
      if (worker && worker->inner() == this && worker->is_processing_task() &&
          worker->task_shutdown_behavior() != BLOCK_SHUTDOWN) {
        return false;
      }
      if (max_blocking_tasks_after_shutdown_ <= 0) {
        LOG(WARNING) << "BLOCK_SHUTDOWN task posted after shutdown from " << from_here.function_name();
        return false;
      }
      --max_blocking_tasks_after_shutdown_;
    }

    sequenced.trace_id = trace_id_++;
    trace_event::ScopedCompleteTraceEvent post_event(FlowCategory(), "SequencedWorkerPool::Inner::PostTask",
                                                     nullptr, trace_event::MakeTaskFlowId(sequenced.trace_id, this),
                                                     trace_event::kTaskFlowOutFlags);
    sequenced.sequence_task_number = next_sequence_task_number_++;
    if (shutdown_behavior == BLOCK_SHUTDOWN)
      ++blocking_shutdown_pending_task_count_;
    if (spare_nodes_.empty()) {
      pending_tasks_.insert(std::move(sequenced));
    } else {
      PendingTaskSet::node_type node = std::move(spare_nodes_.back());
      spare_nodes_.pop_back();
      node.value() = std::move(sequenced);
      pending_tasks_.insert(std::move(node));
    }
    create_thread_number = PrepareToStartAdditionalThreadIfHelpful();
  }

  if (create_thread_number)
    FinishStartingAdditionalThread(create_thread_number);
  else
    has_work_cv_.Signal();
  return true;
}

bool SequencedWorkerPool::Inner::RunsTasksOnCurrentThread() const {
  AutoLock lock(lock_);
  const Worker* worker = Worker::GetForCurrentThread();
  return worker && worker->inner() == this;
}

bool SequencedWorkerPool::Inner::IsRunningSequenceOnCurrentThread(SequenceToken token) const {
  AutoLock lock(lock_);
  const Worker* worker = Worker::GetForCurrentThread();
  return worker && worker->inner() == this && worker->is_processing_task() &&
         worker->task_sequence_token_id() == token.id_;
}

void SequencedWorkerPool::Inner::ThreadLoop(Worker* this_worker) {
  {
    AutoLock lock(lock_);
    DCHECK(thread_being_created_);
    thread_being_created_ = false;
    threads_[this_worker->tid()].reset(this_worker);

    for (;;) {
      SequencedTask task;
      TimeDelta wait_time;
      std::vector<Closure> delete_these_outside_lock;
      const GetWorkStatus status = GetWork(&task, &wait_time, &delete_these_outside_lock);
      if (status == GET_WORK_FOUND) {
        trace_event::ScopedCompleteTraceEvent run_event(
            FlowCategory(), "SequencedWorkerPool::Inner::ThreadLoop", &task.posted_from,
            trace_event::MakeTaskFlowId(task.trace_id, this), trace_event::kTaskFlowInFlags);
        const int new_thread_number = WillRunWorkerTask(task);
        this_worker->continuing_past_shutdown = task.shutdown_behavior == CONTINUE_ON_SHUTDOWN;
        {
          AutoUnlock unlock(lock_);
          // Another worker may be able to take the next task.
          has_work_cv_.Signal();
          delete_these_outside_lock.clear();
          if (new_thread_number)
            FinishStartingAdditionalThread(new_thread_number);

          this_worker->set_running_task_info(task.sequence_token_id, task.shutdown_behavior);
          TaskStopwatch stopwatch;
          stopwatch.Start();
          task.task.Run();
          stopwatch.Stop();
          ThreadData::TallyRunOnNamedThreadIfTracking(task, stopwatch);
          // The closure's bound values die while the worker still shows the sequence as running.
          task.task.Reset();
          this_worker->reset_running_task_info();
        }
        DidRunWorkerTask(task);
        this_worker->continuing_past_shutdown = false;
        continue;
      }

      if (shutdown_called_ && blocking_shutdown_pending_task_count_ == 0) {
        {
          AutoUnlock unlock(lock_);
          delete_these_outside_lock.clear();
        }
        this_worker->left_loop = true;
        break;
      }
      if (!delete_these_outside_lock.empty()) {
        // The status may be stale once the lock was let go: look again.
        AutoUnlock unlock(lock_);
        delete_these_outside_lock.clear();
        continue;
      }
      ++waiting_thread_count_;
      if (status == GET_WORK_NOT_FOUND)
        has_work_cv_.Wait();
      else
        has_work_cv_.TimedWait(wait_time);
      --waiting_thread_count_;
    }
  }
  // The next waiting worker sees the shutdown too (Shutdown signals only once), and Shutdown looks again.
  has_work_cv_.Signal();
  can_shutdown_cv_.Signal();
}

SequencedWorkerPool::Inner::GetWorkStatus SequencedWorkerPool::Inner::GetWork(
    SequencedTask* task, TimeDelta* wait_time, std::vector<Closure>* delete_these_outside_lock) {
  // The clock is read only for a task that is not known to be due yet: the last reading is never ahead of
  // the present, so a task due by then is due now.
  bool read_clock = false;
  for (auto i = pending_tasks_.begin(); i != pending_tasks_.end();) {
    if (!IsSequenceTokenRunnable(i->sequence_token_id)) {
      ++i;  // waits for its sequence; never dropped here
      continue;
    }
    if (shutdown_called_ && i->shutdown_behavior != BLOCK_SHUTDOWN) {
      delete_these_outside_lock->push_back(i->task);
      i = pending_tasks_.erase(i);
      continue;
    }
    if (i->time_to_run > last_clock_reading_ && !read_clock) {
      last_clock_reading_ = TimeTicks::Now();
      read_clock = true;
    }
    if (i->time_to_run > last_clock_reading_) {
      *wait_time = i->time_to_run - last_clock_reading_;
      return GET_WORK_WAIT;
    }
    PendingTaskSet::node_type node = pending_tasks_.extract(i);
    *task = std::move(node.value());
    if (spare_nodes_.size() < kMaxSpareNodes)
      spare_nodes_.push_back(std::move(node));
    if (task->shutdown_behavior == BLOCK_SHUTDOWN)
      --blocking_shutdown_pending_task_count_;
    return GET_WORK_FOUND;
  }
  return GET_WORK_NOT_FOUND;
}

bool SequencedWorkerPool::Inner::IsSequenceTokenRunnable(int32_t sequence_token_id) const {
  return sequence_token_id == 0 ||
         std::find(current_sequences_.begin(), current_sequences_.end(), sequence_token_id) ==
             current_sequences_.end();
}

int SequencedWorkerPool::Inner::WillRunWorkerTask(const SequencedTask& task) {
  if (task.sequence_token_id != 0)
    current_sequences_.push_back(task.sequence_token_id);
  if (task.shutdown_behavior != CONTINUE_ON_SHUTDOWN)
    ++blocking_shutdown_thread_count_;
  return PrepareToStartAdditionalThreadIfHelpful();
}

void SequencedWorkerPool::Inner::DidRunWorkerTask(const SequencedTask& task) {
  if (task.shutdown_behavior != CONTINUE_ON_SHUTDOWN)
    --blocking_shutdown_thread_count_;
  if (task.sequence_token_id != 0) {
    auto running = std::find(current_sequences_.begin(), current_sequences_.end(), task.sequence_token_id);
    *running = current_sequences_.back();
    current_sequences_.pop_back();
  }
}

int SequencedWorkerPool::Inner::PrepareToStartAdditionalThreadIfHelpful() {
  if (shutdown_called_ || thread_being_created_ || threads_.size() >= max_threads_ || waiting_thread_count_ != 0)
    return 0;
  for (const SequencedTask& pending : pending_tasks_) {
    if (IsSequenceTokenRunnable(pending.sequence_token_id)) {
      thread_being_created_ = true;
      return static_cast<int>(threads_.size() + 1);
    }
  }
  return 0;
}

bool SequencedWorkerPool::Inner::FinishStartingAdditionalThread(int thread_number) {
  if (Worker::Start(worker_pool_, thread_number, thread_name_prefix_))
    return true;
  LOG(ERROR) << "worker " << thread_number << " of pool \"" << thread_name_prefix_ << "\" could not be started";
  AutoLock lock(lock_);
  thread_being_created_ = false;
  can_shutdown_cv_.Signal();
  return false;
}

bool SequencedWorkerPool::Inner::CanShutdown() const {
  return !thread_being_created_ && blocking_shutdown_thread_count_ == 0 && blocking_shutdown_pending_task_count_ == 0;
}

bool SequencedWorkerPool::Inner::WorkersLeftOrContinuing() const {
  for (const auto& [thread_id, worker] : threads_) {
    if (!worker->left_loop && !worker->continuing_past_shutdown)
      return false;
  }
  return true;
}

void SequencedWorkerPool::Inner::Shutdown(int max_new_blocking_tasks_after_shutdown) {
  std::vector<Closure> abandoned_tasks;
  std::vector<std::unique_ptr<Worker>> leaving_workers;
  TimeTicks wait_start;  // stays null when Shutdown had nothing to wait for
  {
    AutoLock lock(lock_);
    if (shutdown_called_)
      return;
    shutdown_called_ = true;
    max_blocking_tasks_after_shutdown_ = max_new_blocking_tasks_after_shutdown;
    has_work_cv_.Signal();
    if (!CanShutdown()) {
      wait_start = TimeTicks::Now();
      if (testing_observer_)
        testing_observer_->WillWaitForShutdown();
    }
    while (!CanShutdown()) {
      if (threads_.empty() && !thread_being_created_) {
        // Every attempt to make a worker failed, so nothing would ever run the blocking tasks. Try once more;
        // if that fails too, give the tasks up rather than wait forever.
        thread_being_created_ = true;
        bool started;
        {
          AutoUnlock unlock(lock_);
          started = FinishStartingAdditionalThread(1);
        }
        if (!started) {
          LOG(ERROR) << "pool \"" << thread_name_prefix_ << "\" has no worker: " << pending_tasks_.size()
                     << " pending tasks are dropped at shutdown";
          for (const SequencedTask& pending : pending_tasks_)
            abandoned_tasks.push_back(pending.task);
          pending_tasks_.clear();
          blocking_shutdown_pending_task_count_ = 0;
        }
        continue;
      }
      can_shutdown_cv_.Wait();
    }
    // A worker's thread goes on after it left the loop (thread-local destructors, COM). The process may end as
    // soon as Shutdown returns, and a thread still ending then can take the process's exit down with it: wait
    // for those threads too. A worker running a task that may go on past shutdown is not waited for.
    while (!WorkersLeftOrContinuing())
      can_shutdown_cv_.Wait();
    const Worker* calling_worker = Worker::GetForCurrentThread();
    for (auto i = threads_.begin(); i != threads_.end();) {
      if (i->second->left_loop && i->second.get() != calling_worker) {
        leaving_workers.push_back(std::move(i->second));
        i = threads_.erase(i);
      } else {
        ++i;
      }
    }
  }
  abandoned_tasks.clear();  // outside the lock
  for (std::unique_ptr<Worker>& worker : leaving_workers)
    worker->Join();
  if (wait_start.is_null())
    return;

  static HistogramBase* const shutdown_delay_histogram = Histogram::FactoryTimeGet(
      "SequencedWorkerPool.ShutdownDelayTime", TimeDelta::FromMilliseconds(1), TimeDelta::FromSeconds(10), 50,
      HistogramBase::kReportedFlag);
  shutdown_delay_histogram->AddTime(TimeTicks::Now() - wait_start);
}

// ---- SequencedWorkerPool ----

SequencedWorkerPool::SequencedWorkerPool(size_t max_threads, const std::string& thread_name_prefix)
    : SequencedWorkerPool(max_threads, thread_name_prefix, nullptr) {}

SequencedWorkerPool::SequencedWorkerPool(size_t max_threads, const std::string& thread_name_prefix,
                                         TestingObserver* observer)
    : constructor_task_runner_(ThreadTaskRunnerHandle::Get()),
      inner_(new Inner(this, max_threads, thread_name_prefix, observer)) {}

SequencedWorkerPool::~SequencedWorkerPool() = default;

void SequencedWorkerPool::OnDestruct() const {
  if (inner_->RunsTasksOnCurrentThread()) {
    // A worker cannot delete the pool: that would join the worker's own thread.
    constructor_task_runner_->PostTask(
        Location("base::SequencedWorkerPool::OnDestruct", __FILE__, __LINE__, GetProgramCounter()),
        Bind(&DeleteOnConstructorThread, Unretained(this)));
    return;
  }
  delete this;
}

SequencedWorkerPool::SequenceToken SequencedWorkerPool::GetNamedSequenceToken(const std::string& name) {
  return inner_->GetNamedSequenceToken(name);
}

scoped_refptr<SequencedTaskRunner> SequencedWorkerPool::GetSequencedTaskRunnerWithShutdownBehavior(
    SequenceToken token, WorkerShutdown shutdown_behavior) {
  return scoped_refptr<SequencedTaskRunner>(
      new SequencedWorkerPoolSequencedTaskRunner(this, token, shutdown_behavior));
}

bool SequencedWorkerPool::PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) {
  const WorkerShutdown behavior = delay.is_zero() ? BLOCK_SHUTDOWN : SKIP_ON_SHUTDOWN;
  return PostTaskWithBehavior(from_here, SequenceToken(), behavior, std::move(task), delay);
}

bool SequencedWorkerPool::RunsTasksOnCurrentThread() const {
  return inner_->RunsTasksOnCurrentThread();
}

void SequencedWorkerPool::Shutdown(int max_new_blocking_tasks_after_shutdown) {
  inner_->Shutdown(max_new_blocking_tasks_after_shutdown);
}

bool SequencedWorkerPool::PostTaskWithBehavior(const Location& from_here, SequenceToken token,
                                               WorkerShutdown shutdown_behavior, Closure task, TimeDelta delay) {
  return inner_->PostTask(token, shutdown_behavior, from_here, std::move(task), delay);
}

bool SequencedWorkerPool::IsRunningSequenceOnCurrentThread(SequenceToken token) const {
  return inner_->IsRunningSequenceOnCurrentThread(token);
}

}  // namespace base
