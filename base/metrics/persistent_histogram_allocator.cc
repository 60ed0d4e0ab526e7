#include "base/metrics/persistent_histogram_allocator.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/metrics/bucket_range_table.h"
#include "base/metrics/histogram.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

// The histogram record as stored in the segment.
struct PersistentHistogramData {
  int32_t histogram_type;
  int32_t flags;
  int32_t minimum;
  int32_t maximum;
  uint32_t bucket_count;
  PersistentMemoryAllocator::Reference ranges_ref;
  uint32_t ranges_checksum;
  PersistentMemoryAllocator::Reference counts_ref;
  SampleSetHeader samples_metadata;
  SampleSetHeader logged_metadata;
  char name[8];  // runs on to the end of the block
};
static_assert(sizeof(PersistentHistogramData) == 88, "histogram record layout");
static_assert(offsetof(PersistentHistogramData, samples_metadata) == 32 &&
                  offsetof(PersistentHistogramData, logged_metadata) == 56 &&
                  offsetof(PersistentHistogramData, name) == 80,
              "histogram record layout");

namespace {

// The part of a record before the headers: copied once, so that another process cannot change it while a
// histogram is made from it.
constexpr size_t kRecordFixedPartSize = offsetof(PersistentHistogramData, samples_metadata);
constexpr size_t kRecordNameOffset = offsetof(PersistentHistogramData, name);
constexpr int32_t kLastBoundary = 0x7fffffff;

std::atomic<GlobalHistogramAllocator*> g_allocator{nullptr};

}  // namespace

// Sparse histogram data.

PersistentSparseHistogramDataManager::PersistentSparseHistogramDataManager(PersistentMemoryAllocator* allocator)
    : allocator_(allocator), record_iterator_(allocator) {}

PersistentSparseHistogramDataManager::~PersistentSparseHistogramDataManager() = default;

PersistentSampleMapRecords* PersistentSparseHistogramDataManager::UseSampleMapRecords(uint64_t id,
                                                                                      const void* user) {
  AutoLock auto_lock(lock_);
  PersistentSampleMapRecords* records = GetSampleMapRecordsWhileLocked(id);
  records->user_ = user;
  records->seen_ = 0;
  return records;
}

PersistentSampleMapRecords* PersistentSparseHistogramDataManager::GetSampleMapRecordsWhileLocked(uint64_t id) {
  std::unique_ptr<PersistentSampleMapRecords>& records = sample_records_[id];
  if (!records)
    records = std::make_unique<PersistentSampleMapRecords>(this, id);
  return records.get();
}

bool PersistentSparseHistogramDataManager::LoadRecords(PersistentSampleMapRecords* sample_map_records) {
  AutoLock auto_lock(lock_);
  bool found = false;
  if (!sample_map_records->found_.empty()) {
    sample_map_records->records_.insert(sample_map_records->records_.end(), sample_map_records->found_.begin(),
                                        sample_map_records->found_.end());
    sample_map_records->found_.clear();
    found = true;
  }

  // Read a few at a time: the records of other ids go to their own lists on the way.
  constexpr int kMinRecordsPerLoad = 10;
  for (int read = 0; read < kMinRecordsPerLoad || !found; ++read) {
    const PersistentMemoryAllocator::Reference ref =
        record_iterator_.FindOfType(PersistentHistogramAllocator::kTypeIdSampleRecord);
    if (!ref)
      break;
    const PersistentSampleRecord* record =
        allocator_->GetAsObject<PersistentSampleRecord>(ref, PersistentHistogramAllocator::kTypeIdSampleRecord);
    if (!record)
      break;
    const uint64_t id = record->id;
    if (id == sample_map_records->sample_map_id_) {
      sample_map_records->records_.push_back(ref);
      found = true;
    } else {
      GetSampleMapRecordsWhileLocked(id)->found_.push_back(ref);
    }
  }
  return found;
}

PersistentSampleMapRecords::PersistentSampleMapRecords(PersistentSparseHistogramDataManager* data_manager,
                                                       uint64_t sample_map_id)
    : data_manager_(data_manager), sample_map_id_(sample_map_id) {}

PersistentSampleMapRecords::~PersistentSampleMapRecords() = default;

