#include "base/metrics/sample_map.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/metrics/metrics_test_util.h"

namespace base {
namespace {

using metrics_test::Bucket;

// The buckets, checking that a map's iterator knows no bucket index.
std::vector<Bucket> Buckets(const SampleSet& samples) {
  for (std::unique_ptr<SampleCountIterator> it = samples.Iterator(); !it->Done(); it->Next()) {
    size_t index;
    EXPECT_FALSE(it->GetBucketIndex(&index));
  }
  return metrics_test::Buckets(samples);
}

// A source of arbitrary buckets for AddSubtractImpl.
class ListIterator : public SampleCountIterator {
 public:
  explicit ListIterator(std::vector<Bucket> buckets) : buckets_(std::move(buckets)) {}
  bool Done() const override { return index_ >= buckets_.size(); }
  void Next() override { ++index_; }
  void Get(int32_t* min, int32_t* max, int32_t* count) const override {
    *min = buckets_[index_].min;
    *max = buckets_[index_].max;
    *count = buckets_[index_].count;
  }

 private:
  std::vector<Bucket> buckets_;
  size_t index_ = 0;
};

class ExposedSampleMap : public SampleMap {
 public:
  using SampleMap::AddSubtractImpl;
  using SampleMap::SampleMap;
};

TEST(SampleMapTest, CountsExactValuesIncludingNegativeAndExtremeOnes) {
  SampleMap samples(3);
  samples.Accumulate(5, 2);
  samples.Accumulate(-3, 1);
  samples.Accumulate(0x7fffffff, 1);
  samples.Accumulate(-0x7fffffff - 1, 1);
  EXPECT_EQ(2, samples.GetCount(5));
  EXPECT_EQ(0, samples.GetCount(6));
  EXPECT_EQ(5, samples.TotalCount());
  EXPECT_EQ(5, samples.redundant_count());
  EXPECT_EQ(10 - 3 + int64_t{0x7fffffff} - 0x80000000LL, samples.sum());
  EXPECT_EQ((std::vector<Bucket>{{-0x7fffffff - 1, -0x7fffffff, 1},
                                 {-3, -2, 1},
                                 {5, 6, 2},
                                 {0x7fffffff, -0x7fffffff - 1, 1}}),
            Buckets(samples));
}

TEST(SampleMapTest, ZeroEntriesLeftBySubtractionAreSkipped) {
  SampleMap samples(1);
  samples.Accumulate(5, 2);
  samples.Accumulate(7, 4);
  samples.Accumulate(-3, 1);
  SampleMap seven(1);
  seven.Accumulate(7, 4);
  samples.Subtract(seven);
  EXPECT_EQ((std::vector<Bucket>{{-3, -2, 1}, {5, 6, 2}}), Buckets(samples));
  EXPECT_EQ(7, samples.sum());
  EXPECT_EQ(3, samples.redundant_count());
}

TEST(SampleMapTest, BucketWiderThanOneValueStopsAdding) {
  ExposedSampleMap samples(1);
  ListIterator buckets({{1, 2, 5}, {3, 5, 1}, {9, 10, 1}});
  EXPECT_FALSE(samples.AddSubtractImpl(&buckets, SampleSet::ADD));
  EXPECT_EQ(5, samples.GetCount(1));
  EXPECT_EQ(0, samples.GetCount(9));
  ListIterator good({{1, 2, 2}, {9, 10, 1}});
  EXPECT_TRUE(samples.AddSubtractImpl(&good, SampleSet::SUBTRACT));
  EXPECT_EQ(3, samples.GetCount(1));
  EXPECT_EQ(-1, samples.GetCount(9));
}

}  // namespace
}  // namespace base
