// Throughput of recording into a bucketed histogram, from one thread and from eight at once, each beside a
// plain std::atomic increment measured in the same run under the same threading.
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "base/metrics/histogram.h"
#include "base/metrics/sparse_histogram.h"
#include "bench/bench_util.h"

namespace {

const int kAddsPerThread = bench::Sized(1 << 20, 1 << 12);

// Runs `body(thread index)` on `threads` threads at once and waits for all of them.
template <typename Body>
void RunOnThreads(int threads, Body body) {
  if (threads == 1) {
    body(0);
    return;
  }
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back(body, t);
  for (std::thread& worker : workers)
    worker.join();
}

void Measure(const char* label, base::HistogramBase* histogram, int threads) {
  std::atomic<int32_t> counter{0};
  const double work = static_cast<double>(kAddsPerThread) * threads;
  const double add_rate = bench::Rate(
      [&] {
        RunOnThreads(threads, [&](int t) {
          for (int i = 0; i < kAddsPerThread; ++i)
            histogram->Add((i + t) & 1023);
        });
      },
      work);
  const double atomic_rate = bench::Rate(
      [&] {
        RunOnThreads(threads, [&](int) {
          for (int i = 0; i < kAddsPerThread; ++i)
            counter.fetch_add(1, std::memory_order_relaxed);
        });
      },
      work);
  bench::DoNotOptimize(&counter);
  bench::Report(label, add_rate / 1e6, "M adds/s", "std::atomic increment", atomic_rate / 1e6);
}

}  // namespace

int main() {
  base::HistogramBase* histogram = base::Histogram::FactoryGet("Bench.Exponential", 1, 1000, 50, 1);
  Measure("Histogram::Add, 1 thread", histogram, 1);
  Measure("Histogram::Add, 8 threads", histogram, 8);
  base::HistogramBase* sparse = base::SparseHistogram::FactoryGet("Bench.Sparse", 1);
  Measure("SparseHistogram::Add, 1 thread", sparse, 1);
  Measure("SparseHistogram::Add, 8 threads", sparse, 8);
  return 0;
}
