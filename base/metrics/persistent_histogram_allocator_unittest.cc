#include "base/metrics/persistent_histogram_allocator.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/bucket_range_table.h"
#include "base/metrics/histogram.h"
#include "base/metrics/metrics_test_util.h"
#include "base/metrics/persistent_histogram_test_workload.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/packed_buffer.h"
#include "testing/test_support.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr size_t kSegmentSize = 1 << 20;
constexpr size_t kPageSize = 4096;

// A zeroed segment that lives as long as the process: histograms made in it (including the allocator's own
// result histogram, made once per process) must never point into freed memory.
void* NewSegment(size_t size = kSegmentSize) {
  return new uint64_t[size / sizeof(uint64_t)]();
}

std::unique_ptr<PersistentMemoryAllocator> MemoryOver(void* segment, size_t size = kSegmentSize) {
  return std::make_unique<PersistentMemoryAllocator>(segment, size, std::min(size, kPageSize), false);
}

uint32_t Word(const void* segment, uint32_t offset) {
  uint32_t value;
  memcpy(&value, static_cast<const char*>(segment) + offset, 4);
  return value;
}

// The histogram records of a segment by name.
std::map<std::string, Reference> RecordsByName(PersistentMemoryAllocator* memory) {
  std::map<std::string, Reference> records;
  PersistentMemoryAllocator::Iterator iter(memory);
  while (Reference ref = iter.FindOfType(PersistentHistogramAllocator::kTypeIdHistogram)) {
    const char* record = static_cast<const char*>(memory->GetAsObject(ref, 0, 88));
    records[record + 80] = ref;
  }
  return records;
}

// How often each result was recorded. Read through the histogram itself: a lookup by name would import the
// segment's records, and importing a damaged record records a result of its own.
int ResultCount(HistogramBase* results, int result) {
  return results->SnapshotSamples()->GetCount(result);
}

class PersistentHistogramAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StatisticsRecorder::InitializeForTesting();
    segment_ = NewSegment();
    GlobalHistogramAllocator::Set(std::make_unique<GlobalHistogramAllocator>(MemoryOver(segment_)));
    allocator_ = GlobalHistogramAllocator::Get();
  }
  void TearDown() override { GlobalHistogramAllocator::ReleaseForTesting().release(); }

  void* segment_ = nullptr;
  GlobalHistogramAllocator* allocator_ = nullptr;
};

TEST_F(PersistentHistogramAllocatorTest, RecordsFollowTheDocumentedLayout) {
  HistogramBase* histogram = Histogram::FactoryGet("Exactly20Characters!", 1, 1000, 50, 0x1);
  ASSERT_NE(nullptr, histogram);
  EXPECT_EQ(0x41, histogram->flags());
  PersistentMemoryAllocator* memory = allocator_->memory_allocator();
  std::map<std::string, Reference> records = RecordsByName(memory);
  ASSERT_EQ(1u, records.count("Exactly20Characters!"));
  const Reference record = records["Exactly20Characters!"];
  EXPECT_EQ(120u, Word(segment_, record));  // 80 + 20 + 1 bytes requested
  const char* body = static_cast<const char*>(segment_) + record + 16;
  EXPECT_EQ(0u, Word(body, 0));      // type
  EXPECT_EQ(0x41u, Word(body, 4));   // flags
  EXPECT_EQ(1u, Word(body, 8));
  EXPECT_EQ(1000u, Word(body, 12));
  EXPECT_EQ(50u, Word(body, 16));
  const Reference ranges_ref = Word(body, 20);
  const Reference counts_ref = Word(body, 28);
  EXPECT_EQ(static_cast<Histogram*>(histogram)->bucket_ranges()->checksum(), Word(body, 24));
  // Both arrays come after the record: 400 bytes of counts, then 204 of boundaries.
  EXPECT_EQ(record + 120, counts_ref);
  EXPECT_EQ(400u, memory->GetAllocSize(counts_ref));
  EXPECT_EQ(counts_ref + 416, ranges_ref);
  EXPECT_EQ(224u, Word(segment_, ranges_ref));
  EXPECT_EQ(PersistentHistogramAllocator::kTypeIdCountsArray, Word(segment_, counts_ref + 8));
  EXPECT_EQ(PersistentHistogramAllocator::kTypeIdRangesArray, Word(segment_, ranges_ref + 8));

  // Samples go to the counts array and the header in the record.
  histogram->AddCount(7, 3);
  const int32_t* counts = static_cast<const int32_t*>(memory->GetAsObject(counts_ref, 0, 400));
  const size_t bucket = static_cast<BucketCountVector*>(histogram->SnapshotSamples().get())->GetBucketIndex(7);
  EXPECT_EQ(3, counts[bucket]);
  uint64_t id;
  int64_t sum;
  memcpy(&id, body + 32, 8);
  memcpy(&sum, body + 40, 8);
  EXPECT_EQ(HashMetricName("Exactly20Characters!"), id);
  EXPECT_EQ(21, sum);
  EXPECT_EQ(3u, Word(body, 48));
  // The logged samples live in the second half of the counts array.
  std::unique_ptr<SampleSet> delta = histogram->SnapshotDelta();
  EXPECT_EQ(3, delta->GetCount(7));
  EXPECT_EQ(3, counts[50 + bucket]);
  EXPECT_EQ(0, histogram->SnapshotDelta()->TotalCount());
}

