// A pool of worker threads, made on demand up to a maximum, that runs posted tasks with two guarantees a
// plain thread does not give: tasks of one sequence never run at the same time and run in posting order,
// and each task carries a shutdown behaviour that decides whether Shutdown waits for it, drops it or
// ignores it. Workers run in a single-threaded COM apartment.
//
//   scoped_refptr<SequencedWorkerPool> pool(new SequencedWorkerPool(1, "PrefsTaskPool"));
//   scoped_refptr<SequencedTaskRunner> runner = pool->GetSequencedTaskRunnerWithShutdownBehavior(
//       pool->GetNamedSequenceToken(path), SequencedWorkerPool::BLOCK_SHUTDOWN);
//   runner->PostTask(FROM_HERE, Bind(&WriteFile, path, data));
//   ...
//   pool->Shutdown(0);  // returns once every BLOCK_SHUTDOWN task has run
//
// The pool must be made on a thread with a task runner: when the last reference goes on one of its own
// workers, it is deleted there instead.
#ifndef BASE_THREADING_SEQUENCED_WORKER_POOL_H_
#define BASE_THREADING_SEQUENCED_WORKER_POOL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/single_thread_task_runner.h"
#include "base/task_runner.h"
#include "base/time/time.h"

namespace base {

class SequencedWorkerPool : public TaskRunner {
 public:
  enum WorkerShutdown : int32_t {
    // Ignored by Shutdown: may still be running when Shutdown returns; dropped if not started.
    CONTINUE_ON_SHUTDOWN = 0,
    // Dropped if not started when Shutdown begins; once started, Shutdown waits for it.
    SKIP_ON_SHUTDOWN = 1,
    // Shutdown waits until it has run.
    BLOCK_SHUTDOWN = 2,
  };

  // Tasks posted with the same valid token run one at a time, in posting order. The default token is
  // invalid: its tasks may run in parallel with anything.
  class SequenceToken {
   public:
    SequenceToken() = default;
    bool Equals(const SequenceToken& other) const { return id_ == other.id_; }
    bool IsValid() const { return id_ != 0; }

   private:
    friend class SequencedWorkerPool;
    explicit SequenceToken(int32_t id) : id_(id) {}
    int32_t id_ = 0;
  };

  // Lets tests see Shutdown begin to wait.
  class TestingObserver {
   public:
    // Called, with the pool's lock held, when Shutdown finds work it has to wait for.
    virtual void WillWaitForShutdown() = 0;

   protected:
    virtual ~TestingObserver() = default;
  };

  // No thread starts until the first post. Worker threads are named `thread_name_prefix` + "Worker" + their
  // number + "/" + their thread id.
  SequencedWorkerPool(size_t max_threads, const std::string& thread_name_prefix);
  SequencedWorkerPool(size_t max_threads, const std::string& thread_name_prefix, TestingObserver* observer);

  // The same token for the same name, for the life of the process; tokens are unique across pools.
  SequenceToken GetNamedSequenceToken(const std::string& name);

  // A runner of `token`'s sequence whose immediate tasks have `shutdown_behavior` (delayed ones are
  // SKIP_ON_SHUTDOWN).
  scoped_refptr<SequencedTaskRunner> GetSequencedTaskRunnerWithShutdownBehavior(SequenceToken token,
                                                                                WorkerShutdown shutdown_behavior);

  // TaskRunner: tasks without a sequence, BLOCK_SHUTDOWN when immediate, SKIP_ON_SHUTDOWN when delayed
  // (a negative delay counts as delayed).
  bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override;
  // True on the pool's workers.
  bool RunsTasksOnCurrentThread() const override;

  // Stops accepting work except BLOCK_SHUTDOWN tasks (up to `max_new_blocking_tasks_after_shutdown` more,
  // and never from a worker running a task of another behaviour), drops what is skippable and returns once
  // every BLOCK_SHUTDOWN task and every started SKIP_ON_SHUTDOWN task has run. Workers leave on their own;
  // they are joined when the pool is deleted.
  void Shutdown(int max_new_blocking_tasks_after_shutdown);

 protected:
  ~SequencedWorkerPool() override;
  // On one of the pool's own workers the deletion is posted to the constructing thread's runner.
  void OnDestruct() const override;

 private:
  friend class SequencedWorkerPoolSequencedTaskRunner;
  class Inner;
  class Worker;

  bool PostTaskWithBehavior(const Location& from_here, SequenceToken token, WorkerShutdown shutdown_behavior,
                            Closure task, TimeDelta delay);
  bool IsRunningSequenceOnCurrentThread(SequenceToken token) const;
  static void DeleteOnConstructorThread(const SequencedWorkerPool* pool) { delete pool; }

  const scoped_refptr<SingleThreadTaskRunner> constructor_task_runner_;
  const std::unique_ptr<Inner> inner_;
};

}  // namespace base

#endif  // BASE_THREADING_SEQUENCED_WORKER_POOL_H_
