// The sample container of a sparse histogram in persistent memory: each value's count lives in a sample
// record of the segment, found through the allocator's per-id record lists. A value whose record cannot be
// made (segment full or corrupt) is counted on the heap, in this process only. Used under its histogram's lock.
#ifndef BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
#define BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "base/metrics/sample_set.h"

namespace base {

class PersistentHistogramAllocator;
class PersistentSampleMapRecords;

class PersistentSampleMap : public SampleSet {
 public:
  PersistentSampleMap(uint64_t id, PersistentHistogramAllocator* allocator, SampleSetHeader* meta);
  ~PersistentSampleMap() override;

  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  bool AddSubtractImpl(SampleCountIterator* iter, Operator op) override;

 private:
  // Maps every record not yet seen; returns the count of `until_value` as soon as it is found (or, with
  // `import_everything`, after all records), null when there is none.
  Count* ImportSamples(Sample until_value, bool import_everything) const;
  Count* GetSampleCountStorage(Sample value) const;
  Count* GetOrCreateSampleCountStorage(Sample value);

  PersistentHistogramAllocator* const allocator_;
  PersistentSampleMapRecords* const records_;
  mutable std::map<Sample, Count*> sample_counts_;  // into sample records, or into local_counts_
  std::deque<Count> local_counts_;                  // values without a record
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
