// Costs paid for every posted task: running a bound closure (against a plain call through a function
// pointer), copying one (an atomic reference-count pair), and reading the clocks (against the raw system
// calls beneath them).
#include <windows.h>

#include <atomic>
#include <functional>

#include "base/bind.h"
#include "base/callback.h"
#include "base/memory/weak_ptr.h"
#include "base/time/time.h"
#include "bench/bench_util.h"

namespace {

constexpr int kCallsPerBody = 100000;

class Counter {
 public:
  Counter() : weak_factory_(this) {}
  void Add(int amount) { total_ += amount; }
  base::WeakPtr<Counter> GetWeakPtr() { return weak_factory_.GetWeakPtr(); }
  long long total() const { return total_; }

 private:
  long long total_ = 0;
  base::WeakPtrFactory<Counter> weak_factory_;
};

void AddTo(Counter* counter, int amount) {
  counter->Add(amount);
}
void (*volatile g_add_to)(Counter*, int) = &AddTo;

// Calls `call` kCallsPerBody times per body; the rate is in calls per second.
template <typename Call>
double CallRate(Call call) {
  return bench::Rate(
      [&] {
        for (int i = 0; i < kCallsPerBody; ++i)
          call();
      },
      kCallsPerBody);
}

}  // namespace

int main() {
  Counter counter;
  const double direct = CallRate([&] { g_add_to(&counter, 1); });
  const base::Closure unretained = base::Bind(&Counter::Add, base::Unretained(&counter), 1);
  const double closure = CallRate([&] { unretained.Run(); });
  bench::Report("Closure::Run (unretained method)", closure, "calls/s", "call through a function pointer", direct);
  const base::Closure weak = base::Bind(&Counter::Add, counter.GetWeakPtr(), 1);
  const double weak_closure = CallRate([&] { weak.Run(); });
  bench::Report("Closure::Run (weak method)", weak_closure, "calls/s", "call through a function pointer", direct);
  const double copies = CallRate([&] {
    base::Closure copy = weak;
    bench::DoNotOptimize(&copy);
  });
  bench::Report("Closure copy and destroy", copies, "copies/s", "call through a function pointer", direct);
  bench::DoNotOptimize(&counter);

  LARGE_INTEGER counter_value;
  const double qpc = CallRate([&] {
    QueryPerformanceCounter(&counter_value);
    bench::DoNotOptimize(&counter_value);
  });
  const double ticks = CallRate([] {
    base::TimeTicks now = base::TimeTicks::Now();
    bench::DoNotOptimize(&now);
  });
  bench::Report("TimeTicks::Now", ticks, "calls/s", "QueryPerformanceCounter", qpc);
  FILETIME file_time;
  const double system_time = CallRate([&] {
    GetSystemTimeAsFileTime(&file_time);
    bench::DoNotOptimize(&file_time);
  });
  const double now = CallRate([] {
    base::Time time = base::Time::Now();
    bench::DoNotOptimize(&time);
  });
  bench::Report("Time::Now", now, "calls/s", "GetSystemTimeAsFileTime", system_time);
  return 0;
}
