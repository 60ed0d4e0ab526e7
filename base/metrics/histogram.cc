#include "base/metrics/histogram.h"

#include <algorithm>
#include <cmath>

#include "base/logging.h"
#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/bucket_range_table.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/statistics_recorder.h"
#include "base/packed_buffer.h"
#include "base/strings/stringprintf.h"
#include "base/time/time.h"
#include "base/values.h"

namespace base {
namespace {

constexpr HistogramBase::Sample kLastBoundary = 0x7fffffff;
// Linear boundaries are spaced by (maximum - minimum) / (bucket count - 2), so a linear table needs an underflow
// bucket, one bucket of its range and an overflow bucket. Exponential steps divide only by (bucket count - i),
// which is at least 1, so they lay out any count from 1 as asked.
constexpr uint32_t kMinBucketCount = 3;

enum class Spacing { kExponential, kLinear };

// The clamps every bucketed factory applies before building. A count of 0 would read as caller-given
// boundaries, so it becomes the smallest linear count too.
void ClampArguments(Spacing spacing, HistogramBase::Sample* minimum, HistogramBase::Sample* maximum,
                    uint32_t* bucket_count) {
  if (*minimum < 1)
    *minimum = 1;
  if (*maximum == kLastBoundary)
    *maximum = HistogramBase::kSampleType_MAX;
  if (*bucket_count > Histogram::kBucketCount_MAX)
    *bucket_count = Histogram::kBucketCount_MAX;
  if (*bucket_count == 0 || (spacing == Spacing::kLinear && *bucket_count < kMinBucketCount))
    *bucket_count = kMinBucketCount;
}

HistogramBase::Sample MillisecondsAsSample(TimeDelta span) {
  return static_cast<HistogramBase::Sample>(std::clamp<int64_t>(span.InMilliseconds(), INT32_MIN, INT32_MAX));
}

// The histograms FindCorruption reports count mismatches to, each made once.
HistogramBase* InconsistentCountHistogram(bool high) {
  constexpr int32_t kFlags = HistogramBase::kReportedFlag;
  static HistogramBase* const high_histogram =
      Histogram::FactoryGet("Histogram.InconsistentCountHigh", 1, 1000000, 50, kFlags);
  static HistogramBase* const low_histogram =
      Histogram::FactoryGet("Histogram.InconsistentCountLow", 1, 1000000, 50, kFlags);
  return high ? high_histogram : low_histogram;
}

}  // namespace

// One factory call: the steps shared by every bucketed kind, with the kind's boundaries and object.
class Histogram::Factory {
 public:
  Factory(const std::string& name, Sample minimum, Sample maximum, uint32_t bucket_count, int32_t flags)
      : Factory(name, HISTOGRAM, minimum, maximum, bucket_count, flags) {}
  virtual ~Factory() = default;

  HistogramBase* Build();

 protected:
  Factory(const std::string& name, HistogramType type, Sample minimum, Sample maximum, uint32_t bucket_count,
          int32_t flags)
      : name_(name), type_(type), minimum_(minimum), maximum_(maximum), bucket_count_(bucket_count),
        flags_(flags) {}

  virtual std::unique_ptr<BucketRangeTable> CreateRanges() {
    auto ranges = std::make_unique<BucketRangeTable>(bucket_count_ + 1);
    Histogram::InitializeBucketRanges(minimum_, maximum_, ranges.get());
    return ranges;
  }
  virtual std::unique_ptr<HistogramBase> HeapAlloc(const BucketRangeTable* ranges) {
    return std::unique_ptr<HistogramBase>(new Histogram(name_, minimum_, maximum_, ranges));
  }
  virtual void FillHistogram(HistogramBase*) {}

