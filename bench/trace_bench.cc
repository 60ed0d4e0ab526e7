// The cost of tracing while it is off: a traced site tests its cached category byte (one load and test), and
// a site that has not cached its pointer yet looks its category up by name. Both are set against an empty loop
// of the same length in the same run.
#include <cstdint>
#include <cstdio>

#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_log.h"
#include "bench/bench_util.h"

namespace {

const int kIterations = bench::Sized(1000000, 10000);

// Seconds of one call of `body`, which runs kIterations iterations, as nanoseconds per iteration.
double NanosecondsPerIteration(const std::function<void()>& body) {
  const double iterations_per_second = bench::Rate(body, kIterations, 0.5);
  return 1e9 / iterations_per_second;
}

}  // namespace

int main() {
  using base::trace_event::TraceLog;
  // A realistic registry: the built-in groups plus some dozens of names, the looked-up one among the last.
  for (int i = 0; i < 40; ++i)
    TraceLog::GetCategoryGroupEnabled(base::StringPrintf("bench-category-%d", i).c_str());
  const char* const kName = "disabled-by-default-toplevel.flow";
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled(kName);

  volatile uint64_t sink = 0;
  const double empty_ns = NanosecondsPerIteration([&] {
    for (int i = 0; i < kIterations; ++i) {
      asm volatile("");
      sink = sink + 1;
    }
  });
  const double disabled_site_ns = NanosecondsPerIteration([&] {
    for (int i = 0; i < kIterations; ++i) {
      if (base::trace_event::IsCategoryGroupEnabledForAnyMode(category))
        sink = sink + 2;
      sink = sink + 1;
    }
  });
  const double lookup_ns = NanosecondsPerIteration([&] {
    for (int i = 0; i < kIterations; ++i) {
      const unsigned char* found = TraceLog::GetCategoryGroupEnabled(kName);
      bench::DoNotOptimize(found);
      sink = sink + 1;
    }
  });
  bench::DoNotOptimize(const_cast<const uint64_t*>(&sink));

  bench::Report("disabled trace site", disabled_site_ns, "ns/iteration", "empty loop", empty_ns,
                bench::Better::kLower);
  bench::Report("GetCategoryGroupEnabled (last of 45 names)", lookup_ns, "ns/iteration", "empty loop", empty_ns,
                bench::Better::kLower);
  bench::PrintFigure("disabled trace site above the empty loop", disabled_site_ns - empty_ns, "ns");
  bench::PrintFigure("GetCategoryGroupEnabled above the empty loop", lookup_ns - empty_ns, "ns");
  return 0;
}
