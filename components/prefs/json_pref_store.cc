#include "components/prefs/json_pref_store.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/json/json_string_value_serializer.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/process_wide_histograms.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/time/time_source.h"
#include "base/values.h"

namespace {

constexpr wchar_t kBadExtension[] = L"bad";
constexpr int64_t kReportIntervalSeconds = 300;

// Classifies a read. An unparsable file is moved aside under the extension "bad" (replacing an older one),
// so that later starts do not fail on it again; `*stuck` tells that it could not be moved.
PersistentPrefStore::PrefReadError HandleReadErrors(const base::Value* value, const base::FilePath& path,
                                                    int error_code, const std::string& error_message, bool* stuck) {
  if (value) {
    return value->IsType(base::Value::kTypeDictionary) ? PersistentPrefStore::kPrefReadErrorNone
                                                       : PersistentPrefStore::kPrefReadErrorJsonType;
  }
  switch (error_code) {
    case base::JsonFileValueDeserializer::kFileAccessDenied:
      return PersistentPrefStore::kPrefReadErrorAccessDenied;
    case base::JsonFileValueDeserializer::kFileCannotRead:
      return PersistentPrefStore::kPrefReadErrorFileOther;
    case base::JsonFileValueDeserializer::kFileLocked:
      return PersistentPrefStore::kPrefReadErrorFileLocked;
    case base::JsonFileValueDeserializer::kFileNoSuchFile:
      return PersistentPrefStore::kPrefReadErrorNoFile;
    default:
      break;
  }
  LOG(ERROR) << "Error while loading JSON file: " << error_message << ", file: " << path.value();
  const base::FilePath bad = path.ReplaceExtension(kBadExtension);
  const bool bad_existed = base::PathExists(bad);
  *stuck = !base::MovePath(path, bad);
  if (*stuck)
    LOG(ERROR) << "Failed to move " << path.value() << " aside to " << bad.value() << ": keeping it unwritten";
  return bad_existed ? PersistentPrefStore::kPrefReadErrorJsonRepeat : PersistentPrefStore::kPrefReadErrorJsonParse;
}

// Stores `value` at `key` unless an equal value is already there; true when it was stored.
bool SetIfChanged(base::DictionaryValue* prefs, const std::string& key, std::unique_ptr<base::Value> value) {
  DCHECK(value);
  base::Value* old_value = nullptr;
  prefs->Get(key, &old_value);
  if (old_value && value->Equals(old_value))
    return false;
  prefs->Set(key, std::move(value));
  return true;
}

}  // namespace

struct JsonPrefStore::ReadResult {
  std::unique_ptr<base::Value> value;
  PrefReadError error = kPrefReadErrorNone;
  bool no_dir = false;
  bool bad_file_stuck = false;
};

// static
base::scoped_refptr<base::SequencedTaskRunner> JsonPrefStore::GetTaskRunnerForFile(const base::FilePath& path,
                                                                            base::SequencedWorkerPool* pool) {
  const std::string token_name = "json_pref_store-" + path.AsUTF8();
  return pool->GetSequencedTaskRunnerWithShutdownBehavior(pool->GetNamedSequenceToken(token_name),
                                                          base::SequencedWorkerPool::BLOCK_SHUTDOWN);
}

// static
std::string JsonPrefStore::GetHistogramSuffix(const base::FilePath& path) {
  std::string suffix = path.BaseName().MaybeAsASCII();
  std::replace(suffix.begin(), suffix.end(), '.', '_');
  return suffix;
}

JsonPrefStore::JsonPrefStore(const base::FilePath& path, base::scoped_refptr<base::SequencedTaskRunner> task_runner)
    : path_(path),
      task_runner_(std::move(task_runner)),
      prefs_(std::make_unique<base::DictionaryValue>()),
      writer_(path, task_runner_),
      observers_(base::ObserverList<PrefStore::Observer>::NOTIFY_ALL),
      write_count_histogram_(writer_.commit_interval(), path) {}

JsonPrefStore::~JsonPrefStore() {
  CommitPendingWrite();
}

void JsonPrefStore::AddObserver(PrefStore::Observer* observer) {
  observers_.AddObserver(observer);
}

