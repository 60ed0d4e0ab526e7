#include "base/files/important_file_writer.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_test_util.h"
#include "base/files/important_file_writer_test_content.h"
#include "base/json/json_reader.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/statistics_recorder.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/run_loop.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/values.h"
#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace base {
namespace {

using file_test::ReadText;
using file_test::ScopedTestDir;
using file_test::WriteText;

// Samples of "ImportantFile.TempFileFailures".
constexpr int kCreateFailed = 0;
constexpr int kRenameFailed = 4;

int TempFileFailures(int sample) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram("ImportantFile.TempFileFailures");
  return histogram ? histogram->SnapshotSamples()->GetCount(sample) : 0;
}

// The names in `dir`, read with the system's own search.
std::vector<std::wstring> FolderEntries(const FilePath& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(dir.Append(L"*").value().c_str(), &data);
  if (find == INVALID_HANDLE_VALUE)
    return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..")
      names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

// A serializer that hands out "data <n>" with a fresh n for every call, or fails when told to.
class CountingSerializer : public ImportantFileWriter::DataSerializer {
 public:
  bool SerializeData(std::string* data) override {
    ++calls_;
    *data = "data " + std::to_string(calls_);
    return succeed_;
  }
  int calls() const { return calls_; }
  void set_succeed(bool succeed) { succeed_ = succeed; }

 private:
  int calls_ = 0;
  bool succeed_ = true;
};

class ImportantFileWriterTest : public testing::Test {
 protected:
  void SetUp() override { StatisticsRecorder::InitializeForTesting(); }

  FilePath target() const { return dir_.Append(L"prefs.json"); }

  ScopedTestDir dir_;
};

TEST_F(ImportantFileWriterTest, WriteFileAtomicallyCreatesAndReplacesLeavingOnlyTheTarget) {
  for (const char* content : {"first", "second, longer", ""}) {
    ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(target(), content));
    EXPECT_EQ(content, ReadText(target()));
  }
  EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"}, FolderEntries(dir_.path()));

  // Targets up to the system's limit on paths, where a temporary name beside them would pass it.
  const size_t folder_length = dir_.path().value().size() + 1;
  ASSERT_LT(folder_length + 20, 240u);
  for (size_t length = 240; length < MAX_PATH; ++length) {
    const FilePath long_target = dir_.Append(std::wstring(length - folder_length, L'p'));
    ASSERT_EQ(length, long_target.value().size());
    ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(long_target, "long")) << length;
    EXPECT_EQ("long", ReadText(long_target));
    const std::vector<std::wstring> entries = FolderEntries(dir_.path());
    EXPECT_EQ((std::set<std::wstring>{L"prefs.json", long_target.BaseName().value()}),
              std::set<std::wstring>(entries.begin(), entries.end()));
    ASSERT_TRUE(::DeleteFileW(long_target.value().c_str()));
  }
}

// The fault table's hooks: a would-be taker of the new temporary file, and the pauses between replacement tries.
bool g_temp_file_taken = false;
void TryToTakeTempFileAway(const FilePath& temp_file) {
  const std::wstring& name = temp_file.value();
  g_temp_file_taken = ::DeleteFileW(name.c_str()) || ::MoveFileW(name.c_str(), (name + L".taken").c_str());
  test_support::ScopedTestHandle writer(
      ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr));
  g_temp_file_taken |= writer.valid();
}
std::vector<unsigned long> g_retry_waits;
test_support::ScopedTestHandle g_reader;  // holds the target open
size_t g_reader_leaves_at = 0;            // the pause after which it closes it; 0: never
void RecordRetryWait(unsigned long milliseconds) {
  g_retry_waits.push_back(milliseconds);
  if (g_retry_waits.size() == g_reader_leaves_at)
    g_reader.reset();
}

