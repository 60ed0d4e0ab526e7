// A small benchmark harness: every figure is printed beside a reference measured in the same run, with the
// ratio oriented so that above 1.0 means better than the reference.
#ifndef BENCH_BENCH_UTIL_H_
#define BENCH_BENCH_UTIL_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Whether the run is a smoke run (environment ZORVI_BENCH_SMOKE=1, set by bench/run.sh --smoke): every benchmark
// then does its work once at a small size, only to show that it still runs and prints its ratios.
bool Smoke();

// `full`, or `smoke` in a smoke run.
int Sized(int full, int smoke);

// Seconds from a monotonic high-resolution clock.
double NowSeconds();

// Calls `body` (which does `work_per_call` units of work) until at least `min_seconds` have passed, after one
// warm-up call, and returns the units of work per second. A smoke run calls it once after the warm-up.
double Rate(const std::function<void()>& body, double work_per_call, double min_seconds = 1.0);

enum class Better { kHigher, kLower };

// The shortest wall time in seconds of `runs` calls of `body` (one in a smoke run), which returns false on failure
// (then -1). `prepare` runs untimed before each call.
template <typename Prepare, typename Body>
double BestSeconds(int runs, Prepare prepare, Body body) {
  runs = Sized(runs, 1);
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    prepare();
    const double start = NowSeconds();
    if (!body())
      return -1;
    const double spent = NowSeconds() - start;
    best = spent < best ? spent : best;
  }
  return best;
}

template <typename Body>
double BestSeconds(int runs, Body body) {
  return BestSeconds(runs, [] {}, body);
}

// Prints "name: value unit | reference_name: reference unit | ratio R x" where R > 1 favours `value`.
void Report(const std::string& name, double value, const std::string& unit, const std::string& reference_name,
            double reference, Better better = Better::kHigher);

// Prints one machine-readable figure ("figure<TAB>name<TAB>value<TAB>unit") for a script that compares it
// with a reference measured outside this process.
void PrintFigure(const std::string& name, double value, const std::string& unit);

// Every folder and file below `root` + `relative`, as paths relative to `root` that start with a separator,
// folders before their contents.
void ListTree(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>* folders,
              std::vector<std::wstring>* files);

// The program's arguments, the program's own path first, when it was given `count` of them; otherwise prints
// "usage: " and `usage` and returns null (main then returns 2).
wchar_t** Arguments(int count, const char* usage);

// The bare reference of a download: a GET of `url` by synchronous WinINet calls, `read_size` bytes per
// InternetReadFile, each piece written to `output` as it comes.
bool BareDownload(const std::wstring& url, const std::wstring& output, size_t read_size);

// The bare reference of a tree copy: CreateDirectoryW of `folders`, then CopyFileW of `files` (paths as ListTree
// gives them) from `tree` into `destination`, which must not exist yet.
bool BareCopy(const std::wstring& tree, const std::wstring& destination, const std::vector<std::wstring>& folders,
              const std::vector<std::wstring>& files);

// Keeps the optimiser from discarding a computed value.
void DoNotOptimize(const void* pointer);

}  // namespace bench

#endif  // BENCH_BENCH_UTIL_H_
