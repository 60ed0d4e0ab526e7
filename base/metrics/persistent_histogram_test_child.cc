// The second process of the persistent histogram test. Arguments: workload file, mapping name, segment size,
// ready event, start event. Opens the parent's segment, finds the parent's histograms in it (exit 10 when one
// is missing or not persistent), makes its own (exit 11), tells the parent it is ready, waits for the start
// (exit 12) and adds its samples while the parent adds its own. Exit 0 on success.
#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_histogram_test_workload.h"
#include "base/metrics/statistics_recorder.h"
#include "testing/test_support.h"

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 6)
    return 2;
  std::string workload_text;
  std::vector<base::metrics_test::WorkloadHistogram> workload;
  if (!test_support::ReadFileBytes(argv[1], &workload_text) ||
      !base::metrics_test::ParseWorkload(workload_text, &workload)) {
    return 3;
  }
  const size_t segment_size = std::stoul(argv[3]);
  HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, argv[2]);
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, segment_size) : nullptr;
  test_support::ScopedTestHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[4]));
  test_support::ScopedTestHandle start(OpenEventW(SYNCHRONIZE, FALSE, argv[5]));
  if (!view || !ready.valid() || !start.valid())
    return 4;

  base::GlobalHistogramAllocator::Set(std::make_unique<base::GlobalHistogramAllocator>(
      std::make_unique<base::PersistentMemoryAllocator>(view, segment_size, 4096, false)));
  base::StatisticsRecorder::InitializeForTesting();

  std::vector<base::HistogramBase*> histograms;
  for (const base::metrics_test::WorkloadHistogram& entry : workload) {
    base::HistogramBase* histogram = nullptr;
    if (!entry.parent.empty()) {
      histogram = base::StatisticsRecorder::FindHistogram(entry.name);
      if (!histogram || !(histogram->flags() & base::HistogramBase::kIsPersistent))
        return 10;
    } else {
      histogram = base::metrics_test::MakeWorkloadHistogram(entry);
      if (!histogram || !(histogram->flags() & base::HistogramBase::kIsPersistent))
        return 11;
    }
    histograms.push_back(histogram);
  }

  SetEvent(ready.get());
  if (WaitForSingleObject(start.get(), 60000) != WAIT_OBJECT_0)
    return 12;
  for (size_t i = 0; i < workload.size(); ++i)
    base::metrics_test::AddWorkloadSamples(histograms[i], workload[i].child);
  return 0;
}
