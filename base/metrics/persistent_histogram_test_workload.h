// The work of the two-process persistent histogram test, shared by the test and its child program: the
// histograms of workload.txt (written by testdata_oracle.py, which also checks the segment afterwards) and
// what each process adds to them.
#ifndef BASE_METRICS_PERSISTENT_HISTOGRAM_TEST_WORKLOAD_H_
#define BASE_METRICS_PERSISTENT_HISTOGRAM_TEST_WORKLOAD_H_

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/metrics/histogram.h"
#include "base/metrics/sparse_histogram.h"

namespace base {
namespace metrics_test {

using WorkloadSamples = std::vector<std::pair<int32_t, int32_t>>;  // value, count

struct WorkloadHistogram {
  std::string kind;  // "exponential", "linear", "boolean", "custom" or "sparse"
  std::string name;
  int32_t minimum = 0;
  int32_t maximum = 0;
  uint32_t bucket_count = 0;
  std::vector<int32_t> custom_ranges;
  WorkloadSamples parent;
  WorkloadSamples child;
};

inline WorkloadSamples ParseWorkloadSamples(std::istringstream& fields) {
  WorkloadSamples samples;
  std::string item;
  while (fields >> item) {
    size_t colon = item.find(':');
    samples.emplace_back(std::stoi(item.substr(0, colon)), std::stoi(item.substr(colon + 1)));
  }
  return samples;
}

// False when the text is not a workload.
inline bool ParseWorkload(const std::string& text, std::vector<WorkloadHistogram>* histograms) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream header(line);
    std::string keyword, custom;
    WorkloadHistogram histogram;
    header >> keyword >> histogram.kind >> histogram.name >> histogram.minimum >> histogram.maximum >>
        histogram.bucket_count >> custom;
    if (header.fail() || keyword != "histogram")
      return false;
    std::istringstream custom_list(custom == "-" ? std::string() : custom);
    std::string boundary;
    while (std::getline(custom_list, boundary, ','))
      histogram.custom_ranges.push_back(std::stoi(boundary));
    for (WorkloadSamples* samples : {&histogram.parent, &histogram.child}) {
      if (!std::getline(lines, line))
        return false;
      std::istringstream fields(line);
      fields >> keyword;
      *samples = ParseWorkloadSamples(fields);
    }
    histograms->push_back(std::move(histogram));
  }
  return !histograms->empty();
}

// The factory call for the histogram.
inline HistogramBase* MakeWorkloadHistogram(const WorkloadHistogram& histogram) {
  constexpr int32_t kFlags = HistogramBase::kReportedFlag;
  if (histogram.kind == "sparse")
    return SparseHistogram::FactoryGet(histogram.name, kFlags);
  if (histogram.kind == "boolean")
    return BooleanHistogram::FactoryGet(histogram.name, kFlags);
  if (histogram.kind == "custom")
    return CustomHistogram::FactoryGet(histogram.name, histogram.custom_ranges, kFlags);
  if (histogram.kind == "linear") {
    return LinearHistogram::FactoryGet(histogram.name, histogram.minimum, histogram.maximum,
                                       histogram.bucket_count, kFlags);
  }
  return Histogram::FactoryGet(histogram.name, histogram.minimum, histogram.maximum, histogram.bucket_count,
                               kFlags);
}

// One Add per sample, so that two processes doing this at once really interleave.
inline void AddWorkloadSamples(HistogramBase* histogram, const WorkloadSamples& samples) {
  for (const auto& [value, count] : samples) {
    for (int32_t i = 0; i < count; ++i)
      histogram->Add(value);
  }
}

}  // namespace metrics_test
}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_HISTOGRAM_TEST_WORKLOAD_H_