TEST_F(PersistentHistogramAllocatorTest, AnotherAllocatorOverTheSegmentSeesTheSamples) {
  HistogramBase* linear = LinearHistogram::FactoryGet("Shared.Linear", 1, 10, 11, 1);
  HistogramBase* sparse = SparseHistogram::FactoryGet("Shared.Sparse", 1);
  HistogramBase* boolean = BooleanHistogram::FactoryGet("Shared.Boolean", 1);
  HistogramBase* custom = CustomHistogram::FactoryGet("Shared.Custom", {5, 10}, 1);
  linear->AddCount(4, 2);
  sparse->AddCount(-9, 5);
  boolean->AddCount(1, 6);
  custom->AddCount(7, 8);

  // As another process would: its own allocator objects over the same memory.
  PersistentHistogramAllocator other(MemoryOver(segment_));
  std::map<std::string, Reference> records = RecordsByName(other.memory_allocator());
  std::unique_ptr<HistogramBase> other_linear = other.GetHistogram(records["Shared.Linear"]);
  std::unique_ptr<HistogramBase> other_sparse = other.GetHistogram(records["Shared.Sparse"]);
  std::unique_ptr<HistogramBase> other_boolean = other.GetHistogram(records["Shared.Boolean"]);
  std::unique_ptr<HistogramBase> other_custom = other.GetHistogram(records["Shared.Custom"]);
  ASSERT_TRUE(other_linear && other_sparse && other_boolean && other_custom);
  EXPECT_EQ(LINEAR_HISTOGRAM, other_linear->GetHistogramType());
  EXPECT_EQ(SPARSE_HISTOGRAM, other_sparse->GetHistogramType());
  EXPECT_EQ(BOOLEAN_HISTOGRAM, other_boolean->GetHistogramType());
  EXPECT_EQ(CUSTOM_HISTOGRAM, other_custom->GetHistogramType());
  EXPECT_TRUE(other_linear->HasConstructionArguments(1, 10, 11));
  EXPECT_TRUE(other_custom->HasConstructionArguments(5, 10, 3));
  EXPECT_EQ(2, other_linear->SnapshotSamples()->GetCount(4));
  EXPECT_EQ(5, other_sparse->SnapshotSamples()->GetCount(-9));
  EXPECT_EQ(6, other_boolean->SnapshotSamples()->GetCount(1));
  EXPECT_EQ(8, other_custom->SnapshotSamples()->GetCount(7));

  // And what it adds is seen here, in the same records.
  other_linear->AddCount(4, 1);
  other_sparse->AddCount(-9, 1);
  other_sparse->AddCount(12, 4);
  EXPECT_EQ(3, linear->SnapshotSamples()->GetCount(4));
  EXPECT_EQ(6, sparse->SnapshotSamples()->GetCount(-9));
  EXPECT_EQ(4, sparse->SnapshotSamples()->GetCount(12));
  EXPECT_EQ(10, sparse->SnapshotSamples()->TotalCount());
}

