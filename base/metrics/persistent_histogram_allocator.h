// Histograms whose samples live in a PersistentMemoryAllocator segment, so that other processes sharing the
// segment see them. A histogram is stored as records:
//   histogram record (type 0xF1645912), allocated with 80 + name length + 1 bytes:
//     0 type, 4 flags (with kIsPersistent), 8 minimum, 12 maximum, 16 bucket count, 20 boundary array
//     reference, 24 boundary checksum, 28 counts array reference, 32 samples header (24 bytes), 56 logged-
//     samples header (24 bytes), 80 the name, NUL-terminated; a sparse histogram leaves 8 to 31 at 0;
//   boundary array (type 0xBCEA225B): bucket count + 1 int32;
//   counts array (type 0x53215531): bucket count int32 counts, then as many logged counts;
//   sample record (type 0x8FE6A6A0) of a sparse histogram: id u64, value int32, count int32.
// While no process-wide allocator is installed (the product installs none), histograms are made on the heap
// and all of this stays idle.
#ifndef BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/synchronization/lock.h"

namespace base {

class BucketRangeTable;
class PersistentSampleMapRecords;
struct PersistentHistogramData;

// A sparse histogram's count of one value, as stored in the segment.
struct PersistentSampleRecord {
  uint64_t id;  // the sample map's id
  int32_t value;
  int32_t count;
};
static_assert(sizeof(PersistentSampleRecord) == 16, "sample record layout");

// The sample records of every sparse histogram in one segment, handed out per sample-map id. One iterator
// reads the segment's sample records once per process and sorts them by id.
class PersistentSparseHistogramDataManager {
 public:
  explicit PersistentSparseHistogramDataManager(PersistentMemoryAllocator* allocator);
  PersistentSparseHistogramDataManager(const PersistentSparseHistogramDataManager&) = delete;
  PersistentSparseHistogramDataManager& operator=(const PersistentSparseHistogramDataManager&) = delete;
  ~PersistentSparseHistogramDataManager();

  // The records of `id`, now held by `user` with nothing yet handed out.
  PersistentSampleMapRecords* UseSampleMapRecords(uint64_t id, const void* user);

 private:
  friend class PersistentSampleMapRecords;

  PersistentSampleMapRecords* GetSampleMapRecordsWhileLocked(uint64_t id);
  // Moves records of the holder's id found earlier into its list, then reads further sample records until
  // at least 10 were read and one of the id was among them, or the segment has no more. True when any
  // record of the id was added.
  bool LoadRecords(PersistentSampleMapRecords* sample_map_records);

  PersistentMemoryAllocator* const allocator_;
  Lock lock_;  // guards the map, every records object's found list and the iterator
  PersistentMemoryAllocator::Iterator record_iterator_;
  std::map<uint64_t, std::unique_ptr<PersistentSampleMapRecords>> sample_records_;
};

// The sample records of one sample-map id, in segment order, so that every process and every sample map that
// uses the id sees the same first record of a value.
class PersistentSampleMapRecords {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  PersistentSampleMapRecords(PersistentSparseHistogramDataManager* data_manager, uint64_t sample_map_id);
  PersistentSampleMapRecords(const PersistentSampleMapRecords&) = delete;
  PersistentSampleMapRecords& operator=(const PersistentSampleMapRecords&) = delete;
  ~PersistentSampleMapRecords();

  // The next record for the holder, loading more when all were handed out; 0 when there is none.
  Reference TakeRecord();
  // A new, iterable record of `value` with count 0; 0 when the segment refuses it.
  Reference CreateNew(HistogramBase::Sample value);
  // The holder gives the records up.
  void Release(const void* user);

  uint64_t sample_map_id() const { return sample_map_id_; }

 private:
  friend class PersistentSparseHistogramDataManager;