  const std::string& name_;
  const HistogramType type_;
  Sample minimum_;
  Sample maximum_;
  uint32_t bucket_count_;  // 0: the boundaries come from the caller
  int32_t flags_;
};

HistogramBase* Histogram::Factory::Build() {
  const bool custom_ranges = bucket_count_ == 0;
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name_);
  if (!histogram) {
    const BucketRangeTable* registered_ranges =
        StatisticsRecorder::RegisterOrDeleteDuplicateRanges(CreateRanges().release());
    if (custom_ranges) {
      bucket_count_ = static_cast<uint32_t>(registered_ranges->bucket_count());
      minimum_ = registered_ranges->range(1);
      maximum_ = registered_ranges->range(bucket_count_ - 1);
    }

    std::unique_ptr<HistogramBase> tentative;
    PersistentHistogramAllocator::Reference histogram_ref = 0;
    GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get();
    if (allocator) {
      tentative = allocator->AllocateHistogram(type_, name_, minimum_, maximum_, registered_ranges, flags_,
                                               &histogram_ref);
    }
    if (!tentative) {
      flags_ &= ~HistogramBase::kIsPersistent;
      tentative = HeapAlloc(registered_ranges);
      tentative->SetFlags(flags_);
    }
    FillHistogram(tentative.get());

    HistogramBase* tentative_histogram = tentative.get();
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(tentative.release());
    if (histogram_ref)
      allocator->FinalizeHistogram(histogram_ref, histogram == tentative_histogram);
  }

  if (!custom_ranges && !histogram->HasConstructionArguments(minimum_, maximum_, bucket_count_)) {
    LOG(ERROR) << "Histogram " << name_ << " has bad construction arguments";
    return nullptr;
  }
  return histogram;
}

// static
HistogramBase* Histogram::FactoryGet(const std::string& name, Sample minimum, Sample maximum,
                                     uint32_t bucket_count, int32_t flags) {
  ClampArguments(Spacing::kExponential, &minimum, &maximum, &bucket_count);
  return Factory(name, minimum, maximum, bucket_count, flags).Build();
}

// static
HistogramBase* Histogram::FactoryTimeGet(const std::string& name, TimeDelta minimum, TimeDelta maximum,
                                         uint32_t bucket_count, int32_t flags) {
  return FactoryGet(name, MillisecondsAsSample(minimum), MillisecondsAsSample(maximum), bucket_count, flags);
}

// static
std::unique_ptr<HistogramBase> Histogram::PersistentCreate(const std::string& name, Sample minimum,
                                                           Sample maximum, const BucketRangeTable* ranges,
                                                           int32_t* counts, int32_t* logged_counts,
                                                           uint32_t counts_size, SampleSetHeader* meta,
                                                           SampleSetHeader* logged_meta) {
  return std::unique_ptr<HistogramBase>(
      new Histogram(name, minimum, maximum, ranges, counts, logged_counts, counts_size, meta, logged_meta));
}

// static
void Histogram::InitializeBucketRanges(Sample minimum, Sample maximum, BucketRangeTable* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  if (bucket_count >= 2)
    ranges->set_range(1, minimum);
  // Each boundary is the geometric step from the previous one towards the maximum, at least one above it.
  int64_t current = minimum;
  const double log_max = std::log(static_cast<double>(maximum));
  for (size_t i = 2; i < bucket_count; ++i) {
    const double log_current = std::log(static_cast<double>(current));
    const double log_target = log_current + (log_max - log_current) / static_cast<double>(bucket_count - i);
    const double candidate = std::floor(std::exp(log_target) + 0.5);
    // Compared as a double: a NaN (a maximum below 1) or an out-of-range value never converts to an integer.
    if (candidate > static_cast<double>(current) && candidate <= static_cast<double>(kLastBoundary))
      current = static_cast<int64_t>(candidate);
    else
      ++current;
    ranges->set_range(i, static_cast<Sample>(std::min<int64_t>(current, kLastBoundary)));
  }
  ranges->set_range(bucket_count, kLastBoundary);
  ranges->ResetChecksum();
}

Histogram::Histogram(const std::string& name, Sample minimum, Sample maximum, const BucketRangeTable* ranges)
    : HistogramBase(name),
      bucket_ranges_(ranges),
      declared_min_(minimum),
      declared_max_(maximum),
      samples_(std::make_unique<BucketCountVector>(HashMetricName(name), ranges)) {}

Histogram::Histogram(const std::string& name, Sample minimum, Sample maximum, const BucketRangeTable* ranges,
                     int32_t* counts, int32_t* logged_counts, uint32_t counts_size, SampleSetHeader* meta,
                     SampleSetHeader* logged_meta)
    : HistogramBase(name),
      bucket_ranges_(ranges),
      declared_min_(minimum),
      declared_max_(maximum),
      samples_(std::make_unique<BucketCountVector>(HashMetricName(name), counts, counts_size, meta, ranges)),
      logged_samples_(std::make_unique<BucketCountVector>(samples_->id(), logged_counts, counts_size,
                                                          logged_meta, ranges)) {}

Histogram::~Histogram() = default;