TEST_F(PersistentHistogramAllocatorTest, RecordsMadeElsewhereAreImportedOnLookup) {
  // Another process makes and publishes a histogram.
  PersistentHistogramAllocator other(MemoryOver(segment_));
  auto ranges = std::make_unique<BucketRangeTable>(11);
  Histogram::InitializeBucketRanges(1, 100, ranges.get());
  Reference ref = 0;
  std::unique_ptr<HistogramBase> made =
      other.AllocateHistogram(HISTOGRAM, "Elsewhere", 1, 100, ranges.get(), 1, &ref);
  ASSERT_NE(nullptr, made);
  ASSERT_NE(0u, ref);
  made->AddCount(42, 9);
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Elsewhere"));  // not yet published
  other.FinalizeHistogram(ref, true);

  HistogramBase* found = StatisticsRecorder::FindHistogram("Elsewhere");
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(0x41, found->flags());
  EXPECT_EQ(9, found->SnapshotSamples()->GetCount(42));
  // The factory now returns the imported one.
  EXPECT_EQ(found, Histogram::FactoryGet("Elsewhere", 1, 100, 10, 1));
  EXPECT_EQ(found, StatisticsRecorder::FindHistogram("Elsewhere"));
}

TEST_F(PersistentHistogramAllocatorTest, AbandonedRecordIsNotFound) {
  PersistentHistogramAllocator other(MemoryOver(segment_));
  Reference ref = 0;
  std::unique_ptr<HistogramBase> made = other.AllocateHistogram(SPARSE_HISTOGRAM, "Lost", 0, 0, nullptr, 1, &ref);
  ASSERT_NE(nullptr, made);
  other.FinalizeHistogram(ref, false);
  EXPECT_EQ(0u, Word(segment_, ref + 8));
  EXPECT_EQ(0u, RecordsByName(allocator_->memory_allocator()).count("Lost"));
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Lost"));
}

// Makes a published record of an exponential histogram and returns its boundary array and record.
struct MadeRecord {
  Reference ref;
  char* body;
  int32_t* ranges;
};
MadeRecord MakeRecord(PersistentHistogramAllocator* allocator, const std::string& name) {
  auto table = std::make_unique<BucketRangeTable>(11);
  Histogram::InitializeBucketRanges(1, 100, table.get());
  MadeRecord made{};
  std::unique_ptr<HistogramBase> histogram =
      allocator->AllocateHistogram(HISTOGRAM, name, 1, 100, table.get(), 1, &made.ref);
  EXPECT_NE(nullptr, histogram);
  PersistentMemoryAllocator* memory = allocator->memory_allocator();
  made.body = static_cast<char*>(memory->GetAsObject(made.ref, 0, 88));
  made.ranges = static_cast<int32_t*>(memory->GetAsObject(Word(made.body, 20), 0, 44));
  allocator->FinalizeHistogram(made.ref, true);
  return made;
}