// A write that meets a fault keeps one whole version of the target and leaves no temporary file: a failing step is
// counted under its own sample; a temporary file that someone tries to take away stays the write's; a reader holding
// the target only delays the replacement while it holds it, and fails it once the pauses run out.
TEST_F(ImportantFileWriterTest, FaultsDuringAWriteLeaveOneWholeVersionAndNoTemporaryFile) {
  enum Fault { kMissingFolder, kReaderStays, kReaderLeaves, kTempFileTakenAway };
  const struct {
    Fault fault;
    int sample;     // -1: the write succeeds
    size_t pauses;  // before the replacement is tried again
  } kCases[] = {{kMissingFolder, kCreateFailed, 0}, {kReaderStays, kRenameFailed, 7}, {kReaderLeaves, -1, 3},
                {kTempFileTakenAway, -1, 0}};
  ImportantFileWriter::SetRetryWaitHookForTesting(&RecordRetryWait);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(WriteText(target(), "old"));
    g_retry_waits.clear();
    g_temp_file_taken = false;
    if (c.fault == kReaderStays || c.fault == kReaderLeaves) {
      // Another process reads the target without letting it be deleted or renamed.
      g_reader.reset(::CreateFileW(target().value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
      ASSERT_TRUE(g_reader.valid());
      g_reader_leaves_at = c.fault == kReaderLeaves ? c.pauses : 0;
    }
    const FilePath path = c.fault == kMissingFolder ? dir_.Append(L"missing").Append(L"prefs.json") : target();
    const int before = c.sample >= 0 ? TempFileFailures(c.sample) : 0;
    ImportantFileWriter::SetTempFileCreatedHookForTesting(c.fault == kTempFileTakenAway ? &TryToTakeTempFileAway
                                                                                        : nullptr);
    const bool written = ImportantFileWriter::WriteFileAtomically(path, "new");
    ImportantFileWriter::SetTempFileCreatedHookForTesting(nullptr);
    g_reader.reset();
    EXPECT_EQ(c.sample < 0, written);
    if (c.sample >= 0) {
      EXPECT_EQ(before + 1, TempFileFailures(c.sample));
    }
    EXPECT_FALSE(g_temp_file_taken);
    EXPECT_EQ(c.pauses, g_retry_waits.size());
    EXPECT_EQ(written ? "new" : "old", ReadText(target()));
    EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"}, FolderEntries(dir_.path()));
  }
  ImportantFileWriter::SetRetryWaitHookForTesting(nullptr);
}

// Two writes of one file in one process: the second waits until the first has replaced the file, though the first
// holds inside its write, and neither loses its write; the last one started wins.
// The hooks set "inside" once a write has made its temporary file and "waits" when the second waits for the first;
// the first write holds inside until "resume".
enum TurnEvent { kFirstInside, kFirstResume, kSecondInside, kSecondWaits, kTurnEvents };
HANDLE g_turn_events[kTurnEvents];
DWORD g_first_thread = 0;
void HoldFirstWrite(const FilePath&) {
  const bool first = ::GetCurrentThreadId() == g_first_thread;
  ::SetEvent(g_turn_events[first ? kFirstInside : kSecondInside]);
  if (first)
    ::WaitForSingleObject(g_turn_events[kFirstResume], INFINITE);
}
void NoteSecondWaits(const FilePath&) { ::SetEvent(g_turn_events[kSecondWaits]); }

TEST_F(ImportantFileWriterTest, TwoWritesOfOneFileInOneProcessTakeTurns) {
  test_support::ScopedTestHandle events[kTurnEvents];
  for (int i = 0; i < kTurnEvents; ++i) {
    events[i].reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(events[i].valid());
    g_turn_events[i] = events[i].get();
  }
  ASSERT_TRUE(WriteText(target(), "old"));
  ImportantFileWriter::SetTempFileCreatedHookForTesting(&HoldFirstWrite);
  ImportantFileWriter::SetPathBusyHookForTesting(&NoteSecondWaits);
  bool first_written = false;
  bool second_written = false;
  std::thread first([&] {
    g_first_thread = ::GetCurrentThreadId();  // before it writes: the hook tells the threads apart by it
    first_written = ImportantFileWriter::WriteFileAtomically(target(), "first");
  });
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(g_turn_events[kFirstInside], 60000));
  // Spelled otherwise, the path is still the same file.
  std::wstring upper = dir_.path().value() + L"/PREFS.JSON";
  ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  std::thread second([&] { second_written = ImportantFileWriter::WriteFileAtomically(FilePath(upper), "second"); });
  HANDLE outcomes[] = {g_turn_events[kSecondWaits], g_turn_events[kSecondInside]};
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(2, outcomes, FALSE, 60000))
      << "the second write went ahead while the first was inside its write";
  EXPECT_EQ(2u, FolderEntries(dir_.path()).size()) << "the target and the first write's temporary file, no other";
  ::SetEvent(g_turn_events[kFirstResume]);
  first.join();
  second.join();
  ImportantFileWriter::SetTempFileCreatedHookForTesting(nullptr);
  ImportantFileWriter::SetPathBusyHookForTesting(nullptr);
  EXPECT_TRUE(first_written);
  EXPECT_TRUE(second_written);
  EXPECT_EQ("second", ReadText(target()));
  EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"}, FolderEntries(dir_.path()));
}