uint64_t Histogram::name_hash() const {
  return samples_->id();
}

HistogramType Histogram::GetHistogramType() const {
  return HISTOGRAM;
}

bool Histogram::HasConstructionArguments(Sample minimum, Sample maximum, uint32_t bucket_count) const {
  return minimum == declared_min_ && maximum == declared_max_ && bucket_count == this->bucket_count();
}

Histogram::Sample Histogram::ranges(uint32_t i) const {
  return bucket_ranges_->range(i);
}

uint32_t Histogram::bucket_count() const {
  return static_cast<uint32_t>(bucket_ranges_->bucket_count());
}

void Histogram::AddCount(Sample value, int count) {
  if (count <= 0)
    return;
  if (value > kSampleType_MAX)
    value = kSampleType_MAX;
  if (value < 0)
    value = 0;
  samples_->Accumulate(value, count);
  FindAndRunCallback(value);
}

void Histogram::AddSamples(const SampleSet& samples) {
  samples_->Add(samples);
}

bool Histogram::AddSamplesFromBuffer(PackedBufferReader* reader) {
  return samples_->AddFromBuffer(reader);
}

uint32_t Histogram::FindCorruption(const SampleSet& samples) const {
  uint32_t inconsistencies = NO_INCONSISTENCIES;
  Sample previous_range = -1;
  for (uint32_t i = 0; i < bucket_count(); ++i) {
    const Sample new_range = ranges(i);
    if (previous_range >= new_range)
      inconsistencies |= BUCKET_ORDER_ERROR;
    previous_range = new_range;
  }
  if (!bucket_ranges_->HasValidChecksum())
    inconsistencies |= RANGE_CHECKSUM_ERROR;

  // 64 bits: the difference of two 32-bit counts may not fit in 32.
  const int64_t delta = int64_t{samples.redundant_count()} - samples.TotalCount();
  if (delta != 0) {
    const bool high = delta > 0;
    const int64_t magnitude = high ? delta : -delta;
    if (HistogramBase* report = InconsistentCountHistogram(high))
      report->Add(static_cast<Sample>(std::min<int64_t>(magnitude, INT32_MAX)));
    if (magnitude > 5)
      inconsistencies |= high ? COUNT_HIGH_ERROR : COUNT_LOW_ERROR;
  }
  return inconsistencies;
}

std::unique_ptr<BucketCountVector> Histogram::SnapshotAllSamples() const {
  auto snapshot = std::make_unique<BucketCountVector>(samples_->id(), bucket_ranges_);
  snapshot->Add(*samples_);
  return snapshot;
}

std::unique_ptr<SampleSet> Histogram::SnapshotSamples() const {
  return SnapshotAllSamples();
}

