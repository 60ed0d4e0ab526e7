// The message loop's two costs that matter to its users, for each loop type: tasks posted and run on one
// thread (the loop posting to itself), and the round trip of a task posted to another thread's loop whose
// reply comes back. Both are measured against a bare queue made of a mutex, a condition variable and a deque
// of the same closures, in the same run.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_default.h"
#include "base/run_loop.h"
#include "base/synchronization/waitable_event.h"
#include "bench/bench_util.h"

namespace {

const int kTasksPerBody = bench::Sized(20000, 500);
const int kRoundTripsPerBody = bench::Sized(2000, 50);

const base::MessageLoop::Type kTypes[] = {base::MessageLoop::TYPE_DEFAULT, base::MessageLoop::TYPE_UI,
                                          base::MessageLoop::TYPE_CUSTOM, base::MessageLoop::TYPE_IO};

std::string TypeName(base::MessageLoop::Type type) {
  switch (type) {
    case base::MessageLoop::TYPE_DEFAULT:
      return "default";
    case base::MessageLoop::TYPE_UI:
      return "UI";
    case base::MessageLoop::TYPE_CUSTOM:
      return "custom";
    case base::MessageLoop::TYPE_IO:
      return "IO";
  }
  return "?";
}

std::unique_ptr<base::MessagePump> MakeDefaultPump() {
  return std::make_unique<base::MessagePumpDefault>();
}

std::unique_ptr<base::MessageLoop> MakeLoop(base::MessageLoop::Type type) {
  if (type == base::MessageLoop::TYPE_IO)
    return std::make_unique<base::MessageLoopForIO>();
  if (type == base::MessageLoop::TYPE_CUSTOM) {
    std::unique_ptr<base::MessageLoop> loop = base::MessageLoop::CreateUnbound(type, base::Bind(&MakeDefaultPump));
    loop->BindToCurrentThread();
    return loop;
  }
  return std::make_unique<base::MessageLoop>(type);
}

void Add(long long* total, int amount) {
  *total += amount;
}

// The bare queue: what any cross-thread hand-off needs at the least.
class BareQueue {
 public:
  void Post(base::Closure task) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
  }
  // Waits for a task and runs it.
  void RunOne() {
    base::Closure task;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      ready_.wait(hold, [this] { return !tasks_.empty(); });
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task.Run();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<base::Closure> tasks_;
};

double LoopSingleThreadRate(base::MessageLoop::Type type) {
  std::unique_ptr<base::MessageLoop> loop = MakeLoop(type);
  long long total = 0;
  const double rate = bench::Rate(
      [&] {
        for (int i = 0; i < kTasksPerBody; ++i)
          loop->PostTask(FROM_HERE, base::Bind(&Add, &total, 1));
        base::RunLoop run_loop;
        loop->PostTask(FROM_HERE, run_loop.QuitClosure());
        run_loop.Run();
      },
      kTasksPerBody);
  bench::DoNotOptimize(&total);
  return rate;
}

double BareSingleThreadRate() {
  BareQueue queue;
  long long total = 0;
  const double rate = bench::Rate(
      [&] {
        for (int i = 0; i < kTasksPerBody; ++i)
          queue.Post(base::Bind(&Add, &total, 1));
        for (int i = 0; i < kTasksPerBody; ++i)
          queue.RunOne();
      },
      kTasksPerBody);
  bench::DoNotOptimize(&total);
  return rate;
}

// A thread running a loop of `type` until it is told to stop.
class LoopThread {
 public:
  explicit LoopThread(base::MessageLoop::Type type) : started_(true, false) {
    thread_ = std::thread([this, type] {
      std::unique_ptr<base::MessageLoop> loop = MakeLoop(type);
      base::RunLoop run_loop;
      runner_ = loop->task_runner();
      quit_ = run_loop.QuitClosure();
      started_.Signal();
      run_loop.Run();
    });
    started_.Wait();
  }
  ~LoopThread() {
    runner_->PostTask(FROM_HERE, quit_);
    thread_.join();
  }
  const base::scoped_refptr<base::SingleThreadTaskRunner>& runner() const { return runner_; }

