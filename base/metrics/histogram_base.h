// The interface shared by every kind of histogram: a named, process-wide collector of integer samples.
#ifndef BASE_METRICS_HISTOGRAM_BASE_H_
#define BASE_METRICS_HISTOGRAM_BASE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace base {

class DictionaryValue;
class ListValue;
class PackedBuffer;
class PackedBufferReader;
class SampleSet;
class TimeDelta;

// Stored in persistent memory and serialized: the numbers must not change.
enum HistogramType : int32_t {
  HISTOGRAM = 0,
  LINEAR_HISTOGRAM = 1,
  BOOLEAN_HISTOGRAM = 2,
  CUSTOM_HISTOGRAM = 3,
  SPARSE_HISTOGRAM = 4,
};

// "HISTOGRAM", "LINEAR_HISTOGRAM", ...; "UNKNOWN" for any other value.
std::string HistogramTypeToString(HistogramType type);

class HistogramBase {
 public:
  using Sample = int32_t;
  using Count = int32_t;

  // The largest value a bucketed histogram records; larger samples are clamped to it.
  static constexpr Sample kSampleType_MAX = 0x7ffffffe;

  enum Flags : int32_t {
    kNoFlags = 0,
    kReportedFlag = 0x1,  // set by every caller; nothing tests it
    kCallbackExists = 0x20,           // every sample goes to the callback registered for the name
    kIsPersistent = 0x40,             // samples live in a shared memory segment
    kHexRangePrintingFlag = 0x8000,   // bucket labels printed as "%#x"
  };

  // Bits of FindCorruption's result.
  enum Inconsistency : uint32_t {
    NO_INCONSISTENCIES = 0,
    RANGE_CHECKSUM_ERROR = 0x1,
    BUCKET_ORDER_ERROR = 0x2,
    COUNT_HIGH_ERROR = 0x4,
    COUNT_LOW_ERROR = 0x8,
  };

  explicit HistogramBase(const std::string& name);
  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;
  virtual ~HistogramBase();

  const std::string& histogram_name() const { return histogram_name_; }
  int32_t flags() const { return flags_.load(std::memory_order_relaxed); }
  void SetFlags(int32_t flags);    // ORs the bits in
  void ClearFlags(int32_t flags);  // removes the bits

  // 64-bit id of the name (HashMetricName), kept in the samples.
  virtual uint64_t name_hash() const = 0;
  virtual HistogramType GetHistogramType() const = 0;
  // True when the histogram was made with these arguments.
  virtual bool HasConstructionArguments(Sample minimum, Sample maximum, uint32_t bucket_count) const = 0;

  // AddCount(value, 1).
  virtual void Add(Sample value);
  // Records `count` samples of `value`; a count of 0 or less is ignored.
  virtual void AddCount(Sample value, int count) = 0;
  virtual void AddSamples(const SampleSet& samples) = 0;
  // Adds samples serialized by SampleSet::Serialize; false when the buffer is short or does not match.
  virtual bool AddSamplesFromBuffer(PackedBufferReader* reader) = 0;

  // Inconsistency bits found in `samples` (a snapshot of this histogram); none in the base.
  virtual uint32_t FindCorruption(const SampleSet& samples) const;

  // A new copy of every sample.
  virtual std::unique_ptr<SampleSet> SnapshotSamples() const = 0;
  // The samples added since the previous call, which are marked as logged.
  virtual std::unique_ptr<SampleSet> SnapshotDelta() = 0;

  // Append the graph: "<PRE>" ... "<br>" ... "</PRE>" or plain text with "\n".
  virtual void WriteHTMLGraph(std::string* output) const = 0;
  virtual void WriteAscii(std::string* output) const = 0;

  // Writes the construction arguments; false when a write fails.
  virtual bool SerializeInfo(PackedBuffer* buffer) const = 0;
  // "type", "min", "max" and "bucket_count".
  virtual void GetParameters(DictionaryValue* params) const = 0;
  // Total count, sum and one {"low", "high", "count"} dictionary per non-empty bucket.
  virtual void GetCountAndBucketData(Count* count, int64_t* sum, ListValue* buckets) const = 0;

  // Adds the span in whole milliseconds (truncated).
  void AddTime(const TimeDelta& time);

 protected:
  // Hands `sample` to the name's callback when flag kCallbackExists is set and a callback is registered.
  void FindAndRunCallback(Sample sample) const;

  // Pieces of the text graphs shared by the kinds.
  void WriteAsciiHeader(Count sample_count, int64_t sum, bool with_average, std::string* output) const;
  // `size` against `max_size` as a bar of 72 columns: dashes, then "O", then blanks.
  static void WriteAsciiBucketGraph(double size, double max_size, std::string* output);
  // " (%d = %3.1f%%)".
  static void WriteAsciiBucketValue(Count current, double scaled_sum, std::string* output);
  // The label of a bucket boundary: "%d", or "%#x" with flag kHexRangePrintingFlag.
  std::string GetSimpleAsciiBucketRange(Sample sample) const;

 private:
  const std::string histogram_name_;
  std::atomic<int32_t> flags_{0};
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_BASE_H_
