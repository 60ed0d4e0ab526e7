// The cost of handing a task to a thread: posting through a loop's task runner and incoming queue, then
// taking the queue in one swap and running each task through the annotator. Measured against a plain
// locked deque of the same closures (the least a cross-thread hand-off needs), with one poster and with
// four, and with the task profiler's births and deaths (and their clock readings) on.
#include <windows.h>

#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/debug/task_annotator.h"
#include "base/message_loop/incoming_task_queue.h"
#include "base/message_loop/message_loop_task_runner.h"
#include "base/profiler/task_profiler.h"
#include "bench/bench_util.h"

namespace {

const int kTasksPerBody = bench::Sized(20000, 500);

class SilentLoop : public base::IncomingTaskQueue::Loop {
 public:
  void ScheduleWork() override {}
  base::debug::TaskAnnotator* task_annotator() override { return &annotator; }
  base::debug::TaskAnnotator annotator;
};

void Add(long long* total, int amount) {
  *total += amount;
}

// Calls `post` kTasksPerBody times in all, shared among `posters` new threads, and waits for them.
template <typename Post>
void PostFromThreads(int posters, Post post) {
  std::vector<std::thread> threads;
  for (int p = 0; p < posters; ++p) {
    threads.emplace_back([&] {
      for (int i = 0; i < kTasksPerBody / posters; ++i)
        post();
    });
  }
  for (std::thread& thread : threads)
    thread.join();
}

// Posts kTasksPerBody tasks from `posters` threads, then drains and runs them on this thread.
double PostingRate(int posters) {
  SilentLoop loop;
  auto queue = base::MakeRefCounted<base::IncomingTaskQueue>(&loop);
  auto runner = base::MakeRefCounted<base::MessageLoopTaskRunner>(queue);
  queue->StartScheduling();
  runner->BindToCurrentThread();
  long long total = 0;
  const double rate = bench::Rate(
      [&] {
        PostFromThreads(posters, [&] { runner->PostTask(FROM_HERE, base::Bind(&Add, &total, 1)); });
        base::TaskQueue work;
        queue->ReloadWorkQueue(&work);
        while (!work.empty()) {
          loop.annotator.RunTask("MessageLoop::PostTask", work.front());
          work.pop();
        }
      },
      kTasksPerBody);
  queue->WillDestroyCurrentMessageLoop();
  bench::DoNotOptimize(&total);
  return rate;
}

double ReferenceRate(int posters) {
  std::mutex mutex;
  std::deque<base::Closure> queue;
  long long total = 0;
  const double rate = bench::Rate(
      [&] {
        PostFromThreads(posters, [&] {
          std::lock_guard<std::mutex> hold(mutex);
          queue.push_back(base::Bind(&Add, &total, 1));
        });
        std::deque<base::Closure> work;
        {
          std::lock_guard<std::mutex> hold(mutex);
          work.swap(queue);
        }
        for (auto& task : work)
          task.Run();
      },
      kTasksPerBody);
  bench::DoNotOptimize(&total);
  return rate;
}

}  // namespace

int main() {
  for (int posters : {1, 4}) {
    const double reference = ReferenceRate(posters);
    const double posting = PostingRate(posters);
    bench::Report("posted and ran, " + std::to_string(posters) + " poster(s)", posting, "tasks/s",
                  "mutex + deque of closures", reference);
  }
  const double untracked = PostingRate(1);
  base::ThreadData::Initialize();
  const double tracked = PostingRate(1);
  bench::Report("posted and ran with births and deaths tallied", tracked, "tasks/s", "profiler off",
                untracked);
  return 0;
}