TEST_F(ImportantFileWriterTest, SuccessfulWriteRemovesOnlyAbandonedTemporaryFilesOfItsTarget) {
  const std::vector<std::wstring> abandoned = {L"prefs.json~0123ABCD.tmp", L"PREFS.JSON~deadbeef.TMP"};
  const std::vector<std::wstring> foreign = {L"prefs.json~0123ABC.tmp",  L"prefs.json~0123ABCDE.tmp",
                                             L"prefs.json~0123ABCG.tmp", L"other.json~0123ABCD.tmp",
                                             L"0123.tmp",                L"prefs.json.tmp"};
  for (const std::wstring& name : abandoned)
    ASSERT_TRUE(WriteText(dir_.Append(name), "stale"));
  for (const std::wstring& name : foreign)
    ASSERT_TRUE(WriteText(dir_.Append(name), "keep"));
  // A temporary file that a live writer holds open must survive the sweep.
  const FilePath live = dir_.Append(L"prefs.json~11111111.tmp");
  ASSERT_TRUE(WriteText(live, "live"));
  test_support::ScopedTestHandle live_holder(::CreateFileW(live.value().c_str(), GENERIC_WRITE,
                                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                           OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(live_holder.valid());

  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(target(), "data"));

  for (const std::wstring& name : abandoned)
    EXPECT_FALSE(file_test::Exists(dir_.Append(name))) << name;
  for (const std::wstring& name : foreign)
    EXPECT_EQ("keep", ReadText(dir_.Append(name))) << name;
  EXPECT_EQ("live", ReadText(live));
  EXPECT_EQ("data", ReadText(target()));
}

TEST_F(ImportantFileWriterTest, DataOfTwoGigabytesIsRefusedBeforeTouchingTheDisk) {
  const char byte = 'x';
  // The size alone decides: nothing is read from the view.
  const StringPiece huge(&byte, static_cast<size_t>(INT_MAX) + 1);
  EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(target(), huge));
  EXPECT_TRUE(FolderEntries(dir_.path()).empty());
}

// The writer object: its timer runs on `owner_` (published as this thread's runner), its file work on
// `file_runner_`; both run only when the test says so.
class ImportantFileWriterSchedulingTest : public ImportantFileWriterTest {
 protected:
  scoped_refptr<ManualTaskRunner> owner_ = MakeRefCounted<ManualTaskRunner>();
  ThreadTaskRunnerHandle owner_handle_{owner_};
  scoped_refptr<ManualTaskRunner> file_runner_ = MakeRefCounted<ManualTaskRunner>();
};