std::unique_ptr<SampleSet> Histogram::SnapshotDelta() {
  std::unique_ptr<BucketCountVector> snapshot = SnapshotAllSamples();
  if (!logged_samples_) {
    logged_samples_ = std::move(snapshot);
    auto copy = std::make_unique<BucketCountVector>(samples_->id(), bucket_ranges_);
    copy->Add(*logged_samples_);
    return copy;
  }
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

void Histogram::WriteHTMLGraph(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl("<br>", output);
  output->append("</PRE>");
}

void Histogram::WriteAscii(std::string* output) const {
  WriteAsciiImpl("\n", output);
}

void Histogram::WriteAsciiImpl(const std::string& newline, std::string* output) const {
  std::unique_ptr<BucketCountVector> snapshot = SnapshotAllSamples();
  const Count sample_count = snapshot->TotalCount();
  WriteAsciiHeader(sample_count, snapshot->sum(), true, output);
  output->append(newline);

  const uint32_t buckets = bucket_count();
  double max_size = 0;
  for (uint32_t i = 0; i < buckets; ++i) {
    const double current_size = GetBucketSize(snapshot->GetCountAtIndex(i), i);
    if (current_size > max_size)
      max_size = current_size;
  }
  size_t print_width = 1;
  for (uint32_t i = 0; i < buckets; ++i) {
    if (snapshot->GetCountAtIndex(i))
      print_width = std::max(print_width, GetAsciiBucketRange(i).size() + 1);
  }

  int64_t remaining = sample_count;
  int64_t past = 0;
  for (uint32_t i = 0; i < buckets; ++i) {
    const Count current = snapshot->GetCountAtIndex(i);
    if (!current && !PrintEmptyBucket(i))
      continue;
    remaining -= current;
    const std::string range = GetAsciiBucketRange(i);
    output->append(range);
    if (range.size() < print_width + 1)
      output->append(print_width + 1 - range.size(), ' ');
    if (current == 0 && i < buckets - 1 && snapshot->GetCountAtIndex(i + 1) == 0) {
      while (i < buckets - 1 && snapshot->GetCountAtIndex(i + 1) == 0)
        ++i;
      output->append("... ");
      output->append(newline);
      continue;
    }
    WriteAsciiBucketGraph(GetBucketSize(current, i), max_size, output);
    const double scaled_sum = static_cast<double>(past + current + remaining) / 100.0;
    WriteAsciiBucketValue(current, scaled_sum, output);
    if (i > 0)
      StringAppendF(output, " {%3.1f%%}", static_cast<double>(past) / scaled_sum);
    output->append(newline);
    past += current;
  }
}

bool Histogram::PrintEmptyBucket(uint32_t) const {
  return true;
}

double Histogram::GetBucketSize(Count current, uint32_t i) const {
  // Wide buckets count as 5 values wide, so that the exponential ones at the top do not vanish.
  constexpr double kTransitionWidth = 5;
  const double width = std::min(static_cast<double>(ranges(i + 1)) - ranges(i), kTransitionWidth);
  return current / width;
}

std::string Histogram::GetAsciiBucketRange(uint32_t i) const {
  return GetSimpleAsciiBucketRange(ranges(i));
}

bool Histogram::SerializeInfoCommon(PackedBuffer* buffer) const {
  if (!buffer->WriteString(histogram_name()))
    return false;
  return buffer->WriteInt(flags()) && buffer->WriteInt(declared_min_) && buffer->WriteInt(declared_max_) &&
         buffer->WriteInt(static_cast<int32_t>(bucket_count())) &&
         buffer->WriteInt(static_cast<int32_t>(bucket_ranges_->checksum()));
}

bool Histogram::SerializeInfo(PackedBuffer* buffer) const {
  return SerializeInfoCommon(buffer);
}

void Histogram::GetParameters(DictionaryValue* params) const {
  params->SetString("type", HistogramTypeToString(GetHistogramType()));
  params->SetInteger("min", declared_min_);
  params->SetInteger("max", declared_max_);
  params->SetInteger("bucket_count", static_cast<int>(bucket_count()));
}

void Histogram::GetCountAndBucketData(Count* count, int64_t* sum, ListValue* buckets) const {
  std::unique_ptr<BucketCountVector> snapshot = SnapshotAllSamples();
  *count = snapshot->TotalCount();
  *sum = snapshot->sum();
  size_t index = 0;
  for (uint32_t i = 0; i < bucket_count(); ++i) {
    const Count bucket_count_at_i = snapshot->GetCountAtIndex(i);
    if (bucket_count_at_i <= 0)
      continue;
    auto* bucket = new DictionaryValue();
    bucket->SetInteger("low", ranges(i));
    if (i != bucket_count() - 1)
      bucket->SetInteger("high", ranges(i + 1));
    bucket->SetInteger("count", bucket_count_at_i);
    buckets->Set(index, bucket);
    ++index;
  }
}

// Linear histograms.

class LinearHistogram::Factory : public Histogram::Factory {
 public:
  Factory(const std::string& name, Sample minimum, Sample maximum, uint32_t bucket_count, int32_t flags,
          const DescriptionPair* descriptions)
      : Histogram::Factory(name, LINEAR_HISTOGRAM, minimum, maximum, bucket_count, flags),
        descriptions_(descriptions) {}

 protected:
  Factory(const std::string& name, HistogramType type, Sample minimum, Sample maximum, uint32_t bucket_count,
          int32_t flags)
      : Histogram::Factory(name, type, minimum, maximum, bucket_count, flags), descriptions_(nullptr) {}

  std::unique_ptr<BucketRangeTable> CreateRanges() override {
    auto ranges = std::make_unique<BucketRangeTable>(bucket_count_ + 1);
    LinearHistogram::InitializeBucketRanges(minimum_, maximum_, ranges.get());
    return ranges;
  }
  std::unique_ptr<HistogramBase> HeapAlloc(const BucketRangeTable* ranges) override {
    return std::unique_ptr<HistogramBase>(new LinearHistogram(name_, minimum_, maximum_, ranges));
  }
  void FillHistogram(HistogramBase* base_histogram) override {
    if (!descriptions_ || base_histogram->GetHistogramType() != LINEAR_HISTOGRAM)
      return;
    auto* histogram = static_cast<LinearHistogram*>(base_histogram);
    for (int i = 0; descriptions_[i].description; ++i)
      histogram->bucket_description_[descriptions_[i].sample] = descriptions_[i].description;
  }

 private:
  const DescriptionPair* const descriptions_;
};

// static
HistogramBase* LinearHistogram::FactoryGet(const std::string& name, Sample minimum, Sample maximum,
                                           uint32_t bucket_count, int32_t flags) {
  return FactoryGetWithRangeDescription(name, minimum, maximum, bucket_count, flags, nullptr);
}

// static
HistogramBase* LinearHistogram::FactoryGetWithRangeDescription(const std::string& name, Sample minimum,
                                                               Sample maximum, uint32_t bucket_count,
                                                               int32_t flags,
                                                               const DescriptionPair descriptions[]) {
  ClampArguments(Spacing::kLinear, &minimum, &maximum, &bucket_count);
  return Factory(name, minimum, maximum, bucket_count, flags, descriptions).Build();
}

// static
std::unique_ptr<HistogramBase> LinearHistogram::PersistentCreate(const std::string& name, Sample minimum,
                                                                 Sample maximum, const BucketRangeTable* ranges,
                                                                 int32_t* counts, int32_t* logged_counts,
                                                                 uint32_t counts_size, SampleSetHeader* meta,
                                                                 SampleSetHeader* logged_meta) {
  return std::unique_ptr<HistogramBase>(new LinearHistogram(name, minimum, maximum, ranges, counts,
                                                            logged_counts, counts_size, meta, logged_meta));
}

// static
void LinearHistogram::InitializeBucketRanges(Sample minimum, Sample maximum, BucketRangeTable* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  for (size_t i = 1; i < bucket_count; ++i) {
    if (bucket_count < kMinBucketCount) {
      ranges->set_range(i, minimum);  // no spacing to compute between a single pair of boundaries
      continue;
    }
    // 64-bit numerator: (i - 1) x maximum overflows 32 bits for large tables.
    const int64_t numerator = static_cast<int64_t>(bucket_count - 1 - i) * minimum +
                              static_cast<int64_t>(i - 1) * maximum;
    const double linear_range = static_cast<double>(numerator) / static_cast<double>(bucket_count - 2);
    ranges->set_range(i, static_cast<Sample>(linear_range + 0.5));
  }
  ranges->set_range(bucket_count, kLastBoundary);
  ranges->ResetChecksum();
}

LinearHistogram::LinearHistogram(const std::string& name, Sample minimum, Sample maximum,
                                 const BucketRangeTable* ranges)
    : Histogram(name, minimum, maximum, ranges) {}

LinearHistogram::LinearHistogram(const std::string& name, Sample minimum, Sample maximum,
                                 const BucketRangeTable* ranges, int32_t* counts, int32_t* logged_counts,
                                 uint32_t counts_size, SampleSetHeader* meta, SampleSetHeader* logged_meta)
    : Histogram(name, minimum, maximum, ranges, counts, logged_counts, counts_size, meta, logged_meta) {}

LinearHistogram::~LinearHistogram() = default;

HistogramType LinearHistogram::GetHistogramType() const {
  return LINEAR_HISTOGRAM;
}

bool LinearHistogram::PrintEmptyBucket(uint32_t index) const {
  return bucket_description_.find(ranges(index)) == bucket_description_.end();
}

double LinearHistogram::GetBucketSize(Count current, uint32_t i) const {
  return current / (static_cast<double>(ranges(i + 1)) - ranges(i));
}

std::string LinearHistogram::GetAsciiBucketRange(uint32_t i) const {
  auto it = bucket_description_.find(ranges(i));
  if (it != bucket_description_.end())
    return it->second;
  return Histogram::GetAsciiBucketRange(i);
}

// Boolean histograms.

class BooleanHistogram::Factory : public LinearHistogram::Factory {
 public:
  Factory(const std::string& name, int32_t flags)
      : LinearHistogram::Factory(name, BOOLEAN_HISTOGRAM, 1, 2, 3, flags) {}

 protected:
  std::unique_ptr<HistogramBase> HeapAlloc(const BucketRangeTable* ranges) override {
    return std::unique_ptr<HistogramBase>(new BooleanHistogram(name_, ranges));
  }
};

// static
HistogramBase* BooleanHistogram::FactoryGet(const std::string& name, int32_t flags) {
  return Factory(name, flags).Build();
}

// static
std::unique_ptr<HistogramBase> BooleanHistogram::PersistentCreate(const std::string& name,
                                                                  const BucketRangeTable* ranges, int32_t* counts,
                                                                  int32_t* logged_counts, SampleSetHeader* meta,
                                                                  SampleSetHeader* logged_meta) {
  return std::unique_ptr<HistogramBase>(
      new BooleanHistogram(name, ranges, counts, logged_counts, meta, logged_meta));
}

BooleanHistogram::BooleanHistogram(const std::string& name, const BucketRangeTable* ranges)
    : LinearHistogram(name, 1, 2, ranges) {}

BooleanHistogram::BooleanHistogram(const std::string& name, const BucketRangeTable* ranges, int32_t* counts,
                                   int32_t* logged_counts, SampleSetHeader* meta, SampleSetHeader* logged_meta)
    : LinearHistogram(name, 1, 2, ranges, counts, logged_counts, static_cast<uint32_t>(ranges->bucket_count()),
                      meta, logged_meta) {}

HistogramType BooleanHistogram::GetHistogramType() const {
  return BOOLEAN_HISTOGRAM;
}

// Custom histograms.

class CustomHistogram::Factory : public Histogram::Factory {
 public:
  Factory(const std::string& name, const std::vector<Sample>& custom_ranges, int32_t flags)
      : Histogram::Factory(name, CUSTOM_HISTOGRAM, 0, 0, 0, flags), custom_ranges_(custom_ranges) {}

 protected:
  std::unique_ptr<BucketRangeTable> CreateRanges() override {
    std::vector<Sample> boundaries = {0, kLastBoundary};
    for (Sample value : custom_ranges_) {
      if (value >= 1 && value <= kSampleType_MAX)
        boundaries.push_back(value);
    }
    std::sort(boundaries.begin(), boundaries.end());
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());
    auto ranges = std::make_unique<BucketRangeTable>(boundaries.size());
    for (size_t i = 0; i < boundaries.size(); ++i)
      ranges->set_range(i, boundaries[i]);
    ranges->ResetChecksum();
    return ranges;
  }
  std::unique_ptr<HistogramBase> HeapAlloc(const BucketRangeTable* ranges) override {
    return std::unique_ptr<HistogramBase>(new CustomHistogram(name_, ranges));
  }

 private:
  const std::vector<Sample>& custom_ranges_;
};

