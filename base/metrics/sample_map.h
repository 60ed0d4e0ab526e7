// Samples counted per exact value: the container of the sparse histograms. Not thread-safe by itself (its
// histogram holds a lock around every use); the sum and the redundant count still change atomically.
#ifndef BASE_METRICS_SAMPLE_MAP_H_
#define BASE_METRICS_SAMPLE_MAP_H_

#include <cstdint>
#include <map>
#include <memory>

#include "base/metrics/sample_set.h"

namespace base {

class SampleMap : public SampleSet {
 public:
  explicit SampleMap(uint64_t id);
  ~SampleMap() override;

  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  bool AddSubtractImpl(SampleCountIterator* iter, Operator op) override;

 private:
  std::map<Sample, Count> sample_counts_;
};

// The body of a value map's AddSubtractImpl: hands `add(value, delta)` every bucket of `iter`, with the count as
// delta for ADD and its negation (in unsigned arithmetic) for SUBTRACT. False at the first bucket wider than one
// value; true when the iterator was consumed.
template <typename AddToValue>
bool AddSubtractValues(SampleCountIterator* iter, SampleSet::Operator op, AddToValue add) {
  for (; !iter->Done(); iter->Next()) {
    HistogramBase::Sample min;
    HistogramBase::Sample max;
    HistogramBase::Count count;
    iter->Get(&min, &max, &count);
    if (static_cast<uint32_t>(max) != static_cast<uint32_t>(min) + 1)
      return false;
    add(min, op == SampleSet::ADD ? static_cast<uint32_t>(count) : 0 - static_cast<uint32_t>(count));
  }
  return true;
}

// Walks a value map in ascending order, skipping values whose count is 0; yields (value, value + 1, count).
// `Map` maps a value to its count, or to a pointer to it.
template <typename Map>
class ValueMapIterator : public SampleCountIterator {
 public:
  explicit ValueMapIterator(const Map& map) : iter_(map.begin()), end_(map.end()) { SkipEmpty(); }

  bool Done() const override { return iter_ == end_; }
  void Next() override {
    ++iter_;
    SkipEmpty();
  }
  void Get(HistogramBase::Sample* min, HistogramBase::Sample* max, HistogramBase::Count* count) const override {
    if (min)
      *min = iter_->first;
    if (max)
      *max = static_cast<HistogramBase::Sample>(static_cast<uint32_t>(iter_->first) + 1);
    if (count)
      *count = CountOf(iter_->second);
  }

 private:
  static HistogramBase::Count CountOf(HistogramBase::Count count) { return count; }
  static HistogramBase::Count CountOf(const HistogramBase::Count* count) { return *count; }
  void SkipEmpty() {
    while (iter_ != end_ && CountOf(iter_->second) == 0)
      ++iter_;
  }

  typename Map::const_iterator iter_;
  const typename Map::const_iterator end_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_