TEST_F(ImportantFileWriterSchedulingTest, RequestsWithinTheDelayMakeOneWriteAtTheFirstDeadline) {
  ImportantFileWriter writer(target(), file_runner_);
  EXPECT_EQ(ImportantFileWriter::kDefaultCommitIntervalMs, writer.commit_interval().InMilliseconds());
  CountingSerializer serializer;
  writer.ScheduleWrite(&serializer);
  // Later requests come at a later time, so that a restarted timer would have a later deadline.
  const TimeTicks first_request = TimeTicks::Now();
  while (TimeTicks::Now() == first_request) {
  }
  for (int i = 1; i < 10; ++i)
    writer.ScheduleWrite(&serializer);
  EXPECT_TRUE(writer.HasPendingWrite());
  EXPECT_EQ(0, serializer.calls());
  // One timer task, due one full delay after the first request; the later ones did not restart it.
  std::deque<ManualTaskRunner::PostedTask> pending = owner_->PendingTasks();
  ASSERT_EQ(1u, pending.size());
  EXPECT_EQ(writer.commit_interval(), pending[0].delay);
  EXPECT_EQ(0u, file_runner_->NumPendingTasks());

  EXPECT_EQ(1u, owner_->RunPendingTasks());
  EXPECT_EQ(1, serializer.calls());
  EXPECT_FALSE(writer.HasPendingWrite());
  pending = file_runner_->PendingTasks();
  ASSERT_EQ(1u, pending.size());
  EXPECT_STREQ("base::ImportantFileWriter::PostWriteTask", pending[0].from_here.function_name());
  EXPECT_FALSE(file_test::Exists(target()));  // written on the file runner, not here
  file_runner_->RunPendingTasks();
  EXPECT_EQ("data 1", ReadText(target()));
  EXPECT_EQ(0u, owner_->NumPendingTasks());
}

// A commit serializes at once and ends the batch whether the serialization succeeds or not: the stopped timer's
// task neither calls the serializer again nor writes. After a failed one, a new batch works normally.
TEST_F(ImportantFileWriterSchedulingTest, CommitSerializesAtOnceAndEndsTheBatch) {
  ImportantFileWriter writer(target(), file_runner_);
  CountingSerializer serializer;
  const bool kSucceed[] = {true, false};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(kSucceed[i] ? "serialized" : "serialization failed");
    serializer.set_succeed(kSucceed[i]);
    writer.ScheduleWrite(&serializer);
    writer.DoScheduledWrite();
    EXPECT_FALSE(writer.HasPendingWrite());
    EXPECT_EQ(i + 1, serializer.calls());
    file_runner_->RunPendingTasks();
    EXPECT_EQ("data 1", ReadText(target()));  // the failed serialization wrote nothing
    owner_->RunPendingTasks();                // the stopped timer's task
    EXPECT_EQ(i + 1, serializer.calls());
    EXPECT_EQ(0u, file_runner_->NumPendingTasks());
  }
  serializer.set_succeed(true);
  writer.ScheduleWrite(&serializer);
  owner_->RunPendingTasks();
  file_runner_->RunPendingTasks();
  EXPECT_EQ("data 3", ReadText(target()));
}

TEST_F(ImportantFileWriterSchedulingTest, WriteNowStopsTheTimerAndWritesHereWhenTheRunnerRefuses) {
  ImportantFileWriter writer(target(), file_runner_);
  CountingSerializer serializer;
  writer.ScheduleWrite(&serializer);
  file_runner_->set_refuse_posts(true);
  writer.WriteNow(std::make_unique<std::string>("direct"));
  EXPECT_FALSE(writer.HasPendingWrite());
  EXPECT_EQ("direct", ReadText(target()));  // written on this thread, at once
  owner_->RunPendingTasks();
  EXPECT_EQ(0, serializer.calls());
}

