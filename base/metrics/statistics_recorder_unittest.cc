#include "base/metrics/statistics_recorder.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/metrics/bucket_range_table.h"
#include "base/metrics/histogram.h"
#include "base/metrics/metrics_test_util.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/sparse_histogram.h"

namespace base {
namespace {

using metrics_test::MakeTable;

std::vector<HistogramBase::Sample>* g_callback_samples = nullptr;

void RecordSample(HistogramBase::Sample sample) {
  g_callback_samples->push_back(sample);
}

// A histogram that tells when it is deleted.
class WatchedHistogram : public HistogramBase {
 public:
  WatchedHistogram(const std::string& name, bool* deleted) : HistogramBase(name), deleted_(deleted) {}
  ~WatchedHistogram() override { *deleted_ = true; }

  uint64_t name_hash() const override { return 0; }
  HistogramType GetHistogramType() const override { return SPARSE_HISTOGRAM; }
  bool HasConstructionArguments(Sample, Sample, uint32_t) const override { return false; }
  void AddCount(Sample, int) override {}
  void AddSamples(const SampleSet&) override {}
  bool AddSamplesFromBuffer(PackedBufferReader*) override { return false; }
  std::unique_ptr<SampleSet> SnapshotSamples() const override { return nullptr; }
  std::unique_ptr<SampleSet> SnapshotDelta() override { return nullptr; }
  void WriteHTMLGraph(std::string*) const override {}
  void WriteAscii(std::string*) const override {}
  bool SerializeInfo(PackedBuffer*) const override { return false; }
  void GetParameters(DictionaryValue*) const override {}
  void GetCountAndBucketData(Count*, int64_t*, ListValue*) const override {}

 private:
  bool* const deleted_;
};

TEST(StatisticsRecorderTest, SecondHistogramOfARegisteredNameIsDeleted) {
  StatisticsRecorder::InitializeForTesting();
  bool first_deleted = false;
  bool second_deleted = false;
  auto* first = new WatchedHistogram("Watched", &first_deleted);
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(first));
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(first));  // itself again: kept
  EXPECT_FALSE(first_deleted);
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(new WatchedHistogram("Watched", &second_deleted)));
  EXPECT_TRUE(second_deleted);
  EXPECT_FALSE(first_deleted);
  EXPECT_EQ(first, StatisticsRecorder::FindHistogram("Watched"));
}

TEST(StatisticsRecorderTest, WithoutRegistryEveryFactoryCallMakesANewHistogram) {
  EXPECT_FALSE(StatisticsRecorder::IsActive());
  HistogramBase* first = LinearHistogram::FactoryGet("Brumel.MessageLoopProblem", 1, 3, 4, 1);
  HistogramBase* second = LinearHistogram::FactoryGet("Brumel.MessageLoopProblem", 1, 3, 4, 1);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  // Not even other arguments are refused: nothing remembers the name.
  EXPECT_NE(nullptr, LinearHistogram::FactoryGet("Brumel.MessageLoopProblem", 1, 3, 9, 1));
  EXPECT_NE(SparseHistogram::FactoryGet("Sparse", 1), SparseHistogram::FactoryGet("Sparse", 1));
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Brumel.MessageLoopProblem"));
  EXPECT_TRUE(StatisticsRecorder::FindCallback("Brumel.MessageLoopProblem").is_null());
  // Two equal tables stay two tables.
  std::unique_ptr<BucketRangeTable> a = MakeTable({0, 1, 2, 0x7fffffff});
  std::unique_ptr<BucketRangeTable> b = MakeTable({0, 1, 2, 0x7fffffff});
  EXPECT_EQ(b.get(), StatisticsRecorder::RegisterOrDeleteDuplicateRanges(b.get()));
  EXPECT_EQ(a.get(), StatisticsRecorder::RegisterOrDeleteDuplicateRanges(a.get()));
}