  PersistentSparseHistogramDataManager* const data_manager_;
  const uint64_t sample_map_id_;
  const void* user_ = nullptr;
  size_t seen_ = 0;                 // records_ handed out to the holder
  std::vector<Reference> records_;  // belongs to the holder
  std::vector<Reference> found_;    // found while loading another id; under the manager's lock
};

class PersistentHistogramAllocator {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  // Record types in the segment.
  static constexpr uint32_t kTypeIdHistogram = 0xF1645912;
  static constexpr uint32_t kTypeIdRangesArray = 0xBCEA225B;
  static constexpr uint32_t kTypeIdCountsArray = 0x53215531;
  static constexpr uint32_t kTypeIdSampleRecord = 0x8FE6A6A0;

  // Outcomes counted in "UMA.CreatePersistentHistogram.Result".
  enum CreateHistogramResult {
    kCreateHistogramSuccess = 0,
    kCreateHistogramNoRecord = 1,
    kCreateHistogramInvalidRecord = 2,
    kCreateHistogramInvalidRanges = 3,
    kCreateHistogramInvalidCounts = 4,
    kCreateHistogramSegmentCorrupt = 5,
    kCreateHistogramSegmentFull = 6,
    kCreateHistogramAllocationFailed = 7,
    kCreateHistogramUnknownType = 8,
    kCreateHistogramNewlyCorrupt = 9,
  };

  // Hands out each histogram record of the segment once.
  class Iterator {
   public:
    explicit Iterator(PersistentHistogramAllocator* allocator);
    // The histogram of the next record other than `ignore`; null at the end or when a record is unusable.
    std::unique_ptr<HistogramBase> GetNextWithIgnore(Reference ignore);

   private:
    PersistentHistogramAllocator* const allocator_;
    PersistentMemoryAllocator::Iterator memory_iter_;
  };

  explicit PersistentHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory);
  PersistentHistogramAllocator(const PersistentHistogramAllocator&) = delete;
  PersistentHistogramAllocator& operator=(const PersistentHistogramAllocator&) = delete;
  virtual ~PersistentHistogramAllocator();

  PersistentMemoryAllocator* memory_allocator() const { return memory_allocator_.get(); }

  // Writes the records of a new histogram and returns it over them, with the record's reference in `*ref`
  // (when given); null when the segment cannot take it. The record is not yet visible to others.
  std::unique_ptr<HistogramBase> AllocateHistogram(HistogramType type, const std::string& name,
                                                   HistogramBase::Sample minimum, HistogramBase::Sample maximum,
                                                   const BucketRangeTable* ranges, int32_t flags, Reference* ref);
  // Publishes the record of a histogram that was registered, or abandons (type 0) one that lost a race.
  void FinalizeHistogram(Reference ref, bool registered);
  // A histogram over the record at `ref`, made by any process; null when the record is unusable.
  std::unique_ptr<HistogramBase> GetHistogram(Reference ref);

  PersistentSampleMapRecords* UseSampleMapRecords(uint64_t id, const void* user);

  Reference last_created() const { return last_created_.load(std::memory_order_acquire); }

 protected:
  // `name` is the record's name, read once: another process may change the record's bytes at any time.
  std::unique_ptr<HistogramBase> CreateHistogram(PersistentHistogramData* histogram_data, const std::string& name);

 private:
  static void RecordCreateHistogramResult(CreateHistogramResult result);

  std::unique_ptr<PersistentMemoryAllocator> memory_allocator_;
  PersistentSparseHistogramDataManager sparse_histogram_data_manager_;
  std::atomic<Reference> last_created_{0};
};

// The process-wide allocator through which the factories and the statistics recorder reach the segment.
class GlobalHistogramAllocator : public PersistentHistogramAllocator {
 public:
  explicit GlobalHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory);
  ~GlobalHistogramAllocator() override;

  // The installed allocator, or null.
  static GlobalHistogramAllocator* Get();
  // Installs the process-wide allocator; whoever creates or opens the segment does this, once.
  static void Set(std::unique_ptr<GlobalHistogramAllocator> allocator);
  // Test-only: uninstalls the allocator; keep it alive while histograms made over its segment are in use.
  static std::unique_ptr<GlobalHistogramAllocator> ReleaseForTesting();

  // Registers every histogram record not yet imported by this process, except the last one this process
  // made (already registered), with the statistics recorder.
  void ImportHistogramsToStatisticsRecorder();

 private:
  Iterator import_iterator_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
