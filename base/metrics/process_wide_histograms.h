// Histograms whose callers ask for them by name at every use. While the statistics recorder does not exist
// (always, in the product) every factory call builds a new histogram, so asking per event would leak one per
// event; these keep one histogram per name for the whole process. The arguments of the first call for a name
// are the ones used.
#ifndef BASE_METRICS_PROCESS_WIDE_HISTOGRAMS_H_
#define BASE_METRICS_PROCESS_WIDE_HISTOGRAMS_H_

#include <cstdint>
#include <string>

#include "base/metrics/histogram_base.h"

namespace base {

// SparseHistogram::FactoryGet, once per name.
HistogramBase* GetProcessWideSparseHistogram(const std::string& name, int32_t flags);

// Histogram::FactoryGet (exponential), once per name; null when the factory gives null.
HistogramBase* GetProcessWideHistogram(const std::string& name, HistogramBase::Sample minimum,
                                       HistogramBase::Sample maximum, uint32_t bucket_count, int32_t flags);

}  // namespace base

#endif  // BASE_METRICS_PROCESS_WIDE_HISTOGRAMS_H_
