#include "components/prefs/json_pref_store.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/statistics_recorder.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time_source.h"
#include "base/values.h"
#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace {

using base::FilePath;

class RecordingObserver : public PrefStore::Observer {
 public:
  void OnPrefValueChanged(const std::string& key) override { ++changes[key]; }
  void OnInitializationCompleted(bool succeeded) override { initializations.push_back(succeeded); }

  int total_changes() const {
    int total = 0;
    for (const auto& [key, count] : changes)
      total += count;
    return total;
  }

  std::map<std::string, int> changes;
  std::vector<bool> initializations;
};

std::string ReadBytes(const FilePath& path) {
  std::string bytes;
  return test_support::ReadFileBytes(path.value(), &bytes) ? bytes : "<missing>";
}

int HistogramCount(const std::string& name, int sample) {
  base::HistogramBase* histogram = base::StatisticsRecorder::FindHistogram(name);
  return histogram ? histogram->SnapshotSamples()->GetCount(sample) : 0;
}

int HistogramTotal(const std::string& name) {
  base::HistogramBase* histogram = base::StatisticsRecorder::FindHistogram(name);
  return histogram ? histogram->SnapshotSamples()->TotalCount() : 0;
}

// The store's timer runs on `owner_` (this thread's runner) and its file work on `file_runner_`; both run only
// when the test says so. Each test has a folder of its own.
class JsonPrefStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    base::StatisticsRecorder::InitializeForTesting();
    FilePath temp;
    ASSERT_TRUE(base::GetTempDir(&temp));
    dir_ = temp.Append(test_support::UniqueName(L"prefs"));
    ASSERT_TRUE(base::CreateDirectory(dir_));
  }
  void TearDown() override { base::DeleteFile(dir_, true); }

  base::scoped_refptr<JsonPrefStore> MakeStore(const FilePath& path) {
    auto store = base::MakeRefCounted<JsonPrefStore>(path, file_runner_);
    store->AddObserver(&observer_);
    return store;
  }

  // Runs the commit timer's task and then the write it posted.
  void RunTimerAndWrites() {
    owner_->RunPendingTasks();
    file_runner_->RunPendingTasks();
  }

  // The file as a dictionary; null (and a failure) when it does not parse as one.
  std::unique_ptr<base::DictionaryValue> ReadDictionary(const FilePath& path) {
    std::unique_ptr<base::Value> root = base::JsonReader::Read(ReadBytes(path));
    base::DictionaryValue* dictionary = nullptr;
    if (!root || !root->GetAsDictionary(&dictionary)) {
      ADD_FAILURE() << "not a JSON dictionary: " << ReadBytes(path);
      return nullptr;
    }
    root.release();
    return std::unique_ptr<base::DictionaryValue>(dictionary);
  }

  FilePath dir_;
  base::scoped_refptr<base::ManualTaskRunner> owner_ = base::MakeRefCounted<base::ManualTaskRunner>();
  base::ThreadTaskRunnerHandle owner_handle_{owner_};
  base::scoped_refptr<base::ManualTaskRunner> file_runner_ = base::MakeRefCounted<base::ManualTaskRunner>();
  RecordingObserver observer_;
};

TEST_F(JsonPrefStoreTest, DictionaryFileReadsAndRecordsItsSizeUnderTheFileSuffix) {
  const FilePath path = dir_.Append(L"installer_prefs.json");
  std::string text = "{\"a\":{\"b\":7},\"s\":\"text\",\"pad\":\"";
  text.append(5000, 'p');
  text += "\"}";
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), text));
  const std::string histogram = "Settings.JsonDataReadSizeKilobytes.installer_prefs_json";
  const int kilobytes = static_cast<int>(text.size() / 1024);
  const int before = HistogramCount(histogram, kilobytes);

  auto store = MakeStore(path);
  EXPECT_FALSE(store->IsInitializationComplete());
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorNone, store->ReadPrefs());
  EXPECT_TRUE(store->IsInitializationComplete());
  EXPECT_FALSE(store->ReadOnly());
  EXPECT_EQ(std::vector<bool>{true}, observer_.initializations);
  const base::Value* value = nullptr;
  ASSERT_TRUE(store->GetValue("a.b", &value));
  int number = 0;
  EXPECT_TRUE(value->GetAsInteger(&number));
  EXPECT_EQ(7, number);
  EXPECT_TRUE(store->GetValue("s", nullptr));
  EXPECT_FALSE(store->GetValue("a.c", nullptr));
  EXPECT_EQ(before + 1, HistogramCount(histogram, kilobytes));
}

