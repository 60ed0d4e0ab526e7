// The boundaries of a histogram's buckets, with a checksum that detects their corruption. Histograms with equal
// boundaries share one table once the statistics recorder has registered it; a registered table is never freed.
#ifndef BASE_METRICS_BUCKET_RANGE_TABLE_H_
#define BASE_METRICS_BUCKET_RANGE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/logging.h"
#include "base/metrics/histogram_base.h"

namespace base {

class BucketRangeTable {
 public:
  using Sample = HistogramBase::Sample;

  // A table of `num_ranges` zero boundaries (bucket count + 1) and checksum 0.
  explicit BucketRangeTable(size_t num_ranges);
  BucketRangeTable(const BucketRangeTable&) = delete;
  BucketRangeTable& operator=(const BucketRangeTable&) = delete;

  // Bucket i holds the samples v with range(i) <= v < range(i + 1). Boundaries are never negative.
  Sample range(size_t i) const {
    CHECK(i < ranges_.size());
    return ranges_[i];
  }
  void set_range(size_t i, Sample value);
  size_t size() const { return ranges_.size(); }
  size_t bucket_count() const { return ranges_.size() - 1; }

  uint32_t checksum() const { return checksum_; }
  void set_checksum(uint32_t checksum) { checksum_ = checksum; }

  // CRC-32 (reflected polynomial 0xEDB88320) of the little-endian bytes of every boundary, started with the
  // number of boundaries and without inversion before or after.
  uint32_t CalculateChecksum() const;
  bool HasValidChecksum() const { return CalculateChecksum() == checksum_; }
  void ResetChecksum() { checksum_ = CalculateChecksum(); }

  // Same checksum, same size and the same boundaries.
  bool Equals(const BucketRangeTable* other) const;

 private:
  std::vector<Sample> ranges_;
  uint32_t checksum_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_BUCKET_RANGE_TABLE_H_