TEST_F(ImportantFileWriterSchedulingTest, DestructionDropsTheScheduledWriteButNotAPostedOne) {
  CountingSerializer serializer;
  {
    ImportantFileWriter writer(target(), file_runner_);
    writer.ScheduleWrite(&serializer);
  }
  owner_->RunPendingTasks();
  EXPECT_EQ(0, serializer.calls());
  EXPECT_EQ(0u, file_runner_->NumPendingTasks());

  {
    ImportantFileWriter writer(target(), file_runner_);
    writer.WriteNow(std::make_unique<std::string>("posted"));
  }
  // The posted write owns its path and data.
  file_runner_->RunPendingTasks();
  EXPECT_EQ("posted", ReadText(target()));
}

// A serializer that ends a run loop when it is asked for the data.
class QuittingSerializer : public CountingSerializer {
 public:
  explicit QuittingSerializer(RunLoop* run_loop) : run_loop_(run_loop) {}
  bool SerializeData(std::string* data) override {
    run_loop_->Quit();
    return CountingSerializer::SerializeData(data);
  }

 private:
  RunLoop* run_loop_;
};

TEST_F(ImportantFileWriterTest, TimerOnARealLoopWritesOnceThroughAPoolSequence) {
  MessageLoop loop;
  auto pool = MakeRefCounted<SequencedWorkerPool>(1, "WriterTestPool");
  scoped_refptr<SequencedTaskRunner> runner =
      pool->GetSequencedTaskRunnerWithShutdownBehavior(pool->GetNamedSequenceToken("writer"),
                                                       SequencedWorkerPool::BLOCK_SHUTDOWN);
  const TimeDelta delay = TimeDelta::FromMilliseconds(50);
  {
    ImportantFileWriter writer(target(), runner, delay);
    RunLoop run_loop;
    QuittingSerializer serializer(&run_loop);
    const TimeTicks first_request = TimeTicks::Now();
    for (int i = 0; i < 10; ++i)
      writer.ScheduleWrite(&serializer);
    run_loop.Run();  // until the timer asks for the data
    EXPECT_GE(TimeTicks::Now() - first_request, delay);
    EXPECT_EQ(1, serializer.calls());
    EXPECT_FALSE(writer.HasPendingWrite());
  }
  pool->Shutdown(0);  // the posted write blocks shutdown until it is done
  EXPECT_EQ("data 1", ReadText(target()));
  runner = nullptr;
  pool = nullptr;
}

// Crash safety: a child process writes 1 MiB generations of the file in a loop and is killed, in turn, while a
// write holds right after making its temporary file, at a random moment counted from the start of a write, and
// at a random moment counted from the end of one. After every kill the file must be one complete generation, and
// the next successful write must leave no temporary file behind.
class ImportantFileWriterCrashTest : public ImportantFileWriterTest {
 protected:
  // Where a round's kill lands.
  enum class Kill {
    kHeldAfterTempCreated,  // the write holds in the hook, its temporary file made and still empty
    kFromTheStartOfAWrite,  // a random moment within one write's length after the hook let it go on
    kFromTheEndOfAWrite,    // a random moment within two writes' length after a completed write
  };

  void SetUp() override {
    ImportantFileWriterTest::SetUp();
    job_.reset(::CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job_.valid());
    // Children die with the test, whatever happens to it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)));
  }