TEST_F(JsonPrefStoreTest, HistogramSuffixIsTheAsciiBaseNameWithUnderscores) {
  EXPECT_EQ("installer_prefs_json", JsonPrefStore::GetHistogramSuffix(FilePath(L"C:\\x.y\\installer_prefs.json")));
  EXPECT_EQ("", JsonPrefStore::GetHistogramSuffix(FilePath(L"C:\\x\\pr\u00e9fs.json")));
}

TEST_F(JsonPrefStoreTest, MissingFileGivesAnEmptyWritableStore) {
  const FilePath path = dir_.Append(L"prefs.json");
  auto store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorNoFile, store->ReadPrefs());
  EXPECT_TRUE(store->IsInitializationComplete());
  EXPECT_FALSE(store->ReadOnly());
  EXPECT_EQ(std::vector<bool>{true}, observer_.initializations);

  store->SetValue("k", std::make_unique<base::ScalarValue>(1), 0);
  RunTimerAndWrites();
  std::unique_ptr<base::DictionaryValue> written = ReadDictionary(path);
  ASSERT_TRUE(written);
  int number = 0;
  EXPECT_TRUE(written->GetInteger("k", &number));
  EXPECT_EQ(1, number);
}

TEST_F(JsonPrefStoreTest, MissingFolderLeavesTheStoreUninitialized) {
  auto store = MakeStore(dir_.Append(L"missing").Append(L"prefs.json"));
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorNoFile, store->ReadPrefs());
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorNoFile, store->GetReadError());
  EXPECT_FALSE(store->IsInitializationComplete());
  EXPECT_FALSE(store->ReadOnly());
  EXPECT_EQ(std::vector<bool>{false}, observer_.initializations);
}

TEST_F(JsonPrefStoreTest, NonDictionaryRootMakesAnEmptyReadOnlyStoreThatNeverWrites) {
  const FilePath path = dir_.Append(L"prefs.json");
  const std::string list = "[1, 2, 3]";
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), list));
  auto store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorJsonType, store->ReadPrefs());
  EXPECT_TRUE(store->ReadOnly());
  EXPECT_TRUE(store->IsInitializationComplete());
  EXPECT_FALSE(store->GetValue("0", nullptr));

  // Changes stay in memory and reach the observers, but nothing is scheduled or written.
  store->SetValue("k", std::make_unique<base::ScalarValue>(1), 0);
  EXPECT_TRUE(store->GetValue("k", nullptr));
  EXPECT_EQ(1, observer_.changes["k"]);
  store->SetValue("lossy", std::make_unique<base::ScalarValue>(2), PersistentPrefStore::kLossyPrefWriteFlag);
  store->SchedulePendingLossyWrites();
  store->CommitPendingWrite();
  EXPECT_EQ(0u, owner_->NumPendingTasks());
  EXPECT_EQ(0u, file_runner_->NumPendingTasks());
  store = nullptr;  // destruction commits nothing either
  EXPECT_EQ(0u, file_runner_->NumPendingTasks());
  EXPECT_EQ(list, ReadBytes(path));
}

TEST_F(JsonPrefStoreTest, UnparsableFileIsMovedAsideASecondOneReportsARepeatAndAHeldOneIsNeverOverwritten) {
  const FilePath path = dir_.Append(L"installer_prefs.json");
  const FilePath bad = dir_.Append(L"installer_prefs.bad");
  const std::string first = "{\"a\": 1,";
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), first));
  {
    auto store = MakeStore(path);
    EXPECT_EQ(PersistentPrefStore::kPrefReadErrorJsonParse, store->ReadPrefs());
    EXPECT_FALSE(store->ReadOnly());
    EXPECT_TRUE(store->IsInitializationComplete());
  }
  EXPECT_FALSE(base::PathExists(path));
  EXPECT_EQ(first, ReadBytes(bad));

  // A later run meets another bad file: it replaces the older one.
  const std::string second = "not json";
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), second));
  auto store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorJsonRepeat, store->ReadPrefs());
  EXPECT_FALSE(store->ReadOnly());
  EXPECT_FALSE(base::PathExists(path));
  EXPECT_EQ(second, ReadBytes(bad));

  // A bad file that another process holds (letting nobody move it) is never overwritten.
  const std::string third = "{\"b\":";
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), third));
  auto held_store = MakeStore(path);
  {
    test_support::ScopedTestHandle holder(::CreateFileW(path.value().c_str(), GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                        0, nullptr));
    ASSERT_TRUE(holder.valid());
    EXPECT_EQ(PersistentPrefStore::kPrefReadErrorJsonRepeat, held_store->ReadPrefs());
  }
  EXPECT_TRUE(held_store->ReadOnly());
  held_store->SetValue("k", std::make_unique<base::ScalarValue>(2), 0);
  held_store->CommitPendingWrite();
  RunTimerAndWrites();
  EXPECT_EQ(third, ReadBytes(path));
  EXPECT_EQ(second, ReadBytes(bad));
}