PersistentSampleMapRecords::Reference PersistentSampleMapRecords::TakeRecord() {
  if (seen_ == records_.size() && !data_manager_->LoadRecords(this))
    return 0;
  if (seen_ >= records_.size())
    return 0;
  return records_[seen_++];
}

PersistentSampleMapRecords::Reference PersistentSampleMapRecords::CreateNew(HistogramBase::Sample value) {
  PersistentMemoryAllocator* allocator = data_manager_->allocator_;
  constexpr uint32_t kType = PersistentHistogramAllocator::kTypeIdSampleRecord;
  const Reference ref = allocator->Allocate(sizeof(PersistentSampleRecord), kType);
  PersistentSampleRecord* record = allocator->GetAsObject<PersistentSampleRecord>(ref, kType);
  if (!record)
    return 0;
  record->id = sample_map_id_;
  record->value = value;
  record->count = 0;
  allocator->MakeIterable(ref);
  return ref;
}

void PersistentSampleMapRecords::Release(const void* user) {
  if (user_ == user)
    user_ = nullptr;
}

// Histogram records.

PersistentHistogramAllocator::PersistentHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory)
    : memory_allocator_(std::move(memory)), sparse_histogram_data_manager_(memory_allocator_.get()) {}

PersistentHistogramAllocator::~PersistentHistogramAllocator() = default;

