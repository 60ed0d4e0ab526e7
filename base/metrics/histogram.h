// The bucketed histograms: exponential (Histogram), linear (LinearHistogram), two-valued (BooleanHistogram) and
// caller-ranged (CustomHistogram). Samples are counted without a lock; the buckets' boundaries come from a
// shared BucketRangeTable. Factories return the histogram registered under the name when the statistics
// recorder exists (null when it was made with other arguments), and otherwise a new histogram at every call:
// callers keep theirs.
#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/histogram_base.h"

namespace base {

class BucketCountVector;
class BucketRangeTable;
struct SampleSetHeader;

class Histogram : public HistogramBase {
 public:
  // Bucket counts above this (taken as unsigned, so negative ones too) are clamped to it.
  static constexpr uint32_t kBucketCount_MAX = 16383;

  // An exponential histogram: boundaries growing by a constant factor from `minimum` to `maximum`. The
  // arguments are clamped: a minimum below 1 becomes 1, a maximum of 0x7fffffff becomes 0x7ffffffe, the bucket
  // count at most 16383 and at least 3.
  static HistogramBase* FactoryGet(const std::string& name, Sample minimum, Sample maximum, uint32_t bucket_count,
                                   int32_t flags);
  // The same with the limits in whole milliseconds; record with AddTime.
  static HistogramBase* FactoryTimeGet(const std::string& name, TimeDelta minimum, TimeDelta maximum,
                                       uint32_t bucket_count, int32_t flags);

  // Over a persistent record: the counts arrays and headers live in the shared segment.
  static std::unique_ptr<HistogramBase> PersistentCreate(const std::string& name, Sample minimum, Sample maximum,
                                                         const BucketRangeTable* ranges, int32_t* counts,
                                                         int32_t* logged_counts, uint32_t counts_size,
                                                         SampleSetHeader* meta, SampleSetHeader* logged_meta);

  // Fills `ranges` (bucket count + 1 entries) with the exponential boundaries and their checksum.
  static void InitializeBucketRanges(Sample minimum, Sample maximum, BucketRangeTable* ranges);

  ~Histogram() override;

  // HistogramBase:
  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample minimum, Sample maximum, uint32_t bucket_count) const override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const SampleSet& samples) override;
  bool AddSamplesFromBuffer(PackedBufferReader* reader) override;
  uint32_t FindCorruption(const SampleSet& samples) const override;
  std::unique_ptr<SampleSet> SnapshotSamples() const override;
  std::unique_ptr<SampleSet> SnapshotDelta() override;
  void WriteHTMLGraph(std::string* output) const override;
  void WriteAscii(std::string* output) const override;
  bool SerializeInfo(PackedBuffer* buffer) const override;
  void GetParameters(DictionaryValue* params) const override;
  void GetCountAndBucketData(Count* count, int64_t* sum, ListValue* buckets) const override;

  virtual Sample ranges(uint32_t i) const;
  virtual uint32_t bucket_count() const;

  Sample declared_min() const { return declared_min_; }
  Sample declared_max() const { return declared_max_; }
  const BucketRangeTable* bucket_ranges() const { return bucket_ranges_; }

 protected:
  // Builds one histogram for a factory call: clamps, lookup, ranges, placement, registration.
  class Factory;

  // Heap samples.
  Histogram(const std::string& name, Sample minimum, Sample maximum, const BucketRangeTable* ranges);
  // Samples over persistent storage.
  Histogram(const std::string& name, Sample minimum, Sample maximum, const BucketRangeTable* ranges,
            int32_t* counts, int32_t* logged_counts, uint32_t counts_size, SampleSetHeader* meta,
            SampleSetHeader* logged_meta);

  // Whether an empty bucket gets its own line in the graph.
  virtual bool PrintEmptyBucket(uint32_t index) const;
  // The bar length of a bucket: its count over (a capped) width.
  virtual double GetBucketSize(Count current, uint32_t i) const;
  // The label of bucket i.
  virtual std::string GetAsciiBucketRange(uint32_t i) const;

  // Writes name, flags, limits, bucket count and checksum.
  bool SerializeInfoCommon(PackedBuffer* buffer) const;

 private:
  std::unique_ptr<BucketCountVector> SnapshotAllSamples() const;
  void WriteAsciiImpl(const std::string& newline, std::string* output) const;

  const BucketRangeTable* bucket_ranges_;  // shared, not owned
  const Sample declared_min_;
  const Sample declared_max_;
  std::unique_ptr<BucketCountVector> samples_;
  std::unique_ptr<BucketCountVector> logged_samples_;  // heap histograms: made by the first SnapshotDelta
};