TEST_F(JsonPrefStoreTest, FileLockedByAnotherProcessMakesTheStoreReadOnly) {
  const FilePath path = dir_.Append(L"prefs.json");
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), "{\"k\":1}"));
  test_support::ScopedTestHandle holder(
      ::CreateFileW(path.value().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.valid());
  auto store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorFileLocked, store->ReadPrefs());
  EXPECT_TRUE(store->ReadOnly());
  EXPECT_FALSE(store->GetValue("k", nullptr));
}

TEST_F(JsonPrefStoreTest, FolderInPlaceOfTheFileIsAccessDenied) {
  const FilePath path = dir_.Append(L"prefs.json");
  ASSERT_TRUE(::CreateDirectoryW(path.value().c_str(), nullptr));
  auto store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorAccessDenied, store->ReadPrefs());
  EXPECT_TRUE(store->ReadOnly());
}

TEST_F(JsonPrefStoreTest, FileThatExistsButCannotBeReadMakesTheStoreReadOnly) {
  // Whole-file reads refuse paths through "..", before any system call; the file itself is there.
  ASSERT_TRUE(base::CreateDirectory(dir_.Append(L"sub")));
  const FilePath real = dir_.Append(L"prefs.json");
  const std::string content = "{\"k\":1}";
  ASSERT_TRUE(test_support::WriteFileBytes(real.value(), content));
  const FilePath path = dir_.Append(L"sub").Append(L"..").Append(L"prefs.json");
  ::SetLastError(ERROR_ACCESS_DENIED);  // an error left on the thread must not decide the code
  auto store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorFileOther, store->ReadPrefs());
  EXPECT_TRUE(store->ReadOnly());
  store->SetValue("k", std::make_unique<base::ScalarValue>(2), 0);
  store->CommitPendingWrite();
  EXPECT_EQ(0u, file_runner_->NumPendingTasks());
  EXPECT_EQ(content, ReadBytes(real));
}

TEST_F(JsonPrefStoreTest, ObserversHearOncePerRealChange) {
  auto store = MakeStore(dir_.Append(L"prefs.json"));
  store->AddObserver(&observer_);  // a second add keeps one entry
  store->ReadPrefs();
  EXPECT_EQ(std::vector<bool>{true}, observer_.initializations);

  store->SetValue("a.b", std::make_unique<base::ScalarValue>(1), 0);
  store->SetValue("a.b", std::make_unique<base::ScalarValue>(1), 0);  // equal: nothing
  EXPECT_EQ(1, observer_.changes["a.b"]);
  store->SetValue("a.b", std::make_unique<base::ScalarValue>(2), 0);
  EXPECT_EQ(2, observer_.changes["a.b"]);
  store->SetValueSilently("a.c", std::make_unique<base::StringValue>(std::string("x")), 0);
  EXPECT_EQ(0, observer_.changes["a.c"]);
  store->RemoveValue("missing", 0);
  EXPECT_EQ(0, observer_.changes["missing"]);
  store->RemoveValue("a.c", 0);
  EXPECT_EQ(1, observer_.changes["a.c"]);
  EXPECT_EQ(3, observer_.total_changes());

  store->RemoveObserver(&observer_);
  EXPECT_FALSE(store->HasObservers());
  store->SetValue("a.b", std::make_unique<base::ScalarValue>(3), 0);
  EXPECT_EQ(3, observer_.total_changes());
}

