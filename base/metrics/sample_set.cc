#include "base/metrics/sample_set.h"

#include <atomic>

namespace base {

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::GetBucketIndex(size_t*) const {
  return false;
}

SampleSet::SampleSet(uint64_t id) : header_(&local_header_) {
  local_header_.id = id;
}

SampleSet::SampleSet(uint64_t id, SampleSetHeader* header) : header_(header) {
  // Another process may have made the record already; it wrote the same id.
  uint64_t expected = 0;
  std::atomic_ref<uint64_t>(header_->id).compare_exchange_strong(expected, id, std::memory_order_relaxed);
}

SampleSet::~SampleSet() = default;

int64_t SampleSet::sum() const {
  return std::atomic_ref<int64_t>(header_->sum).load(std::memory_order_relaxed);
}

SampleSet::Count SampleSet::redundant_count() const {
  return std::atomic_ref<int32_t>(header_->redundant_count).load(std::memory_order_relaxed);
}

void SampleSet::IncreaseSumAndCount(int64_t sum, Count count) {
  // Atomic arithmetic wraps around; it never overflows.
  std::atomic_ref<int64_t>(header_->sum).fetch_add(sum, std::memory_order_relaxed);
  std::atomic_ref<int32_t>(header_->redundant_count).fetch_add(count, std::memory_order_relaxed);
}

void SampleSet::Add(const SampleSet& other) {
  IncreaseSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleCountIterator> iter = other.Iterator();
  AddSubtractImpl(iter.get(), ADD);
}

void SampleSet::Subtract(const SampleSet& other) {
  // Negation in unsigned arithmetic: the most negative value stays itself instead of overflowing.
  IncreaseSumAndCount(static_cast<int64_t>(0 - static_cast<uint64_t>(other.sum())),
                      static_cast<Count>(0 - static_cast<uint32_t>(other.redundant_count())));
  std::unique_ptr<SampleCountIterator> iter = other.Iterator();
  AddSubtractImpl(iter.get(), SUBTRACT);
}

}  // namespace base
