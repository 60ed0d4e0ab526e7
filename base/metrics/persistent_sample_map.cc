#include "base/metrics/persistent_sample_map.h"

#include <atomic>

#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/sample_map.h"

namespace base {
namespace {

// Other processes add to the same records: every change is atomic, so none is lost.
void AddToCount(HistogramBase::Count* count, uint32_t delta) {
  std::atomic_ref<HistogramBase::Count>(*count).fetch_add(static_cast<HistogramBase::Count>(delta),
                                                          std::memory_order_relaxed);
}

HistogramBase::Count LoadCount(HistogramBase::Count* count) {
  return std::atomic_ref<HistogramBase::Count>(*count).load(std::memory_order_relaxed);
}

}  // namespace

PersistentSampleMap::PersistentSampleMap(uint64_t id, PersistentHistogramAllocator* allocator,
                                         SampleSetHeader* meta)
    : SampleSet(id, meta), allocator_(allocator), records_(allocator->UseSampleMapRecords(id, this)) {}

PersistentSampleMap::~PersistentSampleMap() {
  records_->Release(this);
}

void PersistentSampleMap::Accumulate(Sample value, Count count) {
  AddToCount(GetOrCreateSampleCountStorage(value), static_cast<uint32_t>(count));
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

PersistentSampleMap::Count PersistentSampleMap::GetCount(Sample value) const {
  Count* count = GetSampleCountStorage(value);
  return count ? LoadCount(count) : 0;
}

PersistentSampleMap::Count PersistentSampleMap::TotalCount() const {
  ImportSamples(-1, true);
  uint32_t total = 0;
  for (const auto& entry : sample_counts_)
    total += static_cast<uint32_t>(LoadCount(entry.second));
  return static_cast<Count>(total);
}

std::unique_ptr<SampleCountIterator> PersistentSampleMap::Iterator() const {
  ImportSamples(-1, true);
  return std::make_unique<ValueMapIterator<std::map<Sample, Count*>>>(sample_counts_);
}

bool PersistentSampleMap::AddSubtractImpl(SampleCountIterator* iter, Operator op) {
  return AddSubtractValues(iter, op, [this](Sample value, uint32_t delta) {
    AddToCount(GetOrCreateSampleCountStorage(value), delta);
  });
}

PersistentSampleMap::Count* PersistentSampleMap::ImportSamples(Sample until_value, bool import_everything) const {
  PersistentMemoryAllocator* memory = allocator_->memory_allocator();
  Count* found = nullptr;
  PersistentMemoryAllocator::Reference ref;
  while ((ref = records_->TakeRecord()) != 0) {
    PersistentSampleRecord* record =
        memory->GetAsObject<PersistentSampleRecord>(ref, PersistentHistogramAllocator::kTypeIdSampleRecord);
    if (!record)
      continue;
    // The first record of a value in segment order wins; a later one is a duplicate and stays unused.
    auto inserted = sample_counts_.emplace(record->value, &record->count);
    if (record->value == until_value) {
      if (!found)
        found = inserted.first->second;
      if (!import_everything)
        break;
    }
  }
  return found;
}

PersistentSampleMap::Count* PersistentSampleMap::GetSampleCountStorage(Sample value) const {
  auto it = sample_counts_.find(value);
  if (it != sample_counts_.end())
    return it->second;
  return ImportSamples(value, false);
}

PersistentSampleMap::Count* PersistentSampleMap::GetOrCreateSampleCountStorage(Sample value) {
  if (Count* count = GetSampleCountStorage(value))
    return count;
  if (records_->CreateNew(value) != 0) {
    // Another process may have made a record of this value first: the first one in the segment is used.
    if (Count* count = ImportSamples(value, false))
      return count;
  }
  local_counts_.push_back(0);
  Count* count = &local_counts_.back();
  sample_counts_[value] = count;
  return count;
}

}  // namespace base