TEST_F(JsonPrefStoreTest, EqualValueSchedulesNoWrite) {
  const FilePath path = dir_.Append(L"prefs.json");
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), "{\"k\":\"v\"}"));
  auto store = MakeStore(path);
  ASSERT_EQ(PersistentPrefStore::kPrefReadErrorNone, store->ReadPrefs());
  store->SetValue("k", std::make_unique<base::StringValue>(std::string("v")), 0);
  EXPECT_EQ(0u, owner_->NumPendingTasks());
  EXPECT_EQ(0, observer_.total_changes());
}

TEST_F(JsonPrefStoreTest, ChangesAreBatchedIntoOneWriteOfTheWholeDictionary) {
  const FilePath path = dir_.Append(L"prefs.json");
  auto store = MakeStore(path);
  store->ReadPrefs();
  for (int i = 0; i < 10; ++i)
    store->SetValue("n.v" + std::to_string(i), std::make_unique<base::ScalarValue>(i), 0);
  EXPECT_EQ(1u, owner_->NumPendingTasks());
  EXPECT_FALSE(base::PathExists(path));
  RunTimerAndWrites();
  std::unique_ptr<base::DictionaryValue> written = ReadDictionary(path);
  ASSERT_TRUE(written);
  for (int i = 0; i < 10; ++i) {
    int number = -1;
    EXPECT_TRUE(written->GetInteger("n.v" + std::to_string(i), &number));
    EXPECT_EQ(i, number);
  }
  // Compact form: no whitespace outside strings.
  EXPECT_EQ(std::string::npos, ReadBytes(path).find_first_of(" \n\r\t"));
}

TEST_F(JsonPrefStoreTest, LossyChangeIsWrittenOnlyWithTheNextNormalWriteOrACommit) {
  const FilePath path = dir_.Append(L"prefs.json");
  auto store = MakeStore(path);
  store->ReadPrefs();
  store->SetValue("lossy", std::make_unique<base::ScalarValue>(1), PersistentPrefStore::kLossyPrefWriteFlag);
  EXPECT_EQ(1, observer_.changes["lossy"]);
  EXPECT_EQ(0u, owner_->NumPendingTasks());  // nothing scheduled
  RunTimerAndWrites();
  EXPECT_FALSE(base::PathExists(path));

  // A normal change takes the lossy one along.
  store->SetValue("normal", std::make_unique<base::ScalarValue>(2), 0);
  RunTimerAndWrites();
  std::unique_ptr<base::DictionaryValue> written = ReadDictionary(path);
  ASSERT_TRUE(written);
  EXPECT_TRUE(written->HasKey("lossy"));
  EXPECT_TRUE(written->HasKey("normal"));

  // A lossy change alone waits for the commit, which writes at once.
  store->SetValue("lossy", std::make_unique<base::ScalarValue>(3), PersistentPrefStore::kLossyPrefWriteFlag);
  RunTimerAndWrites();
  written = ReadDictionary(path);
  ASSERT_TRUE(written);
  int number = 0;
  EXPECT_TRUE(written->GetInteger("lossy", &number));
  EXPECT_EQ(1, number);
  store->CommitPendingWrite();
  EXPECT_EQ(1u, file_runner_->NumPendingTasks());
  file_runner_->RunPendingTasks();
  written = ReadDictionary(path);
  ASSERT_TRUE(written);
  EXPECT_TRUE(written->GetInteger("lossy", &number));
  EXPECT_EQ(3, number);
  // Written once: a later commit has nothing to do.
  store->CommitPendingWrite();
  EXPECT_EQ(0u, file_runner_->NumPendingTasks());
}

TEST_F(JsonPrefStoreTest, PendingLossyWritesAreScheduledOnRequest) {
  const FilePath path = dir_.Append(L"prefs.json");
  auto store = MakeStore(path);
  store->ReadPrefs();
  store->SchedulePendingLossyWrites();  // nothing pending
  EXPECT_EQ(0u, owner_->NumPendingTasks());
  store->SetValue("lossy", std::make_unique<base::ScalarValue>(1), PersistentPrefStore::kLossyPrefWriteFlag);
  store->SchedulePendingLossyWrites();
  EXPECT_EQ(1u, owner_->NumPendingTasks());
  RunTimerAndWrites();
  std::unique_ptr<base::DictionaryValue> written = ReadDictionary(path);
  ASSERT_TRUE(written);
  EXPECT_TRUE(written->HasKey("lossy"));
}

