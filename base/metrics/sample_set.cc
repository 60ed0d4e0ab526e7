#include "base/metrics/sample_set.h"

#include <atomic>

#include "base/md5.h"
#include "base/packed_buffer.h"

namespace base {

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::GetBucketIndex(size_t*) const {
  return false;
}

namespace {

// Reads one bucket triple at a time from a buffer; done at the first triple that cannot be read whole.
class BufferSampleIterator : public SampleCountIterator {
 public:
  explicit BufferSampleIterator(PackedBufferReader* reader) : reader_(reader) { Next(); }

  bool Done() const override { return done_; }
  void Next() override {
    done_ = !reader_->ReadInt(&min_) || !reader_->ReadInt(&max_) || !reader_->ReadInt(&count_);
  }
  void Get(HistogramBase::Sample* min, HistogramBase::Sample* max, HistogramBase::Count* count) const override {
    if (min)
      *min = min_;
    if (max)
      *max = max_;
    if (count)
      *count = count_;
  }

 private:
  PackedBufferReader* const reader_;
  bool done_ = false;
  int32_t min_ = 0;
  int32_t max_ = 0;
  int32_t count_ = 0;
};

}  // namespace

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

bool SampleSet::AddFromBuffer(PackedBufferReader* reader) {
  int64_t sum;
  Count redundant_count;
  if (!reader->ReadInt64(&sum) || !reader->ReadInt(&redundant_count))
    return false;
  IncreaseSumAndCount(sum, redundant_count);
  BufferSampleIterator iter(reader);
  return AddSubtractImpl(&iter, ADD);
}

bool SampleSet::Serialize(PackedBuffer* buffer) const {
  buffer->WriteInt64(sum());
  buffer->WriteInt(redundant_count());
  for (std::unique_ptr<SampleCountIterator> iter = Iterator(); !iter->Done(); iter->Next()) {
    Sample min;
    Sample max;
    Count count;
    iter->Get(&min, &max, &count);
    buffer->WriteInt(min);
    buffer->WriteInt(max);
    buffer->WriteInt(count);
  }
  return true;
}

uint64_t HashMetricName(std::string_view name) {
  MD5Digest digest;
  MD5Sum(name.data(), name.size(), &digest);
  uint64_t hash = 0;
  for (int i = 0; i < 8; ++i)
    hash = (hash << 8) | digest.a[i];
  return hash;
}

}  // namespace base
