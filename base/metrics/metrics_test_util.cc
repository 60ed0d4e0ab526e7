#include "base/metrics/metrics_test_util.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/metrics/bucket_range_table.h"
#include "base/metrics/persistent_histogram_test_workload.h"
#include "base/metrics/sample_set.h"
#include "testing/test_support.h"

namespace base {
namespace metrics_test {

std::unique_ptr<BucketRangeTable> MakeTable(const std::vector<int32_t>& boundaries) {
  auto table = std::make_unique<BucketRangeTable>(boundaries.size());
  for (size_t i = 0; i < boundaries.size(); ++i)
    table->set_range(i, boundaries[i]);
  table->ResetChecksum();
  return table;
}

std::vector<Bucket> Buckets(const SampleSet& samples) {
  std::vector<Bucket> buckets;
  for (std::unique_ptr<SampleCountIterator> it = samples.Iterator(); !it->Done(); it->Next()) {
    Bucket bucket;
    it->Get(&bucket.min, &bucket.max, &bucket.count);
    buckets.push_back(bucket);
  }
  return buckets;
}

std::string ReadTestData(const std::wstring& name) {
  std::wstring dir = test_support::TestDataDir();
  EXPECT_FALSE(dir.empty()) << "ZORVI_TESTDATA is not set";
  std::string contents;
  EXPECT_TRUE(test_support::ReadFileBytes(dir + L"\\" + name, &contents));
  return contents;
}

std::vector<ExpectedRanges> LoadExpectedRanges() {
  std::vector<ExpectedRanges> tables;
  std::istringstream lines(ReadTestData(L"ranges.txt"));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    ExpectedRanges table;
    std::string colon;
    fields >> table.kind >> table.minimum >> table.maximum >> table.bucket_count >> colon;
    EXPECT_EQ(":", colon) << line;
    std::string word;
    while (fields >> word && word != ":")
      table.ranges.push_back(static_cast<int32_t>(std::stoll(word)));
    fields >> table.checksum;
    EXPECT_FALSE(fields.fail()) << line;
    tables.push_back(std::move(table));
  }
  EXPECT_GT(tables.size(), 20u);
  return tables;
}

std::vector<GraphCase> LoadGraphCases() {
  std::vector<GraphCase> cases;
  std::istringstream lines(ReadTestData(L"graphs.txt"));
  std::string line;
  // Splits "keyword rest" and checks the keyword.
  auto next = [&](const char* keyword) {
    EXPECT_TRUE(std::getline(lines, line));
    std::string prefix = std::string(keyword) + " ";
    EXPECT_EQ(prefix, line.substr(0, prefix.size())) << line;
    return std::istringstream(line.size() > prefix.size() ? line.substr(prefix.size()) : std::string());
  };
  while (lines.peek() != EOF) {
    GraphCase graph;
    std::istringstream header = next("case");
    header >> graph.kind >> graph.name >> graph.minimum >> graph.maximum >> graph.bucket_count >> graph.flags;
    EXPECT_FALSE(header.fail()) << line;
    std::istringstream samples = next("samples");
    graph.samples = ParseWorkloadSamples(samples);
    std::string item;
    std::istringstream describe = next("describe");
    while (describe >> item) {
      size_t equals = item.find('=');
      graph.descriptions.emplace_back(std::stoi(item.substr(0, equals)), item.substr(equals + 1));
    }
    std::istringstream custom = next("custom");
    int32_t boundary;
    while (custom >> boundary)
      graph.custom_ranges.push_back(boundary);
    int line_count = 0;
    next("ascii") >> line_count;
    for (int i = 0; i < line_count && std::getline(lines, line); ++i)
      graph.ascii += line + "\n";
    EXPECT_TRUE(std::getline(lines, line));
    EXPECT_EQ("html ", line.substr(0, 5));
    graph.html = line.substr(5);
    cases.push_back(std::move(graph));
  }
  EXPECT_GE(cases.size(), 10u);
  return cases;
}

}  // namespace metrics_test
}  // namespace base