TEST_F(JsonPrefStoreTest, RemovingTheOnlyNestedKeyRemovesItsEmptiedParents) {
  const FilePath path = dir_.Append(L"prefs.json");
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), "{\"a\":{\"b\":{\"c\":1}},\"keep\":true}"));
  auto store = MakeStore(path);
  ASSERT_EQ(PersistentPrefStore::kPrefReadErrorNone, store->ReadPrefs());
  store->RemoveValue("a.b.c", 0);
  EXPECT_FALSE(store->GetValue("a", nullptr));
  EXPECT_EQ(1, observer_.changes["a.b.c"]);
  RunTimerAndWrites();
  std::unique_ptr<base::DictionaryValue> written = ReadDictionary(path);
  ASSERT_TRUE(written);
  EXPECT_FALSE(written->HasKey("a"));
  EXPECT_TRUE(written->HasKey("keep"));
}

TEST_F(JsonPrefStoreTest, DestructionWritesThePendingChangeAndTheNextRunReadsItBack) {
  const FilePath path = dir_.Append(L"prefs.json");
  // Folder names may hold any character, noncharacters (U+FDD0, U+FFFE, U+FFFF) included.
  const std::wstring folder = L"C:\\dir\uFDD0\uFFFE\uFFFF\U0010FFFF";
  {
    auto store = MakeStore(path);
    store->ReadPrefs();
    store->SetValue("k", std::make_unique<base::StringValue>(folder), 0);
  }
  // The write was posted by the destructor; the timer's task is left with nothing to do.
  EXPECT_EQ(1u, file_runner_->NumPendingTasks());
  RunTimerAndWrites();
  auto store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorNone, store->ReadPrefs());
  const base::Value* value = nullptr;
  std::wstring text;
  ASSERT_TRUE(store->GetValue("k", &value));
  EXPECT_TRUE(value->GetAsString(&text));
  EXPECT_EQ(folder, text);
}

TEST_F(JsonPrefStoreTest, AsynchronousReadRunsOnTheFileRunnerAndRepliesOnTheOwner) {
  const FilePath path = dir_.Append(L"prefs.json");
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), "{\"k\":5}"));
  auto store = MakeStore(path);
  store->ReadPrefsAsync();
  EXPECT_FALSE(store->IsInitializationComplete());
  EXPECT_EQ(1u, file_runner_->NumPendingTasks());
  EXPECT_EQ(0u, owner_->NumPendingTasks());
  file_runner_->RunPendingTasks();
  EXPECT_FALSE(store->IsInitializationComplete());  // taken in only by the reply
  EXPECT_TRUE(observer_.initializations.empty());
  EXPECT_EQ(1u, owner_->RunPendingTasks());
  EXPECT_TRUE(store->IsInitializationComplete());
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorNone, store->GetReadError());
  EXPECT_EQ(std::vector<bool>{true}, observer_.initializations);
  EXPECT_TRUE(store->GetValue("k", nullptr));
}

TEST_F(JsonPrefStoreTest, AsynchronousReadRefusedByTheRunnerReadsHere) {
  const FilePath path = dir_.Append(L"prefs.json");
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), "[]"));
  auto store = MakeStore(path);
  file_runner_->set_refuse_posts(true);
  store->ReadPrefsAsync();
  EXPECT_TRUE(store->IsInitializationComplete());
  EXPECT_EQ(PersistentPrefStore::kPrefReadErrorJsonType, store->GetReadError());
  EXPECT_TRUE(store->ReadOnly());
}

// A clock that moves only when told.
class FakeTimeSource : public base::TimeSource {
 public:
  explicit FakeTimeSource(base::Time* now) : now_(now) {}
  base::Time Now() override { return *now_; }

 private:
  base::Time* now_;
};