  // The generation in the file, checked to be complete; -1 (and a test failure) otherwise. A writer's handle
  // that has just renamed its file over the target may delete it (and so lets in only openers that share
  // deletion) until it is closed, a moment later, as the system's own move does: that open is tried again.
  int64_t ReadGeneration() {
    std::string bytes;
    bool read = false;
    for (int attempt = 0; attempt < 10000 && !read; ++attempt) {
      read = test_support::ReadFileBytes(target().value(), &bytes);
      if (!read && ::GetLastError() != ERROR_SHARING_VIOLATION)
        break;
    }
    if (!read) {
      ADD_FAILURE() << "the target cannot be read: system error " << ::GetLastError();
      return -1;
    }
    std::unique_ptr<Value> root = JsonReader::Read(bytes);
    const DictionaryValue* dictionary = nullptr;
    int generation = -1;
    if (!root || !root->GetAsDictionary(&dictionary) || !dictionary->GetInteger("generation", &generation)) {
      ADD_FAILURE() << "the target does not parse (" << bytes.size() << " bytes)";
      return -1;
    }
    if (bytes != important_file_test::MakeGenerationContent(static_cast<uint32_t>(generation))) {
      ADD_FAILURE() << "the target is not generation " << generation << " exactly";
      return -1;
    }
    return generation;
  }

  // Starts the child in the job and waits until it has written generation `first` and is waiting for "go". A
  // child started with `hold` waits in each later write for "<names_prefix>_resume", one with `turns` for "go"
  // before each.
  Process StartChild(uint32_t first, HANDLE ready, const std::wstring& names_prefix, bool hold, bool turns = false) {
    std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\important_file_writer_test_child.exe\"" +
                           L" --target=\"" + target().value() + L"\" --first=" + std::to_wstring(first) +
                           L" --ready=" + names_prefix + L"_ready --go=" + names_prefix + L"_go --created=" +
                           names_prefix + L"_created --progress=" + names_prefix + L"_progress";
    if (hold)
      command += L" --resume=" + names_prefix + L"_resume";
    if (turns)
      command += L" --turns";
    LaunchOptions options;
    options.job_handle = job_.get();
    Process child = LaunchProcess(command, options);
    if (!child.IsValid()) {
      ADD_FAILURE() << "cannot start the child in the job";
      return child;
    }
    // The limit only guards against a hung child; the wait ends on the event.
    const DWORD result = WaitForEventOrExit(ready, child.Handle());
    if (result != WAIT_OBJECT_0) {
      DWORD exit_code = 0;
      ::GetExitCodeProcess(child.Handle(), &exit_code);
      ADD_FAILURE() << "the child did not get ready: wait " << result << ", exit code " << exit_code;
      return Process();
    }
    return child;
  }

  static DWORD WaitForEventOrExit(HANDLE event, HANDLE process) {
    HANDLE waits[] = {event, process};
    return ::WaitForMultipleObjects(2, waits, FALSE, 120000);
  }

  test_support::ScopedTestHandle job_;
};

