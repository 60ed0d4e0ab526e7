#include "base/metrics/bucket_range_table.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/metrics/metrics_test_util.h"

namespace base {
namespace {

using metrics_test::MakeTable;

TEST(BucketRangeTableTest, ChecksumIsTheUninvertedCrcStartedWithTheBoundaryCount) {
  // The oracle derives the raw register from zlib's CRC-32.
  for (const metrics_test::ExpectedRanges& expected : metrics_test::LoadExpectedRanges()) {
    std::unique_ptr<BucketRangeTable> table = MakeTable(expected.ranges);
    EXPECT_EQ(expected.checksum, table->checksum()) << expected.kind << " " << expected.ranges.size();
    EXPECT_TRUE(table->HasValidChecksum());
  }
}

TEST(BucketRangeTableTest, ChecksumNoticesAnyChangedBoundary) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 1, 2, 3, 5, 9, 0x7fffffff});
  for (size_t i = 0; i < table->size(); ++i) {
    const int32_t saved = table->range(i);
    table->set_range(i, saved ^ 0x10);
    EXPECT_FALSE(table->HasValidChecksum()) << i;
    table->set_range(i, saved);
    EXPECT_TRUE(table->HasValidChecksum());
  }
}

TEST(BucketRangeTableTest, EqualityNeedsChecksumSizeAndEveryBoundary) {
  std::unique_ptr<BucketRangeTable> a = MakeTable({0, 1, 2, 0x7fffffff});
  std::unique_ptr<BucketRangeTable> b = MakeTable({0, 1, 2, 0x7fffffff});
  std::unique_ptr<BucketRangeTable> c = MakeTable({0, 1, 3, 0x7fffffff});
  std::unique_ptr<BucketRangeTable> d = MakeTable({0, 1, 2, 3, 0x7fffffff});
  EXPECT_TRUE(a->Equals(b.get()));
  EXPECT_FALSE(a->Equals(c.get()));
  EXPECT_FALSE(a->Equals(d.get()));
  // Same boundaries but a stale checksum: not equal.
  b->set_checksum(b->checksum() + 1);
  EXPECT_FALSE(a->Equals(b.get()));
  EXPECT_EQ(3u, a->bucket_count());
}

TEST(BucketRangeTableDeathTest, NegativeBoundaryIsFatal) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  BucketRangeTable table(3);
  EXPECT_EXIT(table.set_range(1, -1), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)),
              "Check failed: value >= 0");
}

}  // namespace
}  // namespace base
