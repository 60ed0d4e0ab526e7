#include "base/metrics/histogram_base.h"

#include <algorithm>

#include "base/callback.h"
#include "base/metrics/statistics_recorder.h"
#include "base/strings/stringprintf.h"
#include "base/time/time.h"

namespace base {
namespace {

constexpr int kBarColumns = 72;

}  // namespace

std::string HistogramTypeToString(HistogramType type) {
  switch (type) {
    case HISTOGRAM:
      return "HISTOGRAM";
    case LINEAR_HISTOGRAM:
      return "LINEAR_HISTOGRAM";
    case BOOLEAN_HISTOGRAM:
      return "BOOLEAN_HISTOGRAM";
    case CUSTOM_HISTOGRAM:
      return "CUSTOM_HISTOGRAM";
    case SPARSE_HISTOGRAM:
      return "SPARSE_HISTOGRAM";
  }
  return "UNKNOWN";
}

HistogramBase::HistogramBase(const std::string& name) : histogram_name_(name) {}

HistogramBase::~HistogramBase() = default;

void HistogramBase::SetFlags(int32_t flags) {
  flags_.fetch_or(flags, std::memory_order_relaxed);
}

void HistogramBase::ClearFlags(int32_t flags) {
  flags_.fetch_and(~flags, std::memory_order_relaxed);
}

void HistogramBase::Add(Sample value) {
  AddCount(value, 1);
}

uint32_t HistogramBase::FindCorruption(const SampleSet&) const {
  return NO_INCONSISTENCIES;
}

void HistogramBase::AddTime(const TimeDelta& time) {
  // Spans beyond the sample range saturate rather than wrap into the opposite sign.
  int64_t milliseconds = time.InMilliseconds();
  milliseconds = std::clamp<int64_t>(milliseconds, INT32_MIN, INT32_MAX);
  Add(static_cast<Sample>(milliseconds));
}

void HistogramBase::FindAndRunCallback(Sample sample) const {
  if ((flags() & kCallbackExists) == 0)
    return;
  StatisticsRecorder::OnSampleCallback callback = StatisticsRecorder::FindCallback(histogram_name());
  if (!callback.is_null())
    callback.Run(sample);
}

void HistogramBase::WriteAsciiHeader(Count sample_count, int64_t sum, bool with_average,
                                     std::string* output) const {
  StringAppendF(output, "Histogram: %s recorded %d samples", histogram_name().c_str(), sample_count);
  if (with_average && sample_count != 0) {
    // Single precision, as the graphs have always been printed.
    float average = static_cast<float>(sum) / static_cast<float>(sample_count);
    StringAppendF(output, ", average = %.1f", average);
  }
  if (int32_t printed_flags = flags() & ~kHexRangePrintingFlag)
    StringAppendF(output, " (flags = 0x%x)", static_cast<unsigned>(printed_flags));
}

void HistogramBase::WriteAsciiBucketGraph(double size, double max_size, std::string* output) {
  // Negative counts (a damaged or subtracted set) and an all-zero graph draw an empty bar.
  int x_count = 0;
  if (max_size > 0)
    x_count = static_cast<int>(std::clamp(size / max_size * kBarColumns + 0.5, 0.0, double{kBarColumns}));
  output->append(x_count, '-');
  output->append("O");
  output->append(kBarColumns - x_count, ' ');
}

void HistogramBase::WriteAsciiBucketValue(Count current, double scaled_sum, std::string* output) {
  StringAppendF(output, " (%d = %3.1f%%)", current, current / scaled_sum);
}

std::string HistogramBase::GetSimpleAsciiBucketRange(Sample sample) const {
  if (flags() & kHexRangePrintingFlag)
    return StringPrintf("%#x", static_cast<unsigned>(sample));
  return StringPrintf("%d", sample);
}

}  // namespace base