 private:
  base::WaitableEvent started_;
  std::thread thread_;
  base::scoped_refptr<base::SingleThreadTaskRunner> runner_;
  base::Closure quit_;
};

// Round trips per second: this thread's loop posts to the other thread's loop, whose task posts the reply
// back; each reply starts the next trip.
double LoopRoundTripRate(base::MessageLoop::Type type) {
  std::unique_ptr<base::MessageLoop> loop = MakeLoop(type);
  LoopThread other(type);
  const base::scoped_refptr<base::SingleThreadTaskRunner> here = loop->task_runner();
  const base::scoped_refptr<base::SingleThreadTaskRunner> there = other.runner();
  return bench::Rate(
      [&] {
        int remaining = kRoundTripsPerBody;
        base::RunLoop run_loop;
        base::Closure trip;
        base::Closure reply = base::Bind([&] {
          if (--remaining == 0)
            run_loop.Quit();
          else
            trip.Run();
        });
        trip = base::Bind([&] { there->PostTask(FROM_HERE, base::Bind([&] { here->PostTask(FROM_HERE, reply); })); });
        trip.Run();
        run_loop.Run();
        trip.Reset();
      },
      kRoundTripsPerBody);
}

double BareRoundTripRate() {
  BareQueue here;
  BareQueue there;
  bool stop = false;
  std::thread other([&] {
    while (!stop)
      there.RunOne();
  });
  const double rate = bench::Rate(
      [&] {
        for (int i = 0; i < kRoundTripsPerBody; ++i) {
          there.Post(base::Bind([&] { here.Post(base::Bind([] {})); }));
          here.RunOne();
        }
      },
      kRoundTripsPerBody);
  there.Post(base::Bind([&] { stop = true; }));
  other.join();
  return rate;
}

// What one pass of the UI pump asks of the system before it runs a task: the queue status and a peek. Under
// wine both go to the wine server, which bounds the UI loop's rate on one thread.
double UIPassFloorRate() {
  return bench::Rate(
      [] {
        MSG msg;
        for (int i = 0; i < 1000; ++i) {
          bench::DoNotOptimize(reinterpret_cast<const void*>(static_cast<uintptr_t>(GetQueueStatus(QS_SENDMESSAGE))));
          PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        }
      },
      1000);
}

// The IO pump's pass: one look at the completion port without waiting.
double IOPassFloorRate() {
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  const double rate = bench::Rate(
      [port] {
        DWORD bytes;
        ULONG_PTR key;
        OVERLAPPED* overlapped;
        for (int i = 0; i < 1000; ++i)
          GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, 0);
      },
      1000);
  CloseHandle(port);
  return rate;
}

// The least a round trip through two threads' Windows message queues costs: a thread message each way, each
// side waiting for input and peeking it off, as the UI pump does.
double RawMessageRoundTripRate() {
  constexpr UINT kPing = WM_APP + 1;
  constexpr UINT kStop = WM_APP + 2;
  const DWORD here = GetCurrentThreadId();
  base::WaitableEvent ready(true, false);
  DWORD there = 0;
  auto wait_for = [](UINT* message) {
    MSG msg;
    for (;;) {
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        *message = msg.message;
        return;
      }
      MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
  };
  std::thread other([&] {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes this thread's queue
    there = GetCurrentThreadId();
    ready.Signal();
    UINT message = 0;
    for (;;) {
      wait_for(&message);
      if (message == kStop)
        return;
      PostThreadMessageW(here, kPing, 0, 0);
    }
  });
  ready.Wait();
  const double rate = bench::Rate(
      [&] {
        UINT message = 0;
        for (int i = 0; i < kRoundTripsPerBody; ++i) {
          PostThreadMessageW(there, kPing, 0, 0);
          wait_for(&message);
        }
      },
      kRoundTripsPerBody);
  PostThreadMessageW(there, kStop, 0, 0);
  other.join();
  return rate;
}

}  // namespace

int main() {
  const double bare_single = BareSingleThreadRate();
  for (base::MessageLoop::Type type : kTypes) {
    bench::Report(TypeName(type) + " loop: tasks posted and run on one thread", LoopSingleThreadRate(type),
                  "tasks/s", "mutex + condition variable queue", bare_single);
  }
  bench::Report("UI loop: tasks posted and run on one thread", LoopSingleThreadRate(base::MessageLoop::TYPE_UI),
                "tasks/s", "GetQueueStatus + PeekMessageW alone", UIPassFloorRate());
  bench::Report("IO loop: tasks posted and run on one thread", LoopSingleThreadRate(base::MessageLoop::TYPE_IO),
                "tasks/s", "GetQueuedCompletionStatus without waiting alone", IOPassFloorRate());
  const double bare_trip = 1e6 / BareRoundTripRate();
  for (base::MessageLoop::Type type : kTypes) {
    bench::Report(TypeName(type) + " loops: post to another thread and reply", 1e6 / LoopRoundTripRate(type),
                  "us per round trip", "mutex + condition variable queues", bare_trip, bench::Better::kLower);
  }
  bench::Report("UI loops: post to another thread and reply", 1e6 / LoopRoundTripRate(base::MessageLoop::TYPE_UI),
                "us per round trip", "thread messages each way, waited for and peeked", 1e6 / RawMessageRoundTripRate(),
                bench::Better::kLower);
  return 0;
}
