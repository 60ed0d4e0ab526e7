// Helpers for the metrics tests: the expected results that testdata_oracle.py computed on Linux.
#ifndef BASE_METRICS_METRICS_TEST_UTIL_H_
#define BASE_METRICS_METRICS_TEST_UTIL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace base {

class BucketRangeTable;
class SampleSet;

namespace metrics_test {

// A table of the given boundaries with its checksum.
std::unique_ptr<BucketRangeTable> MakeTable(const std::vector<int32_t>& boundaries);

// One bucket as a container's iterator yields it.
struct Bucket {
  int32_t min;
  int32_t max;
  int32_t count;
  bool operator==(const Bucket&) const = default;
};

// Every non-empty bucket of the samples, in iteration order.
std::vector<Bucket> Buckets(const SampleSet& samples);

// One line of ranges.txt: a boundary table computed from the published rule, with its checksum.
struct ExpectedRanges {
  std::string kind;  // "exponential", "linear" or "custom"
  int64_t minimum = 0;
  int64_t maximum = 0;
  int64_t bucket_count = 0;  // as passed to the factory, before clamping
  std::vector<int32_t> ranges;
  uint32_t checksum = 0;
};

// Every table of ranges.txt; fails the running test when the file is missing or malformed.
std::vector<ExpectedRanges> LoadExpectedRanges();

// One case of graphs.txt: a histogram, its samples and the text graphs the published rules give.
struct GraphCase {
  std::string kind;  // "exponential", "linear", "boolean", "custom" or "sparse"
  std::string name;
  int32_t minimum = 0;
  int32_t maximum = 0;
  int32_t bucket_count = 0;
  int32_t flags = 0;
  std::vector<std::pair<int32_t, int32_t>> samples;  // value, count
  std::vector<std::pair<int32_t, std::string>> descriptions;
  std::vector<int32_t> custom_ranges;
  std::string ascii;  // with "\n" line ends
  std::string html;
};

std::vector<GraphCase> LoadGraphCases();

// The whole of a file in the test data folder; fails the running test when it cannot be read.
std::string ReadTestData(const std::wstring& name);

}  // namespace metrics_test
}  // namespace base

#endif  // BASE_METRICS_METRICS_TEST_UTIL_H_