TEST(StatisticsRecorderTest, WithRegistryANameHasOneHistogram) {
  StatisticsRecorder::InitializeForTesting();
  EXPECT_TRUE(StatisticsRecorder::IsActive());
  HistogramBase* first = Histogram::FactoryGet("Settings.JsonDataReadSizeKilobytes.x", 1, 10000, 50, 1);
  HistogramBase* second = Histogram::FactoryGet("Settings.JsonDataReadSizeKilobytes.x", 1, 10000, 50, 1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, StatisticsRecorder::FindHistogram("Settings.JsonDataReadSizeKilobytes.x"));
  EXPECT_EQ(nullptr, Histogram::FactoryGet("Settings.JsonDataReadSizeKilobytes.x", 1, 10000, 49, 1));
  EXPECT_EQ(nullptr, Histogram::FactoryGet("Settings.JsonDataReadSizeKilobytes.x", 2, 10000, 50, 1));
  // A name is looked up exactly: a prefix or a longer name is another histogram.
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Settings.JsonDataReadSizeKilobytes."));
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Settings.JsonDataReadSizeKilobytes.xy"));
  // Sparse histograms have no construction arguments to compare.
  HistogramBase* sparse = SparseHistogram::FactoryGet("PlatformFile.UnknownErrors.Windows", 1);
  EXPECT_EQ(sparse, SparseHistogram::FactoryGet("PlatformFile.UnknownErrors.Windows", 1));
}

TEST(StatisticsRecorderTest, HistogramsWithEqualBoundariesShareOneTable) {
  StatisticsRecorder::InitializeForTesting();
  auto* a = static_cast<Histogram*>(LinearHistogram::FactoryGet("Shared.A", 1, 6, 7, 1));
  auto* b = static_cast<Histogram*>(LinearHistogram::FactoryGet("Shared.B", 1, 6, 7, 1));
  auto* c = static_cast<Histogram*>(LinearHistogram::FactoryGet("Shared.C", 1, 7, 7, 1));
  EXPECT_EQ(a->bucket_ranges(), b->bucket_ranges());
  EXPECT_NE(a->bucket_ranges(), c->bucket_ranges());
}

TEST(StatisticsRecorderTest, TablesAreSharedOnlyWhenEveryBoundaryIsEqual) {
  StatisticsRecorder::InitializeForTesting();
  const BucketRangeTable* first = StatisticsRecorder::RegisterOrDeleteDuplicateRanges(
      MakeTable({0, 1, 5, 0x7fffffff}).release());
  // An equal table is deleted in favour of the first.
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(MakeTable({0, 1, 5, 0x7fffffff}).release()));
  // Same checksum, other boundaries: a second entry of the same list.
  std::unique_ptr<BucketRangeTable> colliding = MakeTable({0, 1, 6, 0x7fffffff});
  colliding->set_checksum(first->checksum());
  const BucketRangeTable* colliding_ptr = colliding.get();
  EXPECT_EQ(colliding_ptr, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(colliding.release()));
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(MakeTable({0, 1, 5, 0x7fffffff}).release()));
  std::unique_ptr<BucketRangeTable> again = MakeTable({0, 1, 6, 0x7fffffff});
  again->set_checksum(first->checksum());
  EXPECT_EQ(colliding_ptr, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(again.release()));
}

TEST(StatisticsRecorderTest, CallbacksGetEverySampleOfTheirName) {
  StatisticsRecorder::InitializeForTesting();
  std::vector<HistogramBase::Sample> samples;
  g_callback_samples = &samples;
  StatisticsRecorder::SetCallbackForTesting("Callback.Bucketed", Bind(&RecordSample));
  StatisticsRecorder::SetCallbackForTesting("Callback.Sparse", Bind(&RecordSample));
  HistogramBase* bucketed = Histogram::FactoryGet("Callback.Bucketed", 1, 100, 10, 1);
  HistogramBase* sparse = SparseHistogram::FactoryGet("Callback.Sparse", 1);
  EXPECT_EQ(0x21, bucketed->flags());
  EXPECT_EQ(0x21, sparse->flags());
  bucketed->Add(-4);             // clamped first
  bucketed->AddCount(7, 3);      // one call per AddCount
  bucketed->AddCount(7, 0);      // ignored
  sparse->Add(-4);               // exact
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 7, -4}), samples);
  EXPECT_FALSE(StatisticsRecorder::FindCallback("Callback.Sparse").is_null());

  // An empty entry turns the flag off again, also for a histogram registered later.
  StatisticsRecorder::SetCallbackForTesting("Callback.Bucketed", StatisticsRecorder::OnSampleCallback());
  EXPECT_EQ(0x1, bucketed->flags());
  bucketed->Add(9);
  EXPECT_EQ(3u, samples.size());
  StatisticsRecorder::SetCallbackForTesting("Callback.Late", StatisticsRecorder::OnSampleCallback());
  HistogramBase* late = Histogram::FactoryGet("Callback.Late", 1, 100, 10, 0x21);
  EXPECT_EQ(0x1, late->flags());
  g_callback_samples = nullptr;
}

}  // namespace
}  // namespace base