TEST_F(PersistentHistogramAllocatorTest, DamagedBoundariesAreRefused) {
  PersistentHistogramAllocator other(MemoryOver(segment_));
  EXPECT_NE(nullptr, other.GetHistogram(MakeRecord(allocator_, "Fine").ref));
  HistogramBase* results = StatisticsRecorder::FindHistogram("UMA.CreatePersistentHistogram.Result");
  ASSERT_NE(nullptr, results);
  const int before = ResultCount(results, 3);
  MadeRecord unordered = MakeRecord(allocator_, "Unordered");
  unordered.ranges[4] = unordered.ranges[3];
  EXPECT_EQ(nullptr, other.GetHistogram(unordered.ref));

  MadeRecord bad_checksum = MakeRecord(allocator_, "BadChecksum");
  bad_checksum.ranges[4] += 1;  // still rising
  EXPECT_EQ(nullptr, other.GetHistogram(bad_checksum.ref));

  // Rising, matching checksum, but ending below 0x7fffffff: a large sample would fall outside the table.
  MadeRecord short_table = MakeRecord(allocator_, "ShortTable");
  short_table.ranges[10] = 1000;
  auto table = std::make_unique<BucketRangeTable>(11);
  for (int i = 0; i <= 10; ++i)
    table->set_range(i, short_table.ranges[i]);
  const uint32_t checksum = table->CalculateChecksum();
  memcpy(short_table.body + 24, &checksum, 4);
  EXPECT_EQ(nullptr, other.GetHistogram(short_table.ref));

  EXPECT_EQ(before + 3, ResultCount(results, 3));
}

TEST_F(PersistentHistogramAllocatorTest, NameWithoutTerminatorInTheBlockIsRefused) {
  PersistentHistogramAllocator other(MemoryOver(segment_));
  PersistentMemoryAllocator* memory = allocator_->memory_allocator();
  const Reference ref = memory->Allocate(80 + 8, PersistentHistogramAllocator::kTypeIdHistogram);
  char* body = static_cast<char*>(memory->GetAsObject(ref, 0, 88));
  ASSERT_NE(nullptr, body);
  const size_t usable = memory->GetAllocSize(ref);
  memset(body + 80, 'x', usable - 80);  // fills the block to its last byte
  const int32_t sparse = SPARSE_HISTOGRAM;
  memcpy(body, &sparse, 4);
  EXPECT_NE(nullptr, other.GetHistogram(MakeRecord(allocator_, "Fine").ref));
  HistogramBase* results = StatisticsRecorder::FindHistogram("UMA.CreatePersistentHistogram.Result");
  ASSERT_NE(nullptr, results);
  const int before = ResultCount(results, 2);
  EXPECT_EQ(nullptr, other.GetHistogram(ref));
  EXPECT_EQ(before + 1, ResultCount(results, 2));
  body[usable - 1] = '\0';
  EXPECT_NE(nullptr, other.GetHistogram(ref));
}

TEST_F(PersistentHistogramAllocatorTest, FirstSampleRecordOfAValueWinsEverywhere) {
  PersistentHistogramAllocator other(MemoryOver(segment_));
  const uint64_t id = HashMetricName("TwoRecords");
  // Two records of value 5 for the same map, as two racing processes would leave them.
  PersistentSampleMapRecords* records = other.UseSampleMapRecords(id, this);
  const Reference first = records->CreateNew(5);
  const Reference second = records->CreateNew(5);
  records->Release(this);
  ASSERT_TRUE(first && second && first < second);

  HistogramBase* here = SparseHistogram::FactoryGet("TwoRecords", 1);
  here->AddCount(5, 3);
  std::unique_ptr<HistogramBase> there = other.GetHistogram(RecordsByName(other.memory_allocator())["TwoRecords"]);
  ASSERT_NE(nullptr, there);
  there->AddCount(5, 4);
  PersistentMemoryAllocator* memory = allocator_->memory_allocator();
  const auto* first_record = static_cast<const PersistentSampleRecord*>(memory->GetAsObject(first, 0, 16));
  const auto* second_record = static_cast<const PersistentSampleRecord*>(memory->GetAsObject(second, 0, 16));
  EXPECT_EQ(id, first_record->id);
  EXPECT_EQ(7, first_record->count);
  EXPECT_EQ(0, second_record->count);
  EXPECT_EQ(7, here->SnapshotSamples()->GetCount(5));
  EXPECT_EQ(7, there->SnapshotSamples()->GetCount(5));
}