// static
HistogramBase* CustomHistogram::FactoryGet(const std::string& name, const std::vector<Sample>& custom_ranges,
                                           int32_t flags) {
  return Factory(name, custom_ranges, flags).Build();
}

// static
std::unique_ptr<HistogramBase> CustomHistogram::PersistentCreate(const std::string& name,
                                                                 const BucketRangeTable* ranges, int32_t* counts,
                                                                 int32_t* logged_counts, uint32_t counts_size,
                                                                 SampleSetHeader* meta,
                                                                 SampleSetHeader* logged_meta) {
  return std::unique_ptr<HistogramBase>(
      new CustomHistogram(name, ranges, counts, logged_counts, counts_size, meta, logged_meta));
}

CustomHistogram::CustomHistogram(const std::string& name, const BucketRangeTable* ranges)
    : Histogram(name, ranges->range(1), ranges->range(ranges->size() - 2), ranges) {}

CustomHistogram::CustomHistogram(const std::string& name, const BucketRangeTable* ranges, int32_t* counts,
                                 int32_t* logged_counts, uint32_t counts_size, SampleSetHeader* meta,
                                 SampleSetHeader* logged_meta)
    : Histogram(name, ranges->range(1), ranges->range(ranges->size() - 2), ranges, counts, logged_counts,
                counts_size, meta, logged_meta) {}

HistogramType CustomHistogram::GetHistogramType() const {
  return CUSTOM_HISTOGRAM;
}

bool CustomHistogram::SerializeInfo(PackedBuffer* buffer) const {
  if (!SerializeInfoCommon(buffer))
    return false;
  for (uint32_t i = 1; i < bucket_count(); ++i) {
    if (!buffer->WriteInt(ranges(i)))
      return false;
  }
  return true;
}

double CustomHistogram::GetBucketSize(Count, uint32_t) const {
  return 1;
}

}  // namespace base
