#include "base/metrics/histogram.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/bucket_range_table.h"
#include "base/metrics/metrics_test_util.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/packed_buffer.h"
#include "base/time/time.h"
#include "base/values.h"

namespace base {
namespace {

constexpr int32_t kFlags = HistogramBase::kReportedFlag;

Histogram* AsBucketed(HistogramBase* histogram) {
  EXPECT_NE(nullptr, histogram);
  EXPECT_NE(SPARSE_HISTOGRAM, histogram->GetHistogramType());
  return static_cast<Histogram*>(histogram);
}

std::vector<int32_t> RangesOf(const Histogram* histogram) {
  std::vector<int32_t> ranges;
  for (uint32_t i = 0; i <= histogram->bucket_count(); ++i)
    ranges.push_back(histogram->ranges(i));
  return ranges;
}

std::vector<int32_t> CountsOf(const HistogramBase* histogram) {
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  auto* vector = static_cast<BucketCountVector*>(snapshot.get());
  std::vector<int32_t> counts;
  for (size_t i = 0; i < vector->bucket_ranges()->bucket_count(); ++i)
    counts.push_back(vector->GetCountAtIndex(i));
  return counts;
}

TEST(HistogramTest, BoundaryTablesFollowThePublishedRules) {
  // The expectations come from testdata_oracle.py, which applies the clamps and the rules on its own.
  int checked = 0;
  for (const metrics_test::ExpectedRanges& expected : metrics_test::LoadExpectedRanges()) {
    if (expected.kind == "custom")
      continue;
    const std::string name = "Ranges." + std::to_string(checked++);
    const auto minimum = static_cast<int32_t>(expected.minimum);
    const auto maximum = static_cast<int32_t>(expected.maximum);
    const auto bucket_count = static_cast<uint32_t>(expected.bucket_count);
    Histogram* histogram =
        AsBucketed(expected.kind == "linear" ? LinearHistogram::FactoryGet(name, minimum, maximum, bucket_count, 0)
                                             : Histogram::FactoryGet(name, minimum, maximum, bucket_count, 0));
    EXPECT_EQ(expected.ranges, RangesOf(histogram)) << expected.kind << " " << expected.minimum << " "
                                                     << expected.maximum << " " << expected.bucket_count;
    EXPECT_EQ(expected.checksum, histogram->bucket_ranges()->checksum());
  }
  EXPECT_GE(checked, 15);
}

TEST(HistogramTest, ArgumentsAreClamped) {
  Histogram* wide = AsBucketed(Histogram::FactoryGet("Clamp.Wide", 0, 0x7fffffff, 20000, kFlags));
  EXPECT_EQ(1, wide->declared_min());
  EXPECT_EQ(0x7ffffffe, wide->declared_max());
  EXPECT_EQ(16383u, wide->bucket_count());
  EXPECT_TRUE(wide->HasConstructionArguments(1, 0x7ffffffe, 16383));
  // A negative bucket count is a huge unsigned one.
  Histogram* negative =
      AsBucketed(LinearHistogram::FactoryGet("Clamp.Negative", -5, 100, static_cast<uint32_t>(-1), 0));
  EXPECT_EQ(16383u, negative->bucket_count());
  EXPECT_EQ(1, negative->declared_min());
}

TEST(HistogramTest, LinearHistogramWithTooFewBucketsGetsThree) {
  for (uint32_t buckets : {0u, 1u, 2u}) {
    Histogram* histogram = AsBucketed(LinearHistogram::FactoryGet("Few", 1, 2, buckets, 0));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 0x7fffffff}), RangesOf(histogram));
    histogram->Add(1);
    EXPECT_EQ((std::vector<int32_t>{0, 1, 0}), CountsOf(histogram));
  }
  Histogram* exponential = AsBucketed(Histogram::FactoryGet("FewExponential", 1, 50, 0, 0));
  EXPECT_EQ(3u, exponential->bucket_count());
}