TEST_F(PersistentHistogramAllocatorTest, SparseSamplesWiderThanOneValueStopTheImport) {
  HistogramBase* sparse = SparseHistogram::FactoryGet("Wide", 1);
  PackedBuffer buffer;
  buffer.WriteInt64(10);
  buffer.WriteInt(2);
  for (int32_t field : {3, 4, 1, 5, 7, 1, 9, 10, 1})  // the middle bucket spans two values
    buffer.WriteInt(field);
  PackedBufferReader reader(buffer);
  EXPECT_FALSE(sparse->AddSamplesFromBuffer(&reader));
  std::unique_ptr<SampleSet> snapshot = sparse->SnapshotSamples();
  EXPECT_EQ(1, snapshot->GetCount(3));
  EXPECT_EQ(0, snapshot->GetCount(5));
  EXPECT_EQ(0, snapshot->GetCount(9));
}

TEST(PersistentHistogramAllocatorFullTest, FullSegmentFallsBackToTheHeap) {
  StatisticsRecorder::InitializeForTesting();
  constexpr size_t kSmall = 2048;
  void* segment = NewSegment(kSmall);
  GlobalHistogramAllocator::Set(std::make_unique<GlobalHistogramAllocator>(MemoryOver(segment, kSmall)));
  // The allocator's result histogram and a sparse one fit; a histogram of 200 buckets does not.
  HistogramBase* sparse = SparseHistogram::FactoryGet("Small.Sparse", 1);
  EXPECT_EQ(0x41, sparse->flags());
  HistogramBase* large = Histogram::FactoryGet("Small.Large", 1, 100000, 200, 1);
  ASSERT_NE(nullptr, large);
  EXPECT_EQ(0x1, large->flags());
  EXPECT_TRUE(GlobalHistogramAllocator::Get()->memory_allocator()->IsFull());
  HistogramBase* results = StatisticsRecorder::FindHistogram("UMA.CreatePersistentHistogram.Result");
  ASSERT_NE(nullptr, results);
  EXPECT_GE(ResultCount(results, 6), 1);
  large->AddCount(50, 2);
  EXPECT_EQ(2, large->SnapshotSamples()->GetCount(50));

  // New values of the sparse histogram keep being counted, in this process, once records no longer fit.
  for (int value = 0; value < 200; ++value)
    sparse->AddCount(value, value + 1);
  std::unique_ptr<SampleSet> snapshot = sparse->SnapshotSamples();
  for (int value = 0; value < 200; ++value)
    EXPECT_EQ(value + 1, snapshot->GetCount(value));
  EXPECT_FALSE(GlobalHistogramAllocator::Get()->memory_allocator()->IsCorrupt());
  GlobalHistogramAllocator::ReleaseForTesting().release();
}

