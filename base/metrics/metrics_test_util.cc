#include "base/metrics/metrics_test_util.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/test_support.h"

namespace base {
namespace metrics_test {

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

}  // namespace metrics_test
}  // namespace base