void JsonPrefStore::RemoveObserver(PrefStore::Observer* observer) {
  observers_.RemoveObserver(observer);
}

bool JsonPrefStore::HasObservers() const {
  return observers_.might_have_observers();
}

bool JsonPrefStore::IsInitializationComplete() const {
  return initialized_;
}

bool JsonPrefStore::GetValue(const std::string& key, const base::Value** result) const {
  const base::Value* value = nullptr;
  if (!prefs_->Get(key, &value))
    return false;
  if (result)
    *result = value;
  return true;
}

void JsonPrefStore::SetValue(const std::string& key, std::unique_ptr<base::Value> value, uint32_t flags) {
  if (SetIfChanged(prefs_.get(), key, std::move(value)))
    ReportValueChanged(key, flags);
}

void JsonPrefStore::SetValueSilently(const std::string& key, std::unique_ptr<base::Value> value, uint32_t flags) {
  if (SetIfChanged(prefs_.get(), key, std::move(value)))
    ScheduleWrite(flags);
}

void JsonPrefStore::RemoveValue(const std::string& key, uint32_t flags) {
  if (prefs_->RemovePath(key, nullptr))
    ReportValueChanged(key, flags);
}

bool JsonPrefStore::GetMutableValue(const std::string& key, base::Value** result) {
  return prefs_->Get(key, result);
}

void JsonPrefStore::ReportValueChanged(const std::string& key, uint32_t flags) {
  observers_.ForEach([&](PrefStore::Observer* observer) { observer->OnPrefValueChanged(key); });
  ScheduleWrite(flags);
}

bool JsonPrefStore::ReadOnly() const {
  return read_only_;
}

PersistentPrefStore::PrefReadError JsonPrefStore::GetReadError() const {
  return read_error_;
}

PersistentPrefStore::PrefReadError JsonPrefStore::ReadPrefs() {
  ReadResult result;
  ReadPrefsFromDisk(path_, &result);
  OnFileRead(&result);
  return read_error_;
}

void JsonPrefStore::ReadPrefsAsync() {
  // The reply owns the result and a reference to the store; both die on this thread after the reply ran.
  ReadResult* result = new ReadResult;
  const bool posted = task_runner_->PostTaskAndReply(
      FROM_HERE, base::Bind(&JsonPrefStore::ReadPrefsFromDisk, path_, base::Unretained(result)),
      base::Bind(&JsonPrefStore::OnFileRead, base::scoped_refptr<JsonPrefStore>(this), base::Owned(result)));
  if (!posted) {
    LOG(WARNING) << "Reading " << path_.value() << " on the calling thread: its task runner refused the read";
    ReadPrefs();
  }
}

void JsonPrefStore::CommitPendingWrite() {
  SchedulePendingLossyWrites();
  if (writer_.HasPendingWrite() && !read_only_)
    writer_.DoScheduledWrite();
}

void JsonPrefStore::SchedulePendingLossyWrites() {
  if (pending_lossy_write_ && !read_only_)
    writer_.ScheduleWrite(this);
}

void JsonPrefStore::ClearMutableValues() {
  NOTIMPLEMENTED();
}

bool JsonPrefStore::SerializeData(std::string* output) {
  // A write scheduled before the read found the file unfit to overwrite must not overwrite it.
  if (read_only_)
    return false;
  pending_lossy_write_ = false;
  write_count_histogram_.RecordWriteOccured();
  base::JsonStringValueSerializer serializer(output);
  return serializer.Serialize(*prefs_);
}

// static
void JsonPrefStore::ReadPrefsFromDisk(const base::FilePath& path, ReadResult* result) {
  base::JsonFileValueDeserializer deserializer(path);
  int error_code = 0;
  std::string error_message;
  result->value = deserializer.Deserialize(&error_code, &error_message);
  result->error = HandleReadErrors(result->value.get(), path, error_code, error_message, &result->bad_file_stuck);
  result->no_dir = !base::DirectoryExists(path.DirName());
  if (result->error == kPrefReadErrorNone) {
    base::HistogramBase* histogram = base::GetProcessWideHistogram(
        "Settings.JsonDataReadSizeKilobytes." + GetHistogramSuffix(path), 1, 10000, 50,
        base::HistogramBase::kReportedFlag);
    histogram->Add(static_cast<int>(std::min<uint64_t>(deserializer.get_last_read_size() / 1024, INT32_MAX)));
  }
}