TEST_F(ImportantFileWriterCrashTest, KilledWriterLeavesACompleteGeneration) {
  // Every child start costs a wine process start, which a loaded machine makes slow: the kills that hold a
  // write are where they must be without chance, so the random ones need not be many.
  constexpr Kill kKills[] = {Kill::kHeldAfterTempCreated, Kill::kFromTheStartOfAWrite, Kill::kFromTheEndOfAWrite};
  constexpr int kRoundsPerKill = 12;
  const std::wstring prefix = test_support::UniqueName(L"ifw_crash");
  test_support::ScopedTestHandle ready(::CreateEventW(nullptr, FALSE, FALSE, (prefix + L"_ready").c_str()));
  test_support::ScopedTestHandle go(::CreateEventW(nullptr, FALSE, FALSE, (prefix + L"_go").c_str()));
  test_support::ScopedTestHandle created(::CreateEventW(nullptr, FALSE, FALSE, (prefix + L"_created").c_str()));
  test_support::ScopedTestHandle resume(::CreateEventW(nullptr, FALSE, FALSE, (prefix + L"_resume").c_str()));
  ASSERT_TRUE(ready.valid() && go.valid() && created.valid() && resume.valid());

  // How long one write takes here, to spread the random kills over whole writes.
  const std::string generation_zero = important_file_test::MakeGenerationContent(0);
  LARGE_INTEGER start, end;
  ::QueryPerformanceCounter(&start);
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(target(), generation_zero));
  ::QueryPerformanceCounter(&end);
  const int64_t write_ticks = std::max<int64_t>(end.QuadPart - start.QuadPart, 1);

  const uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  int64_t generation = 0;
  int random_kills_during_a_write = 0;
  for (int round = 0; round < kRoundsPerKill * static_cast<int>(std::size(kKills)); ++round) {
    const Kill kill = kKills[round % std::size(kKills)];
    SCOPED_TRACE("round " + std::to_string(round) + ", kill " + std::to_string(static_cast<int>(kill)));
    // A fresh semaphore per round: the killed child's releases must not count for the next one.
    test_support::ScopedTestHandle progress(
        ::CreateSemaphoreW(nullptr, 0, LONG_MAX, (prefix + L"_progress").c_str()));
    ASSERT_TRUE(progress.valid());
    ASSERT_TRUE(::ResetEvent(created.get()) && ::ResetEvent(resume.get()));
    const Process child =
        StartChild(static_cast<uint32_t>(generation + 1), ready.get(), prefix, kill != Kill::kFromTheEndOfAWrite);
    ASSERT_TRUE(child.IsValid());
    // The child's first write succeeded: it is complete and swept every temporary file away.
    ASSERT_EQ(generation + 1, ReadGeneration());
    ASSERT_EQ(std::vector<std::wstring>{L"prefs.json"}, FolderEntries(dir_.path()));
    generation += 1;

    ASSERT_TRUE(::SetEvent(go.get()));
    int completed_writes = 0;
    int64_t spin_ticks = 0;
    if (kill == Kill::kFromTheEndOfAWrite) {
      completed_writes = static_cast<int>(random() % 4);
      for (int i = 0; i < completed_writes; ++i)
        ASSERT_EQ(WAIT_OBJECT_0, WaitForEventOrExit(progress.get(), child.Handle())) << "the child stopped writing";
      spin_ticks = static_cast<int64_t>(random() % static_cast<uint64_t>(2 * write_ticks));
    } else {
      ASSERT_EQ(WAIT_OBJECT_0, WaitForEventOrExit(created.get(), child.Handle())) << "the child stopped writing";
      if (kill == Kill::kFromTheStartOfAWrite) {
        spin_ticks = static_cast<int64_t>(random() % static_cast<uint64_t>(write_ticks));
        ASSERT_TRUE(::SetEvent(resume.get()));
      }
    }
    LARGE_INTEGER now, spin_start;
    ::QueryPerformanceCounter(&spin_start);
    do {
      ::QueryPerformanceCounter(&now);
    } while (now.QuadPart - spin_start.QuadPart < spin_ticks);
    ASSERT_TRUE(child.Terminate(77, /*wait=*/true));
    DWORD exit_code = 0;
    ASSERT_TRUE(::GetExitCodeProcess(child.Handle(), &exit_code));
    ASSERT_EQ(77u, exit_code) << "the child ended on its own, or not at all";

    const int64_t after_kill = ReadGeneration();
    ASSERT_GE(after_kill, generation + completed_writes);
    // Besides the target, only the killed write's own temporary file may be there.
    const std::vector<std::wstring> entries = FolderEntries(dir_.path());
    for (const std::wstring& name : entries) {
      if (name != L"prefs.json") {
        EXPECT_TRUE(name.rfind(L"prefs.json~", 0) == 0 && name.ends_with(L".tmp")) << name;
      }
    }
    ASSERT_LE(entries.size(), 2u);
    if (kill == Kill::kHeldAfterTempCreated) {
      // Killed inside its write: the target is still the generation before it, beside the empty temporary file.
      EXPECT_EQ(generation, after_kill);
      ASSERT_EQ(2u, entries.size());
      const FilePath temp_file = dir_.path().Append(entries[0] == L"prefs.json" ? entries[1] : entries[0]);
      std::string temp_bytes = "unread";
      EXPECT_TRUE(test_support::ReadFileBytes(temp_file.value(), &temp_bytes));
      EXPECT_EQ("", temp_bytes);
    } else if (entries.size() > 1) {
      ++random_kills_during_a_write;
    }
    generation = after_kill;
  }
  std::printf("%d of %d random kills hit a write in progress\n", random_kills_during_a_write, 2 * kRoundsPerKill);
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(target(), "done"));
  EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"}, FolderEntries(dir_.path()));
}

