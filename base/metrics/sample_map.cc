#include "base/metrics/sample_map.h"

namespace base {

SampleMap::SampleMap(uint64_t id) : SampleSet(id) {}

SampleMap::~SampleMap() = default;

void SampleMap::Accumulate(Sample value, Count count) {
  Count& stored = sample_counts_[value];
  stored = static_cast<Count>(static_cast<uint32_t>(stored) + static_cast<uint32_t>(count));
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

SampleMap::Count SampleMap::GetCount(Sample value) const {
  auto it = sample_counts_.find(value);
  return it == sample_counts_.end() ? 0 : it->second;
}

SampleMap::Count SampleMap::TotalCount() const {
  uint32_t total = 0;
  for (const auto& entry : sample_counts_)
    total += static_cast<uint32_t>(entry.second);
  return static_cast<Count>(total);
}

std::unique_ptr<SampleCountIterator> SampleMap::Iterator() const {
  return std::make_unique<ValueMapIterator<std::map<Sample, Count>>>(sample_counts_);
}

bool SampleMap::AddSubtractImpl(SampleCountIterator* iter, Operator op) {
  return AddSubtractValues(iter, op, [this](Sample value, uint32_t delta) {
    Count& stored = sample_counts_[value];
    stored = static_cast<Count>(static_cast<uint32_t>(stored) + delta);
  });
}

}  // namespace base
