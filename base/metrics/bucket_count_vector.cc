#include "base/metrics/bucket_count_vector.h"

#include <atomic>

#include "base/logging.h"
#include "base/metrics/bucket_range_table.h"

namespace base {
namespace {

// Counts may live in memory that other processes share: every access is atomic.
int32_t LoadCount(const int32_t* count) {
  return std::atomic_ref<int32_t>(*const_cast<int32_t*>(count)).load(std::memory_order_relaxed);
}

void AddToCount(int32_t* count, int32_t delta) {
  std::atomic_ref<int32_t>(*count).fetch_add(delta, std::memory_order_relaxed);
}

}  // namespace

BucketCountVector::BucketCountVector(uint64_t id, const BucketRangeTable* bucket_ranges)
    : SampleSet(id),
      local_counts_(bucket_ranges->bucket_count(), 0),
      counts_(local_counts_.data()),
      counts_size_(bucket_ranges->bucket_count()),
      bucket_ranges_(bucket_ranges) {
  CHECK(bucket_ranges->size() >= 2);
}

BucketCountVector::BucketCountVector(uint64_t id, int32_t* counts, size_t /*counts_size*/, SampleSetHeader* header,
                                     const BucketRangeTable* bucket_ranges)
    : SampleSet(id, header),
      counts_(counts),
      counts_size_(bucket_ranges->bucket_count()),
      bucket_ranges_(bucket_ranges) {
  CHECK(bucket_ranges->size() >= 2);
  CHECK(counts);
}

BucketCountVector::~BucketCountVector() = default;

void BucketCountVector::Accumulate(Sample value, Count count) {
  size_t index = GetBucketIndex(value);
  AddToCount(&counts_[index], count);
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

BucketCountVector::Count BucketCountVector::GetCount(Sample value) const {
  return LoadCount(&counts_[GetBucketIndex(value)]);
}

BucketCountVector::Count BucketCountVector::TotalCount() const {
  uint32_t total = 0;
  for (size_t i = 0; i < counts_size_; ++i)
    total += static_cast<uint32_t>(LoadCount(&counts_[i]));
  return static_cast<Count>(total);
}

BucketCountVector::Count BucketCountVector::GetCountAtIndex(size_t bucket_index) const {
  CHECK(bucket_index < counts_size_);
  return LoadCount(&counts_[bucket_index]);
}

std::unique_ptr<SampleCountIterator> BucketCountVector::Iterator() const {
  return std::make_unique<BucketCountIterator>(counts_, counts_size_, bucket_ranges_);
}

size_t BucketCountVector::GetBucketIndex(Sample value) const {
  size_t bucket_count = bucket_ranges_->bucket_count();
  CHECK(bucket_count >= 1);
  CHECK(value >= bucket_ranges_->range(0));
  CHECK(value < bucket_ranges_->range(bucket_count));

  size_t under = 0;
  size_t over = bucket_count;
  size_t mid;
  do {
    mid = under + (over - under) / 2;
    if (mid == under)
      break;
    if (bucket_ranges_->range(mid) <= value)
      under = mid;
    else
      over = mid;
  } while (true);
  CHECK(bucket_ranges_->range(mid + 1) > value);
  return mid;
}

bool BucketCountVector::AddSubtractImpl(SampleCountIterator* iter, Operator op) {
  size_t index = 0;
  while (index < counts_size_ && !iter->Done()) {
    Sample min;
    Sample max;
    Count count;
    iter->Get(&min, &max, &count);
    if (min == bucket_ranges_->range(index) && max == bucket_ranges_->range(index + 1)) {
      AddToCount(&counts_[index],
                 op == ADD ? count : static_cast<Count>(0 - static_cast<uint32_t>(count)));
      iter->Next();
    } else if (min > bucket_ranges_->range(index)) {
      ++index;
    } else {
      return false;
    }
  }
  return iter->Done();
}

BucketCountIterator::BucketCountIterator(const int32_t* counts, size_t counts_size,
                                         const BucketRangeTable* bucket_ranges)
    : counts_(counts), counts_size_(counts_size), bucket_ranges_(bucket_ranges) {
  SkipEmptyBuckets();
}

BucketCountIterator::~BucketCountIterator() = default;

bool BucketCountIterator::Done() const {
  return index_ >= counts_size_;
}

void BucketCountIterator::Next() {
  CHECK(!Done());
  ++index_;
  SkipEmptyBuckets();
}

void BucketCountIterator::Get(HistogramBase::Sample* min, HistogramBase::Sample* max,
                              HistogramBase::Count* count) const {
  CHECK(!Done());
  if (min)
    *min = bucket_ranges_->range(index_);
  if (max)
    *max = bucket_ranges_->range(index_ + 1);
  if (count)
    *count = LoadCount(&counts_[index_]);
}

bool BucketCountIterator::GetBucketIndex(size_t* index) const {
  CHECK(!Done());
  if (index)
    *index = index_;
  return true;
}

void BucketCountIterator::SkipEmptyBuckets() {
  while (index_ < counts_size_ && LoadCount(&counts_[index_]) == 0)
    ++index_;
}

}  // namespace base
