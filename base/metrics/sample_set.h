// What a histogram has recorded: a running sum, a redundant count kept beside the per-bucket counts so that a
// mismatch shows corruption, and the counts themselves. SampleSet is the container interface shared by the
// per-bucket (BucketCountVector) and per-value (SampleMap) kinds and their persistent variants; all kinds
// serialize into one format:
//   sum (int64), redundant count (int32), then per non-empty bucket in ascending order: min, max, count (int32),
// running to the end of the buffer.
#ifndef BASE_METRICS_SAMPLE_SET_H_
#define BASE_METRICS_SAMPLE_SET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/metrics/histogram_base.h"

namespace base {

class PackedBuffer;
class PackedBufferReader;

// The part of a container that may live outside it, in a persistent histogram record. Its layout is stored in
// shared memory segments: 24 bytes, updated only by atomic additions.
struct SampleSetHeader {
  uint64_t id = 0;               // the owning histogram's HashMetricName
  int64_t sum = 0;               // sum of value x count over all recorded samples
  int32_t redundant_count = 0;   // number of recorded samples
  int32_t padding = 0;
};
static_assert(sizeof(SampleSetHeader) == 24, "SampleSetHeader is stored in persistent memory");

// Walks the non-empty buckets of a container.
class SampleCountIterator {
 public:
  virtual ~SampleCountIterator();
  virtual bool Done() const = 0;
  virtual void Next() = 0;
  // The current bucket [min, max) and its count; each output may be null.
  virtual void Get(HistogramBase::Sample* min, HistogramBase::Sample* max, HistogramBase::Count* count) const = 0;
  // The current bucket's index, when the iterator knows one.
  virtual bool GetBucketIndex(size_t* index) const;
};

class SampleSet {
 public:
  using Sample = HistogramBase::Sample;
  using Count = HistogramBase::Count;

  enum Operator { ADD = 0, SUBTRACT = 1 };

  SampleSet(const SampleSet&) = delete;
  SampleSet& operator=(const SampleSet&) = delete;
  virtual ~SampleSet();

  virtual void Accumulate(Sample value, Count count) = 0;
  // The count of the bucket or value that `value` falls into.
  virtual Count GetCount(Sample value) const = 0;
  // Sum of all counts, wrapping around in 32 bits.
  virtual Count TotalCount() const = 0;
  // Adds the other container's sum, redundant count and buckets.
  virtual void Add(const SampleSet& other);
  // Adds samples read from a buffer in the serialized format; false when the sum or the redundant count
  // cannot be read (nothing changed) or a bucket does not match (what came before it stays added).
  virtual bool AddFromBuffer(PackedBufferReader* reader);
  virtual void Subtract(const SampleSet& other);
  virtual std::unique_ptr<SampleCountIterator> Iterator() const = 0;
  // Writes the samples in the serialized format; always true.
  virtual bool Serialize(PackedBuffer* buffer) const;

  uint64_t id() const { return header_->id; }
  int64_t sum() const;
  Count redundant_count() const;

 protected:
  // With a header of its own.
  explicit SampleSet(uint64_t id);
  // With an external header, which takes `id` only while its id is still 0.
  SampleSet(uint64_t id, SampleSetHeader* header);

  // Adds (ADD) or subtracts (SUBTRACT) the iterator's buckets; true when all of them were consumed.
  virtual bool AddSubtractImpl(SampleCountIterator* iter, Operator op) = 0;

  // Atomic additions to the sum and the redundant count.
  void IncreaseSumAndCount(int64_t sum, Count count);

 private:
  SampleSetHeader local_header_;
  SampleSetHeader* const header_;
};

// The 64-bit id of a metric name: the first 8 bytes of the name's MD5 digest, read big-endian.
uint64_t HashMetricName(std::string_view name);

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_SET_H_
