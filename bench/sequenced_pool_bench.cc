// Throughput of the sequenced worker pool with 4 workers and 16 sequences: tiny tasks posted round robin to
// the sequences from one thread, counted from the first post until the last task has run. The reference, in
// the same run, is a bare work queue (one mutex, one condition variable, 4 threads) that keeps no sequences.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_task_runner_handle.h"
#include "bench/bench_util.h"

namespace {

constexpr int kWorkers = 4;
constexpr int kSequences = 16;
const int kTasks = bench::Sized(100000, 2000);

struct Completion {
  std::atomic<int> remaining{0};
  base::WaitableEvent done{false, false};
};

void CountTask(Completion* completion) {
  if (completion->remaining.fetch_sub(1, std::memory_order_acq_rel) == 1)
    completion->done.Signal();
}

void RunPool(Completion* completion) {
  base::scoped_refptr<base::SequencedWorkerPool> pool(new base::SequencedWorkerPool(kWorkers, "BenchPool"));
  std::vector<base::scoped_refptr<base::SequencedTaskRunner>> runners;
  for (int s = 0; s < kSequences; ++s) {
    runners.push_back(pool->GetSequencedTaskRunnerWithShutdownBehavior(
        pool->GetNamedSequenceToken("bench " + std::to_string(s)), base::SequencedWorkerPool::BLOCK_SHUTDOWN));
  }
  completion->remaining = kTasks;
  for (int i = 0; i < kTasks; ++i)
    runners[i % kSequences]->PostTask(FROM_HERE, base::Bind(&CountTask, completion));
  completion->done.Wait();
  pool->Shutdown(0);
}

// The reference: a FIFO of closures shared by 4 threads.
class BareWorkQueue {
 public:
  BareWorkQueue() {
    for (int i = 0; i < kWorkers; ++i)
      threads_.emplace_back([this] { Loop(); });
  }
  ~BareWorkQueue() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stopping_ = true;
    }
    has_work_.notify_all();
    for (std::thread& thread : threads_)
      thread.join();
  }
  void Post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      queue_.push_back(std::move(task));
    }
    has_work_.notify_one();
  }

 private:
  void Loop() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> hold(mutex_);
        has_work_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
          return;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable has_work_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

void RunBareQueue(Completion* completion) {
  BareWorkQueue queue;
  completion->remaining = kTasks;
  for (int i = 0; i < kTasks; ++i)
    queue.Post([completion] { CountTask(completion); });
  completion->done.Wait();
}

}  // namespace

int main() {
  // The pool belongs to a thread with a task runner.
  base::scoped_refptr<base::ManualTaskRunner> runner(new base::ManualTaskRunner);
  base::ThreadTaskRunnerHandle handle(runner);
  Completion completion;
  // Interleaved rounds, so that both see the same machine load.
  double pool_rate = 0;
  double queue_rate = 0;
  for (int round = 0; round < bench::Sized(3, 1); ++round) {
    pool_rate = std::max(pool_rate, bench::Rate([&] { RunPool(&completion); }, kTasks));
    queue_rate = std::max(queue_rate, bench::Rate([&] { RunBareQueue(&completion); }, kTasks));
  }
  bench::Report("SequencedWorkerPool, 4 workers, 16 sequences", pool_rate / 1e3, "k tasks/s",
                "mutex + condition-variable queue, 4 threads", queue_rate / 1e3);
  return 0;
}