TEST_F(JsonPrefStoreTest, WriteCountsAreReportedPerWholeReportInterval) {
  const FilePath path = dir_.Append(test_support::UniqueName(L"count") + L".json");
  const std::string name = "Settings.JsonDataWriteCount." + JsonPrefStore::GetHistogramSuffix(path);
  base::Time now = base::Time::Now();
  const base::TimeDelta interval = base::TimeDelta::FromSeconds(300);
  {
    JsonPrefStore::WriteCountHistogram counter(base::TimeDelta::FromSeconds(10), path,
                                               std::make_unique<FakeTimeSource>(&now));
    EXPECT_EQ(interval, counter.report_interval());
    for (int i = 0; i < 3; ++i)
      counter.RecordWriteOccured();
    now += interval;  // exactly one interval: not yet due
    counter.RecordWriteOccured();
    EXPECT_EQ(0, HistogramTotal(name));

    now += base::TimeDelta::FromMicroseconds(1);
    counter.RecordWriteOccured();  // reports the 4 earlier writes, then counts this one
    EXPECT_EQ(1, HistogramCount(name, 4));
    EXPECT_EQ(1, HistogramTotal(name));

    // Three and a half intervals later: the one write, then 0 for the two further whole intervals.
    now += base::TimeDelta::FromSeconds(3 * 300 + 150);
    counter.ReportOutstandingWrites();
    EXPECT_EQ(1, HistogramCount(name, 1));
    EXPECT_EQ(2, HistogramCount(name, 0));
    EXPECT_EQ(4, HistogramTotal(name));

    // The report time moved by whole intervals only: 150 s more make the next interval due.
    counter.RecordWriteOccured();
    counter.RecordWriteOccured();
    now += base::TimeDelta::FromSeconds(151);
  }
  // Destruction reports what is due.
  EXPECT_EQ(1, HistogramCount(name, 2));
  EXPECT_EQ(5, HistogramTotal(name));
  base::HistogramBase* histogram = base::StatisticsRecorder::FindHistogram(name);
  ASSERT_TRUE(histogram);
  EXPECT_TRUE(histogram->HasConstructionArguments(1, 30, 31));
}

}  // namespace

void NoteWhetherRunsOn(base::SequencedTaskRunner* runner, bool* result) {
  *result = runner->RunsTasksOnCurrentThread();
}

// The installer's arrangement: file work on a sequence of a one-thread pool, one sequence per file.
TEST(JsonPrefStorePoolTest, WritesRunOnTheFilesSequenceAndFinishBeforeThePoolShutsDown) {
  base::StatisticsRecorder::InitializeForTesting();
  base::MessageLoop loop;
  FilePath temp;
  ASSERT_TRUE(base::GetTempDir(&temp));
  const FilePath dir = temp.Append(test_support::UniqueName(L"prefs_pool"));
  ASSERT_TRUE(base::CreateDirectory(dir));
  const FilePath path = dir.Append(L"prefs.json");
  const FilePath other = dir.Append(L"other.json");

  auto pool = base::MakeRefCounted<base::SequencedWorkerPool>(1, "PrefsTestPool");
  base::scoped_refptr<base::SequencedTaskRunner> runner = JsonPrefStore::GetTaskRunnerForFile(path, pool.get());
  base::scoped_refptr<base::SequencedTaskRunner> same = JsonPrefStore::GetTaskRunnerForFile(path, pool.get());
  base::scoped_refptr<base::SequencedTaskRunner> different = JsonPrefStore::GetTaskRunnerForFile(other, pool.get());

  auto store = base::MakeRefCounted<JsonPrefStore>(path, runner);
  ASSERT_EQ(PersistentPrefStore::kPrefReadErrorNoFile, store->ReadPrefs());
  for (int i = 0; i < 100; ++i)
    store->SetValue("k", std::make_unique<base::ScalarValue>(i), 0);
  store->CommitPendingWrite();
  EXPECT_FALSE(runner->RunsTasksOnCurrentThread());

  // A task of the same file's sequence runs as part of that sequence; another file's does not.
  bool same_sequence = false;
  bool other_sequence = true;
  same->PostTask(FROM_HERE, base::Bind(&NoteWhetherRunsOn, runner, base::Unretained(&same_sequence)));
  different->PostTask(FROM_HERE, base::Bind(&NoteWhetherRunsOn, runner, base::Unretained(&other_sequence)));
  // Block-shutdown: the queued write and checks have run when Shutdown returns.
  pool->Shutdown(0);
  EXPECT_TRUE(same_sequence);
  EXPECT_FALSE(other_sequence);
  std::unique_ptr<base::Value> written = base::JsonReader::Read(ReadBytes(path));
  const base::DictionaryValue* dictionary = nullptr;
  ASSERT_TRUE(written && written->GetAsDictionary(&dictionary));
  int number = -1;
  EXPECT_TRUE(dictionary->GetInteger("k", &number));
  EXPECT_EQ(99, number);

  store = nullptr;
  runner = same = different = nullptr;
  pool = nullptr;
  base::DeleteFile(dir, true);
}
