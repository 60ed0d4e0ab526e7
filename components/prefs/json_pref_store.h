// JsonPrefStore keeps a set of preferences in one JSON file holding one dictionary: it reads the file once,
// serves and changes the values in memory, tells its observers, and writes the whole dictionary back through
// an ImportantFileWriter once the writer's commit delay has passed.
//
// The store and its observers live on the owner's thread, which needs a task runner (ThreadTaskRunnerHandle)
// for the commit timer; the writes, and asynchronous reads, run on the store's sequenced task runner.
#ifndef COMPONENTS_PREFS_JSON_PREF_STORE_H_
#define COMPONENTS_PREFS_JSON_PREF_STORE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/memory/ref_counted.h"
#include "base/observer_list.h"
#include "base/sequenced_task_runner.h"
#include "base/time/time.h"
#include "components/prefs/persistent_pref_store.h"

namespace base {
class DictionaryValue;
class HistogramBase;
class SequencedWorkerPool;
class TimeSource;
}  // namespace base

class JsonPrefStore : public PersistentPrefStore, public base::ImportantFileWriter::DataSerializer {
 public:
  // Counts the writes of one file and reports them in "Settings.JsonDataWriteCount." + the file's suffix, one
  // sample per whole report interval (300 s) that has passed.
  class WriteCountHistogram {
   public:
    WriteCountHistogram(base::TimeDelta commit_interval, const base::FilePath& path);
    WriteCountHistogram(base::TimeDelta commit_interval, const base::FilePath& path,
                        std::unique_ptr<base::TimeSource> time_source);
    WriteCountHistogram(const WriteCountHistogram&) = delete;
    WriteCountHistogram& operator=(const WriteCountHistogram&) = delete;
    // Reports what is due.
    ~WriteCountHistogram();

    // Reports what is due, then counts one write.
    void RecordWriteOccured();
    // When more than a report interval has passed since the last report: the writes counted since then,
    // then 0 for every further whole interval; the report time moves forward by the whole intervals.
    void ReportOutstandingWrites();

    base::HistogramBase* GetHistogram();
    base::TimeDelta report_interval() const { return report_interval_; }

   private:
    const base::TimeDelta commit_interval_;
    const base::FilePath path_;
    const std::unique_ptr<base::TimeSource> time_source_;
    const base::TimeDelta report_interval_;
    base::Time last_report_time_;
    uint32_t writes_since_last_report_ = 0;
  };

  // The sequence of `pool` for the file: one per file name, whose writes finish before the pool shuts down.
  static base::scoped_refptr<base::SequencedTaskRunner> GetTaskRunnerForFile(const base::FilePath& path,
                                                                      base::SequencedWorkerPool* pool);

  // The histogram suffix of a file: its base name in ASCII (empty when not ASCII), '.' replaced by '_'.
  static std::string GetHistogramSuffix(const base::FilePath& path);

  JsonPrefStore(const base::FilePath& path, base::scoped_refptr<base::SequencedTaskRunner> task_runner);

  // PrefStore:
  void AddObserver(PrefStore::Observer* observer) override;
  void RemoveObserver(PrefStore::Observer* observer) override;
  bool HasObservers() const override;
  bool IsInitializationComplete() const override;
  bool GetValue(const std::string& key, const base::Value** result) const override;

  // PersistentPrefStore:
  void SetValue(const std::string& key, std::unique_ptr<base::Value> value, uint32_t flags) override;
  void RemoveValue(const std::string& key, uint32_t flags) override;
  bool GetMutableValue(const std::string& key, base::Value** result) override;
  void ReportValueChanged(const std::string& key, uint32_t flags) override;
  void SetValueSilently(const std::string& key, std::unique_ptr<base::Value> value, uint32_t flags) override;
  bool ReadOnly() const override;
  PrefReadError GetReadError() const override;
  PrefReadError ReadPrefs() override;
  void CommitPendingWrite() override;
  void SchedulePendingLossyWrites() override;
  void ClearMutableValues() override;

  // Reads the file on the store's task runner; the result is taken in, and the observers told, by a task on
  // the calling thread. When the task runner refuses the read, it is done at once on the calling thread.
  void ReadPrefsAsync();

  const base::FilePath& path() const { return path_; }

 private:
  struct ReadResult;

  ~JsonPrefStore() override;

  // ImportantFileWriter::DataSerializer:
  bool SerializeData(std::string* output) override;

  // The file work of a read: read, parse, classify, move an unparsable file aside.
  static void ReadPrefsFromDisk(const base::FilePath& path, ReadResult* result);
  // Takes the read's outcome in on the owner's thread.
  void OnFileRead(ReadResult* result);
  // Nothing when read-only; a lossy change only marks itself; any other change schedules the write.
  void ScheduleWrite(uint32_t flags);

  const base::FilePath path_;
  const base::scoped_refptr<base::SequencedTaskRunner> task_runner_;
  std::unique_ptr<base::DictionaryValue> prefs_;
  bool read_only_ = false;
  base::ImportantFileWriter writer_;
  base::ObserverList<PrefStore::Observer> observers_;
  bool initialized_ = false;
  bool pending_lossy_write_ = false;
  PrefReadError read_error_ = kPrefReadErrorNone;
  WriteCountHistogram write_count_histogram_;
};

#endif  // COMPONENTS_PREFS_JSON_PREF_STORE_H_
