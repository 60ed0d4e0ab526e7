#include "base/metrics/bucket_count_vector.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/metrics/bucket_range_table.h"
#include "base/metrics/metrics_test_util.h"

namespace base {
namespace {

using metrics_test::Bucket;
using metrics_test::Buckets;
using metrics_test::MakeTable;

TEST(BucketCountVectorTest, BucketIndexAgreesWithALinearScan) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 1, 2, 3, 5, 9, 16, 29, 54, 100, 0x7fffffff});
  BucketCountVector samples(1, table.get());
  std::vector<int32_t> probes = {0x7ffffffe, 0x40000000};
  for (size_t i = 0; i + 1 < table->size(); ++i) {
    probes.push_back(table->range(i));
    probes.push_back(table->range(i + 1) - 1);
  }
  for (int32_t value : probes) {
    size_t expected = 0;
    while (!(table->range(expected) <= value && value < table->range(expected + 1)))
      ++expected;
    EXPECT_EQ(expected, samples.GetBucketIndex(value)) << value;
  }
}

TEST(BucketCountVectorTest, AccumulateCountsSumAndRedundantCount) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 10, 20, 0x7fffffff});
  BucketCountVector samples(7, table.get());
  samples.Accumulate(5, 2);
  samples.Accumulate(10, 1);
  samples.Accumulate(19, 3);
  samples.Accumulate(0x7ffffffe, 2);
  EXPECT_EQ(2, samples.GetCountAtIndex(0));
  EXPECT_EQ(4, samples.GetCount(15));
  EXPECT_EQ(2, samples.GetCount(21));
  EXPECT_EQ(8, samples.TotalCount());
  EXPECT_EQ(8, samples.redundant_count());
  EXPECT_EQ(5 * 2 + 10 + 19 * 3 + int64_t{0x7ffffffe} * 2, samples.sum());
  EXPECT_EQ(7u, samples.id());
  EXPECT_EQ((std::vector<Bucket>{{0, 10, 2}, {10, 20, 4}, {20, 0x7fffffff, 2}}), Buckets(samples));
}

TEST(BucketCountVectorTest, TotalCountWrapsAroundIn32Bits) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 10, 0x7fffffff});
  BucketCountVector samples(1, table.get());
  samples.Accumulate(1, 0x7fffffff);
  samples.Accumulate(11, 2);
  EXPECT_EQ(static_cast<int32_t>(0x80000001u), samples.TotalCount());
}

TEST(BucketCountVectorTest, IteratorSkipsEmptyBucketsAndKnowsTheirIndex) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 1, 2, 3, 4, 0x7fffffff});
  BucketCountVector samples(1, table.get());
  samples.Accumulate(1, 1);
  samples.Accumulate(3, 4);
  std::unique_ptr<SampleCountIterator> it = samples.Iterator();
  size_t index = 99;
  ASSERT_FALSE(it->Done());
  EXPECT_TRUE(it->GetBucketIndex(&index));
  EXPECT_EQ(1u, index);
  it->Next();
  EXPECT_TRUE(it->GetBucketIndex(&index));
  EXPECT_EQ(3u, index);
  int32_t count = 0;
  it->Get(nullptr, nullptr, &count);
  EXPECT_EQ(4, count);
  it->Next();
  EXPECT_TRUE(it->Done());
}

TEST(BucketCountVectorTest, AddAndSubtractMatchingTables) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 10, 20, 0x7fffffff});
  BucketCountVector a(1, table.get());
  BucketCountVector b(1, table.get());
  a.Accumulate(1, 3);
  b.Accumulate(1, 1);
  b.Accumulate(25, 5);
  a.Add(b);
  EXPECT_EQ((std::vector<Bucket>{{0, 10, 4}, {20, 0x7fffffff, 5}}), Buckets(a));
  EXPECT_EQ(9, a.redundant_count());
  EXPECT_EQ(3 + 1 + 125, a.sum());
  a.Subtract(b);
  EXPECT_EQ((std::vector<Bucket>{{0, 10, 3}}), Buckets(a));
  EXPECT_EQ(3, a.redundant_count());
  EXPECT_EQ(3, a.sum());
}

TEST(BucketCountVectorTest, BucketsThatDoNotMatchTheTableAreRefused) {
  std::unique_ptr<BucketRangeTable> target_table = MakeTable({0, 10, 20, 30, 0x7fffffff});
  std::unique_ptr<BucketRangeTable> other_table = MakeTable({0, 10, 15, 30, 0x7fffffff});
  BucketCountVector target(1, target_table.get());
  BucketCountVector other(1, other_table.get());
  other.Accumulate(5, 1);   // [0, 10): matches
  other.Accumulate(16, 2);  // [15, 30): its min lies between two boundaries of the target
  other.Accumulate(40, 3);
  // Add() does not report; the buckets before the mismatch are added, the rest are not.
  target.Add(other);
  EXPECT_EQ((std::vector<Bucket>{{0, 10, 1}}), Buckets(target));
  EXPECT_EQ(6, target.redundant_count());
}

TEST(BucketCountVectorTest, ExternalStorageIsUsedAndItsIdKept) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 10, 20, 0x7fffffff});
  std::vector<int32_t> counts(3, 0);
  SampleSetHeader header;
  {
    BucketCountVector samples(42, counts.data(), counts.size(), &header, table.get());
    samples.Accumulate(12, 3);
  }
  EXPECT_EQ((std::vector<int32_t>{0, 3, 0}), counts);
  EXPECT_EQ(42u, header.id);
  EXPECT_EQ(36, header.sum);
  EXPECT_EQ(3, header.redundant_count);
  // A second container over the same record sees the samples and leaves the id alone.
  BucketCountVector again(99, counts.data(), counts.size(), &header, table.get());
  EXPECT_EQ(42u, again.id());
  EXPECT_EQ(3, again.GetCount(15));
  EXPECT_EQ(3, again.TotalCount());
}

TEST(BucketCountVectorDeathTest, ValueOutsideTheTableIsFatal) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  std::unique_ptr<BucketRangeTable> table = MakeTable({5, 10, 20});
  BucketCountVector samples(1, table.get());
  EXPECT_EXIT(samples.GetBucketIndex(4), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "");
  EXPECT_EXIT(samples.GetBucketIndex(20), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "");
  BucketRangeTable no_buckets(1);
  EXPECT_EXIT(BucketCountVector(1, &no_buckets),
              ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "");
}

}  // namespace
}  // namespace base
