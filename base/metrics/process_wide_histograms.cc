#include "base/metrics/process_wide_histograms.h"

#include <map>

#include "base/metrics/histogram.h"
#include "base/metrics/sparse_histogram.h"
#include "base/synchronization/lock.h"

namespace base {
namespace {

Lock g_lock;
// Never freed: the histograms live as long as the process, like registered ones.
std::map<std::string, HistogramBase*>* g_histograms = nullptr;

template <typename MakeHistogram>
HistogramBase* GetOrMake(const std::string& name, MakeHistogram make) {
  AutoLock auto_lock(g_lock);
  if (!g_histograms)
    g_histograms = new std::map<std::string, HistogramBase*>;
  auto it = g_histograms->find(name);
  if (it != g_histograms->end())
    return it->second;
  HistogramBase* histogram = make();
  if (histogram)
    g_histograms->emplace(name, histogram);
  return histogram;
}

}  // namespace

HistogramBase* GetProcessWideSparseHistogram(const std::string& name, int32_t flags) {
  return GetOrMake(name, [&] { return SparseHistogram::FactoryGet(name, flags); });
}

HistogramBase* GetProcessWideHistogram(const std::string& name, HistogramBase::Sample minimum,
                                       HistogramBase::Sample maximum, uint32_t bucket_count, int32_t flags) {
  return GetOrMake(name, [&] { return Histogram::FactoryGet(name, minimum, maximum, bucket_count, flags); });
}

}  // namespace base
