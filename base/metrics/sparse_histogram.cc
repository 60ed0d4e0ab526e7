#include "base/metrics/sparse_histogram.h"

#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/statistics_recorder.h"
#include "base/packed_buffer.h"
#include "base/strings/stringprintf.h"

namespace base {

// static
HistogramBase* SparseHistogram::FactoryGet(const std::string& name, int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (histogram)
    return histogram;

  std::unique_ptr<HistogramBase> tentative;
  PersistentHistogramAllocator::Reference histogram_ref = 0;
  GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get();
  if (allocator)
    tentative = allocator->AllocateHistogram(SPARSE_HISTOGRAM, name, 0, 0, nullptr, flags, &histogram_ref);
  if (!tentative) {
    tentative.reset(new SparseHistogram(name));
    tentative->SetFlags(flags & ~kIsPersistent);
  }
  HistogramBase* tentative_histogram = tentative.get();
  histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(tentative.release());
  if (histogram_ref)
    allocator->FinalizeHistogram(histogram_ref, histogram == tentative_histogram);
  return histogram;
}

// static
std::unique_ptr<HistogramBase> SparseHistogram::PersistentCreate(PersistentHistogramAllocator* allocator,
                                                                 const std::string& name, SampleSetHeader* meta,
                                                                 SampleSetHeader* logged_meta) {
  return std::unique_ptr<HistogramBase>(new SparseHistogram(allocator, name, meta, logged_meta));
}

SparseHistogram::SparseHistogram(const std::string& name)
    : HistogramBase(name),
      samples_(std::make_unique<SampleMap>(HashMetricName(name))),
      logged_samples_(std::make_unique<SampleMap>(samples_->id() + 1)) {}

SparseHistogram::SparseHistogram(PersistentHistogramAllocator* allocator, const std::string& name,
                                 SampleSetHeader* meta, SampleSetHeader* logged_meta)
    : HistogramBase(name),
      samples_(std::make_unique<PersistentSampleMap>(HashMetricName(name), allocator, meta)),
      // The logged samples' records must not be mistaken for the samples' own: they use the next id.
      logged_samples_(std::make_unique<PersistentSampleMap>(samples_->id() + 1, allocator, logged_meta)) {}

SparseHistogram::~SparseHistogram() = default;

uint64_t SparseHistogram::name_hash() const {
  return samples_->id();
}

HistogramType SparseHistogram::GetHistogramType() const {
  return SPARSE_HISTOGRAM;
}

bool SparseHistogram::HasConstructionArguments(Sample, Sample, uint32_t) const {
  return false;
}

void SparseHistogram::AddCount(Sample value, int count) {
  if (count <= 0)
    return;
  {
    AutoLock auto_lock(lock_);
    samples_->Accumulate(value, count);
  }
  FindAndRunCallback(value);
}

void SparseHistogram::AddSamples(const SampleSet& samples) {
  AutoLock auto_lock(lock_);
  samples_->Add(samples);
}

bool SparseHistogram::AddSamplesFromBuffer(PackedBufferReader* reader) {
  AutoLock auto_lock(lock_);
  return samples_->AddFromBuffer(reader);
}

std::unique_ptr<SampleSet> SparseHistogram::SnapshotSamples() const {
  auto snapshot = std::make_unique<SampleMap>(samples_->id());
  AutoLock auto_lock(lock_);
  snapshot->Add(*samples_);
  return snapshot;
}

std::unique_ptr<SampleSet> SparseHistogram::SnapshotDelta() {
  auto snapshot = std::make_unique<SampleMap>(samples_->id());
  AutoLock auto_lock(lock_);
  snapshot->Add(*samples_);
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

void SparseHistogram::WriteHTMLGraph(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl("<br>", output);
  output->append("</PRE>");
}

void SparseHistogram::WriteAscii(std::string* output) const {
  WriteAsciiImpl("\n", output);
}

void SparseHistogram::WriteAsciiImpl(const std::string& newline, std::string* output) const {
  std::unique_ptr<SampleSet> snapshot = SnapshotSamples();
  const Count total_count = snapshot->TotalCount();
  WriteAsciiHeader(total_count, snapshot->sum(), false, output);
  output->append(newline);

  Count largest_count = 0;
  Sample largest_sample = 0;
  bool first = true;
  for (std::unique_ptr<SampleCountIterator> it = snapshot->Iterator(); !it->Done(); it->Next()) {
    Sample min;
    Count count;
    it->Get(&min, nullptr, &count);
    if (first || min > largest_sample)
      largest_sample = min;
    if (count > largest_count)
      largest_count = count;
    first = false;
  }
  const size_t print_width = GetSimpleAsciiBucketRange(largest_sample).size() + 1;

  for (std::unique_ptr<SampleCountIterator> it = snapshot->Iterator(); !it->Done(); it->Next()) {
    Sample min;
    Count count;
    it->Get(&min, nullptr, &count);
    const std::string range = GetSimpleAsciiBucketRange(min);
    output->append(range);
    if (range.size() < print_width + 1)
      output->append(print_width + 1 - range.size(), ' ');
    WriteAsciiBucketGraph(count, largest_count, output);
    WriteAsciiBucketValue(count, total_count / 100.0, output);
    output->append(newline);
  }
}

bool SparseHistogram::SerializeInfo(PackedBuffer* buffer) const {
  if (!buffer->WriteString(histogram_name()))
    return false;
  return buffer->WriteInt(flags());
}

void SparseHistogram::GetParameters(DictionaryValue*) const {}

void SparseHistogram::GetCountAndBucketData(Count*, int64_t*, ListValue*) const {}

}  // namespace base