PersistentSampleMapRecords* PersistentHistogramAllocator::UseSampleMapRecords(uint64_t id, const void* user) {
  return sparse_histogram_data_manager_.UseSampleMapRecords(id, user);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::GetHistogram(Reference ref) {
  PersistentHistogramData* data = memory_allocator_->GetAsObject<PersistentHistogramData>(ref, kTypeIdHistogram);
  const size_t length = memory_allocator_->GetAllocSize(ref);
  // The name must end inside the block. Another process may clear that end at any time: the name is taken
  // once, never read further than the block.
  if (!data || length <= kRecordNameOffset || reinterpret_cast<const char*>(data)[length - 1] != '\0') {
    RecordCreateHistogramResult(kCreateHistogramInvalidRecord);
    return nullptr;
  }
  const char* const name = data->name;
  return CreateHistogram(data, std::string(name, strnlen(name, length - kRecordNameOffset)));
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::AllocateHistogram(
    HistogramType type, const std::string& name, HistogramBase::Sample minimum, HistogramBase::Sample maximum,
    const BucketRangeTable* ranges, int32_t flags, Reference* ref_ptr) {
  if (memory_allocator_->IsCorrupt()) {
    RecordCreateHistogramResult(kCreateHistogramSegmentCorrupt);
    return nullptr;
  }

  const Reference histogram_ref = memory_allocator_->Allocate(kRecordNameOffset + name.size() + 1, kTypeIdHistogram);
  PersistentHistogramData* data =
      memory_allocator_->GetAsObject<PersistentHistogramData>(histogram_ref, kTypeIdHistogram);
  if (data) {
    memcpy(data->name, name.c_str(), name.size() + 1);
    data->histogram_type = type;
    data->flags = flags | HistogramBase::kIsPersistent;
  }

  if (type != SPARSE_HISTOGRAM) {
    const size_t bucket_count = ranges->bucket_count();
    if (bucket_count == 0 || bucket_count > SIZE_MAX / (2 * sizeof(int32_t)))
      return nullptr;
    const size_t counts_bytes = bucket_count * 2 * sizeof(int32_t);
    const Reference counts_ref = memory_allocator_->Allocate(counts_bytes, kTypeIdCountsArray);
    const Reference ranges_ref = memory_allocator_->Allocate((bucket_count + 1) * sizeof(int32_t), kTypeIdRangesArray);
    int32_t* ranges_data = memory_allocator_->GetAsObject<int32_t>(ranges_ref, kTypeIdRangesArray);
    if (counts_ref && ranges_data && data) {
      for (size_t i = 0; i <= bucket_count; ++i)
        ranges_data[i] = ranges->range(i);
      data->minimum = minimum;
      data->maximum = maximum;
      data->bucket_count = static_cast<uint32_t>(bucket_count);
      data->ranges_ref = ranges_ref;
      data->ranges_checksum = ranges->checksum();
      data->counts_ref = counts_ref;
    } else {
      data = nullptr;
    }
  }

  if (data) {
    std::unique_ptr<HistogramBase> histogram = CreateHistogram(data, name);
    if (!histogram) {
      // Nothing can use this record; no other process must find it either.
      memory_allocator_->SetType(histogram_ref, 0);
      return nullptr;
    }
    if (ref_ptr)
      *ref_ptr = histogram_ref;
    last_created_.store(histogram_ref, std::memory_order_release);
    return histogram;
  }

  if (memory_allocator_->IsCorrupt()) {
    RecordCreateHistogramResult(kCreateHistogramNewlyCorrupt);
    RecordCreateHistogramResult(kCreateHistogramSegmentCorrupt);
  } else if (memory_allocator_->IsFull()) {
    RecordCreateHistogramResult(kCreateHistogramSegmentFull);
  } else {
    RecordCreateHistogramResult(kCreateHistogramAllocationFailed);
  }
  return nullptr;
}

void PersistentHistogramAllocator::FinalizeHistogram(Reference ref, bool registered) {
  if (registered)
    memory_allocator_->MakeIterable(ref);
  else
    memory_allocator_->SetType(ref, 0);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::CreateHistogram(
    PersistentHistogramData* histogram_data, const std::string& name) {
  if (!histogram_data) {
    RecordCreateHistogramResult(kCreateHistogramNoRecord);
    return nullptr;
  }

  if (histogram_data->histogram_type == SPARSE_HISTOGRAM) {
    std::unique_ptr<HistogramBase> histogram = SparseHistogram::PersistentCreate(
        this, name, &histogram_data->samples_metadata, &histogram_data->logged_metadata);
    histogram->SetFlags(histogram_data->flags);
    RecordCreateHistogramResult(kCreateHistogramSuccess);
    return histogram;
  }

  PersistentHistogramData fixed;
  memcpy(static_cast<void*>(&fixed), histogram_data, kRecordFixedPartSize);

  const int32_t* ranges_data = memory_allocator_->GetAsObject<int32_t>(fixed.ranges_ref, kTypeIdRangesArray);
  const uint32_t bucket_count = fixed.bucket_count;
  if (!ranges_data || bucket_count < 2 || bucket_count >= 0x3FFFFFFF ||
      memory_allocator_->GetAllocSize(fixed.ranges_ref) < (bucket_count + 1) * sizeof(int32_t)) {
    RecordCreateHistogramResult(kCreateHistogramInvalidRanges);
    return nullptr;
  }

  // Every table this system makes runs from 0 to 0x7fffffff; other outer boundaries would let an ordinary
  // sample fall outside the table, which is fatal. The boundaries are copied once and the copy is checked:
  // another process may change the record's between two reads.
  std::vector<int32_t> boundaries(bucket_count + 1);
  memcpy(boundaries.data(), ranges_data, boundaries.size() * sizeof(int32_t));
  auto ranges = std::make_unique<BucketRangeTable>(bucket_count + 1);
  bool valid = boundaries[0] == 0 && boundaries[bucket_count] == kLastBoundary;
  for (uint32_t i = 0; valid && i <= bucket_count; ++i) {
    if (i > 0 && boundaries[i] <= boundaries[i - 1])
      valid = false;
    else
      ranges->set_range(i, boundaries[i]);
  }
  if (valid) {
    ranges->ResetChecksum();
    valid = ranges->checksum() == fixed.ranges_checksum;
  }
  if (!valid) {
    RecordCreateHistogramResult(kCreateHistogramInvalidRanges);
    return nullptr;
  }
  const BucketRangeTable* registered_ranges = StatisticsRecorder::RegisterOrDeleteDuplicateRanges(ranges.release());

  int32_t* counts_data = memory_allocator_->GetAsObject<int32_t>(fixed.counts_ref, kTypeIdCountsArray);
  if (!counts_data ||
      memory_allocator_->GetAllocSize(fixed.counts_ref) < size_t{bucket_count} * 2 * sizeof(int32_t)) {
    RecordCreateHistogramResult(kCreateHistogramInvalidCounts);
    return nullptr;
  }
  int32_t* logged_data = counts_data + bucket_count;

  std::unique_ptr<HistogramBase> histogram;
  switch (fixed.histogram_type) {
    case HISTOGRAM:
      histogram = Histogram::PersistentCreate(name, fixed.minimum, fixed.maximum, registered_ranges, counts_data,
                                              logged_data, bucket_count, &histogram_data->samples_metadata,
                                              &histogram_data->logged_metadata);
      break;
    case LINEAR_HISTOGRAM:
      histogram = LinearHistogram::PersistentCreate(name, fixed.minimum, fixed.maximum, registered_ranges,
                                                    counts_data, logged_data, bucket_count,
                                                    &histogram_data->samples_metadata,
                                                    &histogram_data->logged_metadata);
      break;
    case BOOLEAN_HISTOGRAM:
      histogram = BooleanHistogram::PersistentCreate(name, registered_ranges, counts_data, logged_data,
                                                     &histogram_data->samples_metadata,
                                                     &histogram_data->logged_metadata);
      break;
    case CUSTOM_HISTOGRAM:
      histogram = CustomHistogram::PersistentCreate(name, registered_ranges, counts_data, logged_data,
                                                    bucket_count, &histogram_data->samples_metadata,
                                                    &histogram_data->logged_metadata);
      break;
    default:
      break;
  }
  if (!histogram) {
    RecordCreateHistogramResult(kCreateHistogramUnknownType);
    return nullptr;
  }
  histogram->SetFlags(fixed.flags);
  RecordCreateHistogramResult(kCreateHistogramSuccess);
  return histogram;
}

// static
void PersistentHistogramAllocator::RecordCreateHistogramResult(CreateHistogramResult result) {
  // Made once, lazily. The flag is set first: the factory may come back here through this very allocator,
  // and a failed attempt is not repeated.
  static std::atomic<HistogramBase*> result_histogram{nullptr};
  static std::atomic<bool> tried{false};
  HistogramBase* histogram = result_histogram.load(std::memory_order_acquire);
  if (!histogram && !tried.exchange(true, std::memory_order_acq_rel)) {
    histogram = LinearHistogram::FactoryGet("UMA.CreatePersistentHistogram.Result", 1, 10, 11,
                                            HistogramBase::kReportedFlag);
    result_histogram.store(histogram, std::memory_order_release);
  }
  if (histogram)
    histogram->Add(result);
}

PersistentHistogramAllocator::Iterator::Iterator(PersistentHistogramAllocator* allocator)
    : allocator_(allocator), memory_iter_(allocator->memory_allocator()) {}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::Iterator::GetNextWithIgnore(Reference ignore) {
  Reference ref;
  while ((ref = memory_iter_.FindOfType(kTypeIdHistogram)) != 0) {
    if (ref != ignore)
      return allocator_->GetHistogram(ref);
  }
  return nullptr;
}

// The process-wide allocator.

GlobalHistogramAllocator::GlobalHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory)
    : PersistentHistogramAllocator(std::move(memory)), import_iterator_(this) {}

GlobalHistogramAllocator::~GlobalHistogramAllocator() = default;

// static
GlobalHistogramAllocator* GlobalHistogramAllocator::Get() {
  return g_allocator.load(std::memory_order_acquire);
}

// static
void GlobalHistogramAllocator::Set(std::unique_ptr<GlobalHistogramAllocator> allocator) {
  GlobalHistogramAllocator* expected = nullptr;
  CHECK(g_allocator.compare_exchange_strong(expected, allocator.get(), std::memory_order_acq_rel));
  allocator.release();  // lives for the rest of the process
}

// static
std::unique_ptr<GlobalHistogramAllocator> GlobalHistogramAllocator::ReleaseForTesting() {
  return std::unique_ptr<GlobalHistogramAllocator>(g_allocator.exchange(nullptr, std::memory_order_acq_rel));
}

void GlobalHistogramAllocator::ImportHistogramsToStatisticsRecorder() {
  const Reference record_to_ignore = last_created();
  while (std::unique_ptr<HistogramBase> histogram = import_iterator_.GetNextWithIgnore(record_to_ignore))
    StatisticsRecorder::RegisterOrDeleteDuplicate(histogram.release());
}

}  // namespace base
