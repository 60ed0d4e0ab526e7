// A histogram that counts exact values, for sparse and unbounded sample sets (error codes, say). Its map is
// guarded by its own lock; the sample callback runs outside it.
#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/synchronization/lock.h"

namespace base {

class PersistentHistogramAllocator;
struct SampleSetHeader;

class SparseHistogram : public HistogramBase {
 public:
  // The histogram registered under `name` when the statistics recorder exists, else a new one.
  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);

  // Over persistent sample records of `allocator`; the logged samples use the id + 1.
  static std::unique_ptr<HistogramBase> PersistentCreate(PersistentHistogramAllocator* allocator,
                                                         const std::string& name, SampleSetHeader* meta,
                                                         SampleSetHeader* logged_meta);

  ~SparseHistogram() override;

  // HistogramBase:
  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample minimum, Sample maximum, uint32_t bucket_count) const override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const SampleSet& samples) override;
  bool AddSamplesFromBuffer(PackedBufferReader* reader) override;
  std::unique_ptr<SampleSet> SnapshotSamples() const override;
  std::unique_ptr<SampleSet> SnapshotDelta() override;
  void WriteHTMLGraph(std::string* output) const override;
  void WriteAscii(std::string* output) const override;
  bool SerializeInfo(PackedBuffer* buffer) const override;
  void GetParameters(DictionaryValue* params) const override;
  void GetCountAndBucketData(Count* count, int64_t* sum, ListValue* buckets) const override;

 private:
  explicit SparseHistogram(const std::string& name);
  SparseHistogram(PersistentHistogramAllocator* allocator, const std::string& name, SampleSetHeader* meta,
                  SampleSetHeader* logged_meta);

  void WriteAsciiImpl(const std::string& newline, std::string* output) const;

  mutable Lock lock_;
  std::unique_ptr<SampleSet> samples_;         // a SampleMap or a PersistentSampleMap
  std::unique_ptr<SampleSet> logged_samples_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_
