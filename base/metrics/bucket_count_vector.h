// Samples counted per bucket of a BucketRangeTable: the container of the bucketed histograms. Written from any
// thread without a lock: every count, the sum and the redundant count change only by atomic additions.
#ifndef BASE_METRICS_BUCKET_COUNT_VECTOR_H_
#define BASE_METRICS_BUCKET_COUNT_VECTOR_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/metrics/sample_set.h"

namespace base {

class BucketRangeTable;

// Final, so that recording a sample (Histogram::AddCount) calls Accumulate and GetBucketIndex directly.
class BucketCountVector final : public SampleSet {
 public:
  // Counts and header of its own.
  BucketCountVector(uint64_t id, const BucketRangeTable* bucket_ranges);
  // Over external storage (a persistent record): `counts` holds at least the table's bucket count entries.
  BucketCountVector(uint64_t id, int32_t* counts, size_t counts_size, SampleSetHeader* header,
                    const BucketRangeTable* bucket_ranges);
  ~BucketCountVector() override;

  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

  // The bucket that holds `value`; a value outside the table is a fatal error.
  virtual size_t GetBucketIndex(Sample value) const;
  Count GetCountAtIndex(size_t bucket_index) const;

  const BucketRangeTable* bucket_ranges() const { return bucket_ranges_; }

 protected:
  bool AddSubtractImpl(SampleCountIterator* iter, Operator op) override;

 private:
  std::vector<int32_t> local_counts_;  // empty when external counts are used
  int32_t* counts_;
  const size_t counts_size_;  // the table's bucket count
  const BucketRangeTable* const bucket_ranges_;
};

// Walks the non-zero counts of a bucket vector.
class BucketCountIterator : public SampleCountIterator {
 public:
  BucketCountIterator(const int32_t* counts, size_t counts_size, const BucketRangeTable* bucket_ranges);
  ~BucketCountIterator() override;

  bool Done() const override;
  void Next() override;
  void Get(HistogramBase::Sample* min, HistogramBase::Sample* max, HistogramBase::Count* count) const override;
  bool GetBucketIndex(size_t* index) const override;

 private:
  void SkipEmptyBuckets();

  const int32_t* counts_;
  const size_t counts_size_;
  const BucketRangeTable* const bucket_ranges_;
  size_t index_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_BUCKET_COUNT_VECTOR_H_