TEST(HistogramTest, TableFilledDirectlyWithTwoBucketsDoesNotDivideByZero) {
  BucketRangeTable table(3);
  LinearHistogram::InitializeBucketRanges(4, 9, &table);
  EXPECT_EQ(0, table.range(0));
  EXPECT_EQ(4, table.range(1));
  EXPECT_EQ(0x7fffffff, table.range(2));
  EXPECT_TRUE(table.HasValidChecksum());
}

TEST(HistogramTest, BooleanHistogramHasTwoValueBuckets) {
  Histogram* histogram = AsBucketed(BooleanHistogram::FactoryGet("Bool", kFlags));
  EXPECT_EQ(BOOLEAN_HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 0x7fffffff}), RangesOf(histogram));
  histogram->Add(0);
  histogram->Add(1);
  histogram->Add(1);
  EXPECT_EQ((std::vector<int32_t>{1, 2, 0}), CountsOf(histogram));
}

TEST(HistogramTest, CustomHistogramSortsAndFiltersItsBoundaries) {
  Histogram* histogram = AsBucketed(CustomHistogram::FactoryGet("Custom", {50, 5, 0, -1, 5, 0x7fffffff, 7}, 0));
  EXPECT_EQ(CUSTOM_HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ((std::vector<int32_t>{0, 5, 7, 50, 0x7fffffff}), RangesOf(histogram));
  EXPECT_EQ(5, histogram->declared_min());
  EXPECT_EQ(50, histogram->declared_max());
}

TEST(HistogramTest, SamplesAreClampedIntoTheRange) {
  HistogramBase* histogram = Histogram::FactoryGet("Clamp.Samples", 1, 100, 10, 0);
  histogram->Add(-5);
  histogram->Add(0x7fffffff);
  histogram->AddCount(3, 0);
  histogram->AddCount(3, -4);
  std::vector<int32_t> counts = CountsOf(histogram);
  EXPECT_EQ(1, counts.front());
  EXPECT_EQ(1, counts.back());
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  EXPECT_EQ(2, snapshot->TotalCount());
  EXPECT_EQ(2, snapshot->redundant_count());
  EXPECT_EQ(0x7ffffffe, snapshot->sum());  // -5 counted as 0
  EXPECT_EQ(1, snapshot->GetCount(0x7ffffffe));
}

TEST(HistogramTest, AddTimeRecordsWholeMilliseconds) {
  HistogramBase* histogram =
      Histogram::FactoryTimeGet("Time", TimeDelta::FromMilliseconds(1), TimeDelta::FromSeconds(10), 50, kFlags);
  EXPECT_TRUE(histogram->HasConstructionArguments(1, 10000, 50));
  histogram->AddTime(TimeDelta::FromMicroseconds(1999));
  histogram->AddTime(TimeDelta::FromMilliseconds(20));
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  EXPECT_EQ(21, snapshot->sum());
  EXPECT_EQ(1, snapshot->GetCount(1));
}

TEST(HistogramTest, ConcurrentAddsFromEightThreadsSumExactly) {
  constexpr int kThreads = 8;
  constexpr int kAddsPerThread = 1000000;
  HistogramBase* histogram = Histogram::FactoryGet("Concurrent", 1, 1000, 20, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([histogram, t] {
      for (int i = 0; i < kAddsPerThread; ++i)
        histogram->Add((i + t) % 1200);
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  // What a single thread would have recorded.
  auto* bucketed = static_cast<Histogram*>(histogram);
  BucketCountVector expected(1, bucketed->bucket_ranges());
  for (int t = 0; t < kThreads; ++t) {
    for (int value = 0; value < 1200; ++value) {
      int times = kAddsPerThread / 1200 + ((value - t + 1200) % 1200 < kAddsPerThread % 1200 ? 1 : 0);
      expected.Accumulate(value, times);
    }
  }
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  EXPECT_EQ(kThreads * kAddsPerThread, snapshot->TotalCount());
  EXPECT_EQ(kThreads * kAddsPerThread, snapshot->redundant_count());
  EXPECT_EQ(expected.sum(), snapshot->sum());
  EXPECT_EQ(expected.TotalCount(), snapshot->TotalCount());
  for (size_t i = 0; i < bucketed->bucket_count(); ++i)
    EXPECT_EQ(expected.GetCountAtIndex(i), static_cast<BucketCountVector*>(snapshot.get())->GetCountAtIndex(i));
  EXPECT_EQ(0u, histogram->FindCorruption(*snapshot));
}

TEST(HistogramTest, SnapshotDeltaReturnsWhatWasAddedSinceTheLastOne) {
  HistogramBase* histogram = LinearHistogram::FactoryGet("Delta", 1, 10, 11, 0);
  histogram->AddCount(3, 2);
  std::unique_ptr<SampleSet> first = histogram->SnapshotDelta();
  EXPECT_EQ(2, first->GetCount(3));
  histogram->AddCount(3, 1);
  histogram->AddCount(7, 5);
  std::unique_ptr<SampleSet> second = histogram->SnapshotDelta();
  EXPECT_EQ(1, second->GetCount(3));
  EXPECT_EQ(5, second->GetCount(7));
  EXPECT_EQ(6, second->redundant_count());
  EXPECT_EQ(3 + 35, second->sum());
  std::unique_ptr<SampleSet> third = histogram->SnapshotDelta();
  EXPECT_EQ(0, third->TotalCount());
  EXPECT_EQ(0, third->sum());
  // The full snapshot is untouched by deltas.
  EXPECT_EQ(8, histogram->SnapshotSamples()->TotalCount());
}

// A snapshot of `histogram` whose redundant count is off by `delta`.
std::unique_ptr<SampleSet> SnapshotWithCountOff(HistogramBase* histogram, int32_t delta) {
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  PackedBuffer buffer;
  buffer.WriteInt64(0);
  buffer.WriteInt(delta);
  PackedBufferReader reader(buffer);
  snapshot->AddFromBuffer(&reader);
  return snapshot;
}

TEST(HistogramTest, CorruptionChecksFindBadTablesAndCountMismatches) {
  StatisticsRecorder::InitializeForTesting();
  Histogram* histogram = AsBucketed(Histogram::FactoryGet("Corruption", 1, 100, 10, 0));
  histogram->Add(5);
  std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
  EXPECT_EQ(0u, histogram->FindCorruption(*snapshot));

  // A redundant count 7 above the bucket total.
  EXPECT_EQ(static_cast<uint32_t>(HistogramBase::COUNT_HIGH_ERROR),
            histogram->FindCorruption(*SnapshotWithCountOff(histogram, 7)));
  HistogramBase* high = StatisticsRecorder::FindHistogram("Histogram.InconsistentCountHigh");
  ASSERT_NE(nullptr, high);
  EXPECT_EQ(1, high->SnapshotSamples()->GetCount(7));

  // Boundaries changed behind the table's back: out of order and no longer matching the checksum.
  auto* table = const_cast<BucketRangeTable*>(histogram->bucket_ranges());
  table->set_range(3, 1);
  EXPECT_EQ(static_cast<uint32_t>(HistogramBase::BUCKET_ORDER_ERROR | HistogramBase::RANGE_CHECKSUM_ERROR),
            histogram->FindCorruption(*histogram->SnapshotSamples()));
}

TEST(HistogramTest, CountMismatchesUpToFiveAreReportedButNotFlagged) {
  StatisticsRecorder::InitializeForTesting();
  HistogramBase* histogram = Histogram::FactoryGet("Mismatch", 1, 100, 10, 0);
  EXPECT_EQ(0u, histogram->FindCorruption(*SnapshotWithCountOff(histogram, -3)));
  EXPECT_EQ(0u, histogram->FindCorruption(*SnapshotWithCountOff(histogram, -5)));
  EXPECT_EQ(static_cast<uint32_t>(HistogramBase::COUNT_LOW_ERROR),
            histogram->FindCorruption(*SnapshotWithCountOff(histogram, -6)));
  EXPECT_EQ(0u, histogram->FindCorruption(*SnapshotWithCountOff(histogram, 5)));
  EXPECT_EQ(static_cast<uint32_t>(HistogramBase::COUNT_HIGH_ERROR),
            histogram->FindCorruption(*SnapshotWithCountOff(histogram, 6)));
  HistogramBase* low = StatisticsRecorder::FindHistogram("Histogram.InconsistentCountLow");
  HistogramBase* high = StatisticsRecorder::FindHistogram("Histogram.InconsistentCountHigh");
  ASSERT_NE(nullptr, low);
  ASSERT_NE(nullptr, high);
  std::unique_ptr<SampleSet> low_samples = low->SnapshotSamples();
  EXPECT_EQ(3, low_samples->TotalCount());
  EXPECT_EQ(3 + 5 + 6, low_samples->sum());
  EXPECT_EQ(5 + 6, high->SnapshotSamples()->sum());
}

// Builds the histogram of a graph case and records its samples.
HistogramBase* MakeGraphHistogram(const metrics_test::GraphCase& graph) {
  HistogramBase* histogram = nullptr;
  if (graph.kind == "sparse") {
    histogram = SparseHistogram::FactoryGet(graph.name, graph.flags);
  } else if (graph.kind == "boolean") {
    histogram = BooleanHistogram::FactoryGet(graph.name, graph.flags);
  } else if (graph.kind == "custom") {
    histogram = CustomHistogram::FactoryGet(graph.name, graph.custom_ranges, graph.flags);
  } else if (graph.kind == "linear") {
    std::vector<LinearHistogram::DescriptionPair> descriptions;
    for (const auto& [sample, text] : graph.descriptions)
      descriptions.push_back({sample, text.c_str()});
    descriptions.push_back({0, nullptr});
    histogram = LinearHistogram::FactoryGetWithRangeDescription(graph.name, graph.minimum, graph.maximum,
                                                                graph.bucket_count, graph.flags,
                                                                descriptions.data());
  } else {
    histogram = Histogram::FactoryGet(graph.name, graph.minimum, graph.maximum, graph.bucket_count, graph.flags);
  }
  for (const auto& [value, count] : graph.samples)
    histogram->AddCount(value, count);
  return histogram;
}

TEST(HistogramTest, TextGraphsMatchThePublishedLayout) {
  for (const metrics_test::GraphCase& graph : metrics_test::LoadGraphCases()) {
    HistogramBase* histogram = MakeGraphHistogram(graph);
    std::string ascii = "kept ";
    histogram->WriteAscii(&ascii);
    EXPECT_EQ("kept " + graph.ascii, ascii) << graph.name;
    std::string html;
    histogram->WriteHTMLGraph(&html);
    EXPECT_EQ(graph.html, html) << graph.name;
  }
}

TEST(HistogramTest, SerializedInfoListsTheConstructionArguments) {
  Histogram* histogram = AsBucketed(LinearHistogram::FactoryGet("Info.Linear", 1, 6, 7, 0x8001));
  PackedBuffer buffer;
  ASSERT_TRUE(histogram->SerializeInfo(&buffer));
  PackedBufferReader reader(buffer);
  std::string name;
  int32_t flags, minimum, maximum, bucket_count, checksum;
  ASSERT_TRUE(reader.ReadString(&name) && reader.ReadInt(&flags) && reader.ReadInt(&minimum) &&
              reader.ReadInt(&maximum) && reader.ReadInt(&bucket_count) && reader.ReadInt(&checksum));
  EXPECT_EQ("Info.Linear", name);
  EXPECT_EQ(0x8001, flags);
  EXPECT_EQ(1, minimum);
  EXPECT_EQ(6, maximum);
  EXPECT_EQ(7, bucket_count);
  EXPECT_EQ(histogram->bucket_ranges()->CalculateChecksum(), static_cast<uint32_t>(checksum));
  EXPECT_EQ(0u, reader.remaining());

  Histogram* custom = AsBucketed(CustomHistogram::FactoryGet("Info.Custom", {10, 20, 30}, 0));
  PackedBuffer custom_buffer;
  ASSERT_TRUE(custom->SerializeInfo(&custom_buffer));
  PackedBufferReader custom_reader(custom_buffer);
  ASSERT_TRUE(custom_reader.ReadString(&name));
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(custom_reader.ReadInt(&flags));
  std::vector<int32_t> inner;
  int32_t boundary;
  while (custom_reader.ReadInt(&boundary))
    inner.push_back(boundary);
  EXPECT_EQ((std::vector<int32_t>{10, 20, 30}), inner);

  HistogramBase* sparse = SparseHistogram::FactoryGet("Info.Sparse", 0x21);
  PackedBuffer sparse_buffer;
  ASSERT_TRUE(sparse->SerializeInfo(&sparse_buffer));
  PackedBufferReader sparse_reader(sparse_buffer);
  ASSERT_TRUE(sparse_reader.ReadString(&name) && sparse_reader.ReadInt(&flags));
  EXPECT_EQ("Info.Sparse", name);
  EXPECT_EQ(0x21, flags);
  EXPECT_EQ(0u, sparse_reader.remaining());
}

TEST(HistogramTest, SamplesRoundTripBetweenHistogramsThroughABuffer) {
  HistogramBase* source = Histogram::FactoryGet("RoundTrip", 1, 10000, 50, 0);
  for (int value = -10; value < 20000; value += 97)
    source->AddCount(value, value % 4 + 1);
  PackedBuffer buffer;
  source->SnapshotSamples()->Serialize(&buffer);
  // The receiving side, as another process would rebuild it from the same arguments.
  HistogramBase* target = Histogram::FactoryGet("RoundTrip", 1, 10000, 50, 0);
  ASSERT_NE(source, target);
  PackedBuffer received(buffer.data(), static_cast<int>(buffer.size()));
  PackedBufferReader reader(received);
  ASSERT_TRUE(target->AddSamplesFromBuffer(&reader));
  EXPECT_EQ(CountsOf(source), CountsOf(target));
  EXPECT_EQ(source->SnapshotSamples()->sum(), target->SnapshotSamples()->sum());

  // Buckets of other boundaries do not fit.
  HistogramBase* other = Histogram::FactoryGet("RoundTrip.Other", 1, 10000, 40, 0);
  PackedBufferReader other_reader(received);
  EXPECT_FALSE(other->AddSamplesFromBuffer(&other_reader));
}

TEST(HistogramTest, ValueTreesDescribeParametersAndBuckets) {
  HistogramBase* histogram = LinearHistogram::FactoryGet("Values", 1, 3, 4, 0);
  histogram->AddCount(0, 2);
  histogram->AddCount(2, 1);
  histogram->AddCount(500, 3);
  DictionaryValue params;
  histogram->GetParameters(&params);
  std::string type;
  int minimum = 0, maximum = 0, bucket_count = 0;
  EXPECT_TRUE(params.GetString("type", &type));
  EXPECT_EQ("LINEAR_HISTOGRAM", type);
  EXPECT_TRUE(params.GetInteger("min", &minimum));
  EXPECT_TRUE(params.GetInteger("max", &maximum));
  EXPECT_TRUE(params.GetInteger("bucket_count", &bucket_count));
  EXPECT_EQ(1, minimum);
  EXPECT_EQ(3, maximum);
  EXPECT_EQ(4, bucket_count);

  HistogramBase::Count count = 0;
  int64_t sum = 0;
  ListValue buckets;
  histogram->GetCountAndBucketData(&count, &sum, &buckets);
  EXPECT_EQ(6, count);
  EXPECT_EQ(2 + 1500, sum);
  ASSERT_EQ(3u, buckets.GetSize());
  const int expected[3][3] = {{0, 1, 2}, {2, 3, 1}, {3, -1, 3}};  // low, high (-1: none), count
  for (size_t i = 0; i < 3; ++i) {
    const Value* entry = nullptr;
    const DictionaryValue* bucket = nullptr;
    ASSERT_TRUE(buckets.Get(i, &entry));
    ASSERT_TRUE(entry->GetAsDictionary(&bucket));
    int low = 0, high = -1, bucket_samples = 0;
    EXPECT_TRUE(bucket->GetInteger("low", &low));
    EXPECT_EQ(expected[i][1] != -1, bucket->GetInteger("high", &high));
    EXPECT_TRUE(bucket->GetInteger("count", &bucket_samples));
    EXPECT_EQ(expected[i][0], low);
    EXPECT_EQ(expected[i][1], high);
    EXPECT_EQ(expected[i][2], bucket_samples);
  }
}

}  // namespace
}  // namespace base