// Writers in two processes. This process's write sweeps while a child holds inside its write: the child's write
// still completes. Then two children write in turns while this process reads the file during each write (possibly
// holding it as the write replaces it) and after it: a read during a write sees the generation before it or the one
// it wrote, whole; a read after it sees exactly that write's generation.
TEST_F(ImportantFileWriterCrashTest, WritersInTwoProcessesLoseNoWriteAndReadersSeeWholeGenerations) {
  // A child's named events, made before the child so that it finds them.
  struct Writer {
    std::wstring prefix = test_support::UniqueName(L"ifw_two");
    HANDLE Event(const wchar_t* name) const { return ::CreateEventW(nullptr, FALSE, FALSE, (prefix + name).c_str()); }
    test_support::ScopedTestHandle ready{Event(L"_ready")}, go{Event(L"_go")}, created{Event(L"_created")},
        resume{Event(L"_resume")}, progress{::CreateSemaphoreW(nullptr, 0, LONG_MAX, (prefix + L"_progress").c_str())};
    Process process;
  };
  Writer writers[2];
  for (const Writer& writer : writers)
    ASSERT_TRUE(writer.ready.valid() && writer.go.valid() && writer.created.valid() && writer.resume.valid() &&
                writer.progress.valid());

  Writer& held = writers[0];
  held.process = StartChild(1, held.ready.get(), held.prefix, /*hold=*/true);
  ASSERT_TRUE(held.process.IsValid());
  ASSERT_TRUE(::SetEvent(held.go.get()));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForEventOrExit(held.created.get(), held.process.Handle()));
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(target(), important_file_test::MakeGenerationContent(100)));
  EXPECT_EQ(2u, FolderEntries(dir_.path()).size()) << "the held write's temporary file was swept";
  ASSERT_TRUE(::SetEvent(held.resume.get()));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForEventOrExit(held.progress.get(), held.process.Handle()))
      << "the held write failed";
  EXPECT_EQ(2, ReadGeneration());
  ASSERT_TRUE(held.process.Terminate(77, /*wait=*/true));  // held again, in its next write

  constexpr int64_t kFirstGenerations[] = {1000000, 2000000};
  constexpr int kTurnsEach = 25;
  for (int i = 0; i < 2; ++i) {
    writers[i].process =
        StartChild(static_cast<uint32_t>(kFirstGenerations[i]), writers[i].ready.get(), writers[i].prefix, false, true);
    ASSERT_TRUE(writers[i].process.IsValid());
  }
  int64_t expected = kFirstGenerations[1];  // the second child's first write came last
  for (int turn = 0; turn < 2 * kTurnsEach; ++turn) {
    SCOPED_TRACE("turn " + std::to_string(turn));
    Writer& writer = writers[turn % 2];
    const int64_t before = expected;
    expected = kFirstGenerations[turn % 2] + 1 + turn / 2;
    ASSERT_TRUE(::SetEvent(writer.go.get()));
    const int64_t during = ReadGeneration();
    EXPECT_TRUE(during == before || during == expected) << during;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForEventOrExit(writer.progress.get(), writer.process.Handle()))
        << "the write failed";
    ASSERT_EQ(expected, ReadGeneration());
  }
  for (Writer& writer : writers)
    ASSERT_TRUE(writer.process.Terminate(77, /*wait=*/true));
  EXPECT_EQ(std::vector<std::wstring>{L"prefs.json"}, FolderEntries(dir_.path()));
}

}  // namespace
}  // namespace base