// The two-process test: this process and persistent_histogram_test_child.exe share one mapped file and add
// to the same histograms at the same time; testdata_check.sh then checks the file from Linux.
TEST(PersistentHistogramTwoProcessTest, ProcessesSharingAMappedFileCountTogether) {
  std::vector<metrics_test::WorkloadHistogram> workload;
  ASSERT_TRUE(metrics_test::ParseWorkload(metrics_test::ReadTestData(L"workload.txt"), &workload));
  const std::wstring data_dir = test_support::TestDataDir();
  const std::wstring segment_path = data_dir + L"\\shared_segment.bin";
  test_support::ScopedTestHandle file(CreateFileW(segment_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
  ASSERT_TRUE(file.valid());
  const std::wstring mapping_name = test_support::UniqueName(L"Local\\HistogramSegment");
  test_support::ScopedTestHandle mapping(
      CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, kSegmentSize, mapping_name.c_str()));
  ASSERT_TRUE(mapping.valid());
  // Mapped for the rest of the process: histograms made in it live as long.
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kSegmentSize);
  ASSERT_NE(nullptr, view);

  StatisticsRecorder::InitializeForTesting();
  GlobalHistogramAllocator::Set(std::make_unique<GlobalHistogramAllocator>(MemoryOver(view)));
  std::vector<HistogramBase*> histograms(workload.size(), nullptr);
  for (size_t i = 0; i < workload.size(); ++i) {
    if (workload[i].parent.empty())
      continue;
    histograms[i] = metrics_test::MakeWorkloadHistogram(workload[i]);
    ASSERT_NE(nullptr, histograms[i]);
    ASSERT_TRUE(histograms[i]->flags() & HistogramBase::kIsPersistent) << workload[i].name;
  }

  const std::wstring ready_name = test_support::UniqueName(L"Local\\HistogramChildReady");
  const std::wstring start_name = test_support::UniqueName(L"Local\\HistogramStart");
  test_support::ScopedTestHandle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  test_support::ScopedTestHandle start(CreateEventW(nullptr, TRUE, FALSE, start_name.c_str()));
  std::wstring command_line = L"\"" + test_support::ExecutableDir() + L"\\persistent_histogram_test_child.exe\" \"" +
                              data_dir + L"\\workload.txt\" " + mapping_name + L" " +
                              std::to_wstring(kSegmentSize) + L" " + ready_name + L" " + start_name;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  test_support::ScopedTestHandle child(process.hProcess);
  CloseHandle(process.hThread);

  // Both processes add at the same time once the child has found every histogram.
  HANDLE ready_or_gone[] = {ready.get(), child.get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, ready_or_gone, FALSE, 120000));
  SetEvent(start.get());
  for (size_t i = 0; i < workload.size(); ++i) {
    if (histograms[i])
      metrics_test::AddWorkloadSamples(histograms[i], workload[i].parent);
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 120000));
  DWORD exit_code = 1;
  ASSERT_TRUE(GetExitCodeProcess(child.get(), &exit_code));
  ASSERT_EQ(0u, exit_code);

  for (size_t i = 0; i < workload.size(); ++i) {
    const metrics_test::WorkloadHistogram& entry = workload[i];
    HistogramBase* histogram = StatisticsRecorder::FindHistogram(entry.name);
    ASSERT_NE(nullptr, histogram) << entry.name;
    if (histograms[i]) {
      EXPECT_EQ(histograms[i], histogram);
    }
    // What both processes added, value by value (bucketed kinds clamp first).
    std::map<int32_t, int64_t> expected;
    for (const metrics_test::WorkloadSamples* samples : {&entry.parent, &entry.child}) {
      for (const auto& [value, count] : *samples) {
        int32_t recorded = value;
        if (entry.kind != "sparse")
          recorded = std::min(std::max(value, 0), HistogramBase::kSampleType_MAX);
        expected[recorded] += count;
      }
    }
    std::unique_ptr<SampleSet> snapshot = histogram->SnapshotSamples();
    int64_t total = 0;
    int64_t sum = 0;
    for (const auto& [value, count] : expected) {
      total += count;
      sum += int64_t{value} * count;
      if (entry.kind == "sparse") {
        EXPECT_EQ(count, snapshot->GetCount(value)) << entry.name << " " << value;
      }
    }
    EXPECT_EQ(total, snapshot->TotalCount()) << entry.name;
    EXPECT_EQ(total, snapshot->redundant_count()) << entry.name;
    EXPECT_EQ(sum, snapshot->sum()) << entry.name;
    EXPECT_EQ(0u, histogram->FindCorruption(*snapshot)) << entry.name;
  }
  EXPECT_FALSE(GlobalHistogramAllocator::Get()->memory_allocator()->IsCorrupt());
  ASSERT_TRUE(FlushViewOfFile(view, 0));
}

}  // namespace
}  // namespace base
