// The process-wide registry that makes histogram names unique: one histogram per name, one shared range table
// per set of boundaries, and the sample callbacks by name. The product never creates it: every method then
// takes its "not initialised" path, every factory call builds a new histogram, and callers keep theirs in
// static pointers. Tests create it to find histograms by name. Nothing registered is ever removed or freed.
#ifndef BASE_METRICS_STATISTICS_RECORDER_H_
#define BASE_METRICS_STATISTICS_RECORDER_H_

#include <string>
#include <string_view>

#include "base/callback.h"
#include "base/metrics/histogram_base.h"

namespace base {

class BucketRangeTable;

class StatisticsRecorder {
 public:
  using OnSampleCallback = Callback<void(HistogramBase::Sample)>;

  StatisticsRecorder() = delete;

  // Whether the registry exists.
  static bool IsActive();

  // The histogram registered under `name`, or null (also while the registry does not exist). Histograms held
  // by an installed persistent allocator are imported first.
  static HistogramBase* FindHistogram(std::string_view name);

  // Registers `histogram` under its name and returns it, or returns the histogram already registered under
  // that name and deletes `histogram`. Without a registry, returns `histogram` unregistered.
  static HistogramBase* RegisterOrDeleteDuplicate(HistogramBase* histogram);

  // The same for range tables, which are shared by equal boundaries.
  static const BucketRangeTable* RegisterOrDeleteDuplicateRanges(const BucketRangeTable* ranges);

  // A copy of the callback registered for `name`; an empty callback when there is none.
  static OnSampleCallback FindCallback(const std::string& name);

  // Test-only: creates the registry (the product never does). Idempotent; the registry then lives for the
  // rest of the process.
  static void InitializeForTesting();

  // Test-only: sets (or, with an empty callback, clears) the callback entry of `name`. A registered histogram
  // of that name gets flag kCallbackExists set or cleared; one registered later gets it on registration.
  static void SetCallbackForTesting(const std::string& name, const OnSampleCallback& callback);
};

}  // namespace base

#endif  // BASE_METRICS_STATISTICS_RECORDER_H_
