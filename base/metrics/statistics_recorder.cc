#include "base/metrics/statistics_recorder.h"

#include <atomic>
#include <cstring>
#include <list>
#include <map>

#include "base/metrics/bucket_range_table.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/synchronization/lock.h"

namespace base {
namespace {

// Orders names first by length, then bytewise (unsigned). The key points into the registered histogram's
// own name, which lives as long as the histogram: for ever.
struct NameKeyLess {
  bool operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size())
      return a.size() < b.size();
    return memcmp(a.data(), b.data(), a.size()) < 0;
  }
};

using HistogramMap = std::map<std::string_view, HistogramBase*, NameKeyLess>;
using CallbackMap = std::map<std::string, StatisticsRecorder::OnSampleCallback>;
using RangesMap = std::map<uint32_t, std::list<const BucketRangeTable*>*>;

// Null until the registry is created; the maps below are guarded by it.
std::atomic<Lock*> g_lock{nullptr};
HistogramMap* g_histograms = nullptr;
CallbackMap* g_callbacks = nullptr;
RangesMap* g_ranges = nullptr;

Lock* GetLock() {
  return g_lock.load(std::memory_order_acquire);
}

// Flag kCallbackExists of `histogram` follows whether `callback` is set.
void ApplyCallbackFlag(HistogramBase* histogram, const StatisticsRecorder::OnSampleCallback& callback) {
  if (callback.is_null())
    histogram->ClearFlags(HistogramBase::kCallbackExists);
  else
    histogram->SetFlags(HistogramBase::kCallbackExists);
}

}  // namespace

bool StatisticsRecorder::IsActive() {
  Lock* lock = GetLock();
  if (!lock)
    return false;
  AutoLock auto_lock(*lock);
  return g_histograms != nullptr;
}

HistogramBase* StatisticsRecorder::FindHistogram(std::string_view name) {
  Lock* lock = GetLock();
  if (!lock)
    return nullptr;
  // The import registers histograms itself, so it runs before the lock is taken.
  if (GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get())
    allocator->ImportHistogramsToStatisticsRecorder();

  AutoLock auto_lock(*lock);
  if (!g_histograms)
    return nullptr;
  auto it = g_histograms->find(name);
  return it == g_histograms->end() ? nullptr : it->second;
}

HistogramBase* StatisticsRecorder::RegisterOrDeleteDuplicate(HistogramBase* histogram) {
  Lock* lock = GetLock();
  if (!lock)
    return histogram;
  HistogramBase* registered;
  {
    AutoLock auto_lock(*lock);
    if (!g_histograms)
      return histogram;
    const std::string& name = histogram->histogram_name();
    auto [it, inserted] = g_histograms->try_emplace(std::string_view(name), histogram);
    if (inserted) {
      auto callback = g_callbacks->find(name);
      if (callback != g_callbacks->end())
        ApplyCallbackFlag(histogram, callback->second);
      return histogram;
    }
    registered = it->second;
  }
  if (registered != histogram)
    delete histogram;
  return registered;
}

const BucketRangeTable* StatisticsRecorder::RegisterOrDeleteDuplicateRanges(const BucketRangeTable* ranges) {
  Lock* lock = GetLock();
  if (!lock)
    return ranges;
  const BucketRangeTable* registered = nullptr;
  {
    AutoLock auto_lock(*lock);
    if (!g_ranges)
      return ranges;
    std::list<const BucketRangeTable*>*& list = (*g_ranges)[ranges->checksum()];
    if (!list)
      list = new std::list<const BucketRangeTable*>;
    for (const BucketRangeTable* entry : *list) {
      if (entry->Equals(ranges)) {
        registered = entry;
        break;
      }
    }
    if (!registered) {
      list->push_back(ranges);
      return ranges;
    }
  }
  if (registered != ranges)
    delete ranges;
  return registered;
}

StatisticsRecorder::OnSampleCallback StatisticsRecorder::FindCallback(const std::string& name) {
  Lock* lock = GetLock();
  if (!lock)
    return OnSampleCallback();
  AutoLock auto_lock(*lock);
  if (!g_histograms)
    return OnSampleCallback();
  auto it = g_callbacks->find(name);
  return it == g_callbacks->end() ? OnSampleCallback() : it->second;
}

void StatisticsRecorder::InitializeForTesting() {
  static Lock lock;
  Lock* expected = nullptr;
  g_lock.compare_exchange_strong(expected, &lock, std::memory_order_acq_rel);
  AutoLock auto_lock(*GetLock());
  if (g_histograms)
    return;
  g_callbacks = new CallbackMap;
  g_ranges = new RangesMap;
  g_histograms = new HistogramMap;
}

void StatisticsRecorder::SetCallbackForTesting(const std::string& name, const OnSampleCallback& callback) {
  Lock* lock = GetLock();
  if (!lock)
    return;
  AutoLock auto_lock(*lock);
  if (!g_histograms)
    return;
  (*g_callbacks)[name] = callback;
  auto it = g_histograms->find(name);
  if (it != g_histograms->end())
    ApplyCallbackFlag(it->second, callback);
}

}  // namespace base
