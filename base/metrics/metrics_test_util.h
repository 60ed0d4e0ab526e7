// Helpers for the metrics tests: the expected results that testdata_oracle.py computed on Linux.
#ifndef BASE_METRICS_METRICS_TEST_UTIL_H_
#define BASE_METRICS_METRICS_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace base {
namespace metrics_test {

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

// The whole of a file in the test data folder; fails the running test when it cannot be read.
std::string ReadTestData(const std::wstring& name);

}  // namespace metrics_test
}  // namespace base

#endif  // BASE_METRICS_METRICS_TEST_UTIL_H_