void JsonPrefStore::OnFileRead(ReadResult* result) {
  read_error_ = result->error;
  if (result->no_dir) {
    observers_.ForEach([](PrefStore::Observer* observer) { observer->OnInitializationCompleted(false); });
    return;
  }
  switch (read_error_) {
    case kPrefReadErrorNone:
      prefs_.reset(static_cast<base::DictionaryValue*>(result->value.release()));
      break;
    case kPrefReadErrorJsonType:
    case kPrefReadErrorAccessDenied:
    case kPrefReadErrorFileOther:
    case kPrefReadErrorFileLocked:
      read_only_ = true;  // the file is there but unusable: never overwrite it
      break;
    case kPrefReadErrorJsonParse:
    case kPrefReadErrorJsonRepeat:
      // A damaged file is overwritten only once it has been moved aside.
      if (result->bad_file_stuck)
        read_only_ = true;
      break;
    default:
      break;
  }
  initialized_ = true;
  observers_.ForEach([](PrefStore::Observer* observer) { observer->OnInitializationCompleted(true); });
}

void JsonPrefStore::ScheduleWrite(uint32_t flags) {
  if (read_only_)
    return;
  if (flags & kLossyPrefWriteFlag)
    pending_lossy_write_ = true;
  else
    writer_.ScheduleWrite(this);
}

// WriteCountHistogram

JsonPrefStore::WriteCountHistogram::WriteCountHistogram(base::TimeDelta commit_interval, const base::FilePath& path)
    : WriteCountHistogram(commit_interval, path, std::make_unique<base::SystemTimeSource>()) {}

JsonPrefStore::WriteCountHistogram::WriteCountHistogram(base::TimeDelta commit_interval, const base::FilePath& path,
                                                        std::unique_ptr<base::TimeSource> time_source)
    : commit_interval_(commit_interval),
      path_(path),
      time_source_(std::move(time_source)),
      report_interval_(base::TimeDelta::FromSeconds(kReportIntervalSeconds)),
      last_report_time_(time_source_->Now()) {}

JsonPrefStore::WriteCountHistogram::~WriteCountHistogram() {
  ReportOutstandingWrites();
}

void JsonPrefStore::WriteCountHistogram::RecordWriteOccured() {
  ReportOutstandingWrites();
  ++writes_since_last_report_;
}

void JsonPrefStore::WriteCountHistogram::ReportOutstandingWrites() {
  const base::TimeDelta time_since_last_report = time_source_->Now() - last_report_time_;
  if (time_since_last_report <= report_interval_)
    return;
  base::HistogramBase* histogram = GetHistogram();
  // The writes counted so far all fall into the first interval that passed.
  histogram->Add(static_cast<int>(std::min<uint32_t>(writes_since_last_report_, INT32_MAX)));
  const int64_t intervals = time_since_last_report.InMicroseconds() / report_interval_.InMicroseconds();
  for (int64_t i = 1; i < intervals; ++i)
    histogram->Add(0);
  writes_since_last_report_ = 0;
  last_report_time_ += base::TimeDelta::FromMicroseconds(intervals * report_interval_.InMicroseconds());
}

base::HistogramBase* JsonPrefStore::WriteCountHistogram::GetHistogram() {
  // At least one bucket above the minimum, whatever the commit interval.
  const int64_t commit_us = std::max<int64_t>(commit_interval_.InMicroseconds(), 1);
  const int32_t maximum =
      static_cast<int32_t>(std::clamp<int64_t>(report_interval_.InMicroseconds() / commit_us, 2, 10000));
  return base::GetProcessWideHistogram("Settings.JsonDataWriteCount." + GetHistogramSuffix(path_), 1, maximum,
                                       static_cast<uint32_t>(maximum) + 1, base::HistogramBase::kReportedFlag);
}
