#include "base/metrics/sparse_histogram.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/metrics/process_wide_histograms.h"
#include "base/metrics/sample_set.h"
#include "base/packed_buffer.h"
#include "base/values.h"

namespace base {
namespace {

TEST(SparseHistogramTest, CountsExactValuesWithoutClamping) {
  HistogramBase* histogram = SparseHistogram::FactoryGet("PlatformFile.UnknownErrors.Windows", 1);
  EXPECT_EQ(SPARSE_HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ(HashMetricName("PlatformFile.UnknownErrors.Windows"), histogram->name_hash());
  EXPECT_FALSE(histogram->HasConstructionArguments(0, 0, 0));
  histogram->Add(1392);
  histogram->Add(-5);
  histogram->AddCount(0x7fffffff, 2);
  histogram->AddCount(6, 0);
  histogram->AddCount(6, -1);
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  EXPECT_EQ(1, snapshot->GetCount(1392));
  EXPECT_EQ(1, snapshot->GetCount(-5));
  EXPECT_EQ(2, snapshot->GetCount(0x7fffffff));
  EXPECT_EQ(0, snapshot->GetCount(6));
  EXPECT_EQ(4, snapshot->TotalCount());
  EXPECT_EQ(1392 - 5 + 2 * int64_t{0x7fffffff}, snapshot->sum());
  EXPECT_EQ(histogram->name_hash(), snapshot->id());

  DictionaryValue params;
  histogram->GetParameters(&params);
  EXPECT_TRUE(params.empty());
}

TEST(SparseHistogramTest, DeltasHoldOnlyNewSamples) {
  HistogramBase* histogram = SparseHistogram::FactoryGet("Sparse.Delta", 0);
  histogram->AddCount(10, 3);
  EXPECT_EQ(3, histogram->SnapshotDelta()->GetCount(10));
  histogram->AddCount(10, 1);
  histogram->AddCount(-1, 2);
  std::unique_ptr<SampleSet> delta = histogram->SnapshotDelta();
  EXPECT_EQ(1, delta->GetCount(10));
  EXPECT_EQ(2, delta->GetCount(-1));
  EXPECT_EQ(3, delta->redundant_count());
  EXPECT_EQ(8, delta->sum());
  EXPECT_EQ(0, histogram->SnapshotDelta()->TotalCount());
  EXPECT_EQ(6, histogram->SnapshotSamples()->TotalCount());
}

TEST(SparseHistogramTest, ConcurrentAddsAreAllCounted) {
  constexpr int kThreads = 8;
  constexpr int kAddsPerThread = 100000;
  HistogramBase* histogram = SparseHistogram::FactoryGet("Sparse.Concurrent", 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([histogram, t] {
      for (int i = 0; i < kAddsPerThread; ++i)
        histogram->Add(i % 50 - t);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  EXPECT_EQ(kThreads * kAddsPerThread, snapshot->TotalCount());
  int64_t expected_sum = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int v = 0; v < 50; ++v)
      expected_sum += int64_t{v - t} * (kAddsPerThread / 50);
  }
  EXPECT_EQ(expected_sum, snapshot->sum());
  // Value -7 is added only by thread 7, value 42 by all eight.
  EXPECT_EQ(kAddsPerThread / 50, snapshot->GetCount(-7));
  EXPECT_EQ(kThreads * (kAddsPerThread / 50), snapshot->GetCount(42));
}

TEST(SparseHistogramTest, SamplesRoundTripThroughABuffer) {
  HistogramBase* source = SparseHistogram::FactoryGet("Sparse.RoundTrip", 0);
  source->AddCount(-100, 2);
  source->AddCount(31, 5);
  PackedBuffer buffer;
  source->SnapshotSamples()->Serialize(&buffer);
  HistogramBase* target = SparseHistogram::FactoryGet("Sparse.RoundTrip", 0);
  target->Add(31);
  PackedBufferReader reader(buffer);
  ASSERT_TRUE(target->AddSamplesFromBuffer(&reader));
  std::unique_ptr<SampleSet> snapshot = target->SnapshotSamples();
  EXPECT_EQ(2, snapshot->GetCount(-100));
  EXPECT_EQ(6, snapshot->GetCount(31));
  EXPECT_EQ(-200 + 6 * 31, snapshot->sum());
  target->AddSamples(*source->SnapshotSamples());
  EXPECT_EQ(11, target->SnapshotSamples()->GetCount(31));
}

TEST(ProcessWideHistogramsTest, OneHistogramPerNameWithoutARegistry) {
  HistogramBase* first = GetProcessWideSparseHistogram("PlatformFile.UnknownErrors.Windows", 1);
  for (int error = 0; error < 100; ++error)
    GetProcessWideSparseHistogram("PlatformFile.UnknownErrors.Windows", 1)->Add(error % 3);
  EXPECT_EQ(first, GetProcessWideSparseHistogram("PlatformFile.UnknownErrors.Windows", 1));
  EXPECT_EQ(100, first->SnapshotSamples()->TotalCount());
  EXPECT_EQ(34, first->SnapshotSamples()->GetCount(0));
  EXPECT_NE(first, GetProcessWideSparseHistogram("Other", 1));

  HistogramBase* settings = GetProcessWideHistogram("Settings.JsonDataReadSizeKilobytes.prefs_json", 1, 10000, 50, 1);
  ASSERT_NE(nullptr, settings);
  EXPECT_TRUE(settings->HasConstructionArguments(1, 10000, 50));
  EXPECT_EQ(settings, GetProcessWideHistogram("Settings.JsonDataReadSizeKilobytes.prefs_json", 1, 10000, 50, 1));
}

TEST(ProcessWideHistogramsTest, ConcurrentFirstCallsAgreeOnOneHistogram) {
  std::vector<HistogramBase*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&seen, t] {
      for (int i = 0; i < 1000; ++i)
        seen[t] = GetProcessWideSparseHistogram("Racing", 1);
      seen[t]->Add(t);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (HistogramBase* histogram : seen)
    EXPECT_EQ(seen[0], histogram);
  EXPECT_EQ(8, seen[0]->SnapshotSamples()->TotalCount());
}

}  // namespace
}  // namespace base