class LinearHistogram : public Histogram {
 public:
  // A label for one sample value; a list of them ends with an entry whose description is null.
  struct DescriptionPair {
    Sample sample;
    const char* description;
  };

  // Evenly spaced boundaries from `minimum` to `maximum`; clamped as Histogram::FactoryGet.
  static HistogramBase* FactoryGet(const std::string& name, Sample minimum, Sample maximum, uint32_t bucket_count,
                                   int32_t flags);
  // The same, with labels that replace the numbers of the described buckets in the graphs (a described bucket
  // is left out while it is empty).
  static HistogramBase* FactoryGetWithRangeDescription(const std::string& name, Sample minimum, Sample maximum,
                                                       uint32_t bucket_count, int32_t flags,
                                                       const DescriptionPair descriptions[]);

  static std::unique_ptr<HistogramBase> PersistentCreate(const std::string& name, Sample minimum, Sample maximum,
                                                         const BucketRangeTable* ranges, int32_t* counts,
                                                         int32_t* logged_counts, uint32_t counts_size,
                                                         SampleSetHeader* meta, SampleSetHeader* logged_meta);

  // Fills `ranges` with the linear boundaries and their checksum. A table of fewer than 3 buckets is filled
  // as far as it goes without dividing by zero.
  static void InitializeBucketRanges(Sample minimum, Sample maximum, BucketRangeTable* ranges);

  ~LinearHistogram() override;

  HistogramType GetHistogramType() const override;

 protected:
  class Factory;

  LinearHistogram(const std::string& name, Sample minimum, Sample maximum, const BucketRangeTable* ranges);
  LinearHistogram(const std::string& name, Sample minimum, Sample maximum, const BucketRangeTable* ranges,
                  int32_t* counts, int32_t* logged_counts, uint32_t counts_size, SampleSetHeader* meta,
                  SampleSetHeader* logged_meta);

  bool PrintEmptyBucket(uint32_t index) const override;
  double GetBucketSize(Count current, uint32_t i) const override;
  std::string GetAsciiBucketRange(uint32_t i) const override;

 private:
  friend class BooleanHistogram;
  std::map<Sample, std::string> bucket_description_;
};

// Two buckets of interest, 0 and 1: boundaries 0, 1, 2, 0x7fffffff.
class BooleanHistogram : public LinearHistogram {
 public:
  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);

  static std::unique_ptr<HistogramBase> PersistentCreate(const std::string& name, const BucketRangeTable* ranges,
                                                         int32_t* counts, int32_t* logged_counts,
                                                         SampleSetHeader* meta, SampleSetHeader* logged_meta);

  HistogramType GetHistogramType() const override;

 private:
  class Factory;

  BooleanHistogram(const std::string& name, const BucketRangeTable* ranges);
  BooleanHistogram(const std::string& name, const BucketRangeTable* ranges, int32_t* counts,
                   int32_t* logged_counts, SampleSetHeader* meta, SampleSetHeader* logged_meta);
};

// Boundaries chosen by the caller. The table is 0, the caller's values from 1 to 0x7ffffffe in ascending order
// without repeats, and 0x7fffffff; the declared minimum is the second boundary and the maximum the one before
// the last.
class CustomHistogram : public Histogram {
 public:
  static HistogramBase* FactoryGet(const std::string& name, const std::vector<Sample>& custom_ranges,
                                   int32_t flags);

  static std::unique_ptr<HistogramBase> PersistentCreate(const std::string& name, const BucketRangeTable* ranges,
                                                         int32_t* counts, int32_t* logged_counts,
                                                         uint32_t counts_size, SampleSetHeader* meta,
                                                         SampleSetHeader* logged_meta);

  HistogramType GetHistogramType() const override;
  // Adds the inner boundaries after the common fields.
  bool SerializeInfo(PackedBuffer* buffer) const override;

 protected:
  double GetBucketSize(Count current, uint32_t i) const override;

 private:
  class Factory;

  CustomHistogram(const std::string& name, const BucketRangeTable* ranges);
  CustomHistogram(const std::string& name, const BucketRangeTable* ranges, int32_t* counts,
                  int32_t* logged_counts, uint32_t counts_size, SampleSetHeader* meta,
                  SampleSetHeader* logged_meta);
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_
