#include "testing/installer/recording_task_scheduler.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/service/task_scheduler_test_seam.h"

namespace test_support {

namespace {

using zorvi::installer::GetScheduledTaskName;

// Every process of a scenario sets the same path; the factory hook is a plain function, so it reads it here.
base::FilePath* g_record_file = nullptr;

zorvi::installer::TaskScheduler* CreateRecordingTaskScheduler() {
  return new RecordingTaskScheduler(*g_record_file);
}

// A mutex per record file: its path, lower-cased, with the backslashes a kernel object name may not hold.
std::wstring MutexName(const base::FilePath& path) {
  std::wstring name = L"Local\\zorvi_recorded_tasks_" + path.value();
  for (size_t i = 6; i < name.size(); ++i)
    name[i] = name[i] == L'\\' ? L'/' : static_cast<wchar_t>(towlower(name[i]));
  return name;
}

bool ListHas(const base::DictionaryValue& record, const std::string& list, const std::string& item) {
  const base::ListValue* items = nullptr;
  std::string text;
  return record.GetList(list, &items) && std::any_of(items->begin(), items->end(), [&](const auto& value) {
           return value->GetAsString(&text) && text == item;
         });
}

// The record's member `key`, made empty when it is missing or of another kind.
template <class Member>
Member* GetOrAdd(base::DictionaryValue* record, const std::string& key) {
  base::Value* value = nullptr;
  if (!record->GetWithoutPathExpansion(key, &value) || !value->IsType(Member().GetType())) {
    value = new Member;
    record->SetWithoutPathExpansion(key, value);  // owns it
  }
  return static_cast<Member*>(value);
}

std::unique_ptr<base::DictionaryValue> Suffix(const std::wstring& name_suffix) {
  auto details = std::make_unique<base::DictionaryValue>();
  details->SetStringWithoutPathExpansion("suffix", name_suffix);
  return details;
}

base::DictionaryValue* FindTask(base::DictionaryValue* tasks, const std::wstring& name_suffix) {
  base::Value* task = nullptr;
  base::DictionaryValue* dictionary = nullptr;
  if (!tasks->GetWithoutPathExpansion(base::WideToUTF8(GetScheduledTaskName(name_suffix)), &task) ||
      !task->GetAsDictionary(&dictionary)) {
    return nullptr;
  }
  return dictionary;
}

}  // namespace

RecordingTaskScheduler::RecordingTaskScheduler(const base::FilePath& record_file) : record_file_(record_file) {}

bool RecordingTaskScheduler::Record(const std::string& name, std::unique_ptr<base::DictionaryValue> details,
                                    const std::function<bool(base::DictionaryValue* tasks)>& change) {
  base::win::ScopedHandle mutex(CreateMutexW(nullptr, FALSE, MutexName(record_file_).c_str()));
  if (!mutex.IsValid() || WaitForSingleObject(mutex.Get(), INFINITE) == WAIT_FAILED) {
    LOG(ERROR) << "the recorded tasks' mutex failed, error " << GetLastError();
    return false;
  }
  struct Releaser {
    HANDLE mutex;
    ~Releaser() { ReleaseMutex(mutex); }
  } const releaser{mutex.Get()};

  std::unique_ptr<base::DictionaryValue> record = std::make_unique<base::DictionaryValue>();
  std::string text;
  if (base::ReadFileToString(record_file_, &text)) {
    std::unique_ptr<base::Value> parsed = base::JsonReader::Read(text);
    base::DictionaryValue* dictionary = nullptr;
    if (!parsed || !parsed->GetAsDictionary(&dictionary)) {
      LOG(ERROR) << "the recorded tasks in " << record_file_.value() << " are not a JSON object";
      return false;
    }
    record.reset(static_cast<base::DictionaryValue*>(parsed.release()));
  }
  registration_refused_ = ListHas(*record, "fail", "Register");
  const bool result =
      !ListHas(*record, "fail", name) && change(GetOrAdd<base::DictionaryValue>(record.get(), "tasks"));
  details->SetStringWithoutPathExpansion("call", name);
  details->SetIntegerWithoutPathExpansion("process", static_cast<int>(GetCurrentProcessId()));
  details->SetBooleanWithoutPathExpansion("result", result);
  GetOrAdd<base::ListValue>(record.get(), "calls")->Append(std::move(details));
  std::string json;
  if (!base::JsonWriter::Write(*record, &json) || !base::ImportantFileWriter::WriteFileAtomically(record_file_, json)) {
    LOG(ERROR) << "the recorded tasks could not be written to " << record_file_.value();
    return false;
  }
  return result;
}

bool RecordingTaskScheduler::Init() {
  return Record("Init", std::make_unique<base::DictionaryValue>(), [](base::DictionaryValue*) { return true; });
}

bool RecordingTaskScheduler::Create(const zorvi::installer::ScheduledTaskInfo& info) {
  return Record("Create", Suffix(info.name_suffix), [this, &info](base::DictionaryValue* tasks) {
    // The system's schedulers delete the task they replace before they register the new one.
    const std::string name = base::WideToUTF8(GetScheduledTaskName(info.name_suffix));
    tasks->RemoveWithoutPathExpansion(name, nullptr);
    if (registration_refused_)
      return false;
    auto task = std::make_unique<base::DictionaryValue>();
    task->SetStringWithoutPathExpansion("program", info.command_line.GetProgram().value());
    task->SetStringWithoutPathExpansion("arguments", info.command_line.GetArgumentsString());
    task->SetStringWithoutPathExpansion("description", info.description);
    task->SetBooleanWithoutPathExpansion("all_users", info.all_users);
    task->SetIntegerWithoutPathExpansion("execution_time_limit_seconds",
                                         static_cast<int>(info.execution_time_limit_seconds));
    task->SetIntegerWithoutPathExpansion("trigger_kind", static_cast<int>(info.trigger_kind));
    task->SetBooleanWithoutPathExpansion("add_logon_trigger", info.add_logon_trigger);
    task->SetBooleanWithoutPathExpansion("run_only_if_network_available", info.run_only_if_network_available);
    task->SetBooleanWithoutPathExpansion("enabled", true);
    // A run-once task has run and is gone as soon as it is registered.
    if (info.trigger_kind != zorvi::installer::TaskTriggerKind::kRunOnceNow)
      tasks->SetWithoutPathExpansion(name, std::move(task));
    return true;
  });
}

void RecordingTaskScheduler::RemoveStale() {
  Record("RemoveStale", std::make_unique<base::DictionaryValue>(), [](base::DictionaryValue* tasks) {
    std::vector<std::string> stale;
    for (base::DictionaryValue::Iterator it(*tasks); !it.IsAtEnd(); it.Advance()) {
      const base::DictionaryValue* task = nullptr;
      bool enabled = false;
      std::wstring program;
      if (zorvi::installer::IsProductTaskName(base::UTF8ToWide(it.key())) && it.value().GetAsDictionary(&task) &&
          task->GetBoolean("enabled", &enabled) && enabled && task->GetString("program", &program) &&
          zorvi::installer::IsTaskProgramGone(program)) {
        stale.push_back(it.key());
      }
    }
    for (const std::string& name : stale)
      tasks->RemoveWithoutPathExpansion(name, nullptr);
    return true;
  });
}

void RecordingTaskScheduler::Delete(const std::wstring& name_suffix) {
  Record("Delete", Suffix(name_suffix), [&name_suffix](base::DictionaryValue* tasks) {
    tasks->RemoveWithoutPathExpansion(base::WideToUTF8(GetScheduledTaskName(name_suffix)), nullptr);
    return true;
  });
}

void RecordingTaskScheduler::SetDailyInterval(const std::wstring& name_suffix, uint32_t days) {
  // Only the system's schedulers keep a schedule; the call is recorded.
  auto details = Suffix(name_suffix);
  details->SetIntegerWithoutPathExpansion("days", static_cast<int>(days));
  Record("SetDailyInterval", std::move(details), [](base::DictionaryValue*) { return true; });
}

void RecordingTaskScheduler::SetEnabled(const std::wstring& name_suffix, bool enabled) {
  auto details = Suffix(name_suffix);
  details->SetBooleanWithoutPathExpansion("enabled", enabled);
  Record("SetEnabled", std::move(details), [&](base::DictionaryValue* tasks) {
    if (base::DictionaryValue* task = FindTask(tasks, name_suffix))
      task->SetBooleanWithoutPathExpansion("enabled", enabled);
    return true;
  });
}

// Nothing is started: the arguments are recorded, and the call succeeds when the task is registered.
bool RecordingTaskScheduler::Run(const std::wstring& name_suffix, const std::vector<std::string>& arguments) {
  auto details = Suffix(name_suffix);
  auto list = std::make_unique<base::ListValue>();
  for (const std::string& argument : arguments)
    list->AppendString(argument);
  details->SetWithoutPathExpansion("arguments", std::move(list));
  return Record("Run", std::move(details),
                [&](base::DictionaryValue* tasks) { return FindTask(tasks, name_suffix) != nullptr; });
}

int RecordingTaskScheduler::GetState(const std::wstring& name_suffix) {
  int state = zorvi::installer::kTaskStateMissing;
  Record("GetState", Suffix(name_suffix), [&](base::DictionaryValue* tasks) {
    bool enabled = false;
    if (base::DictionaryValue* task = FindTask(tasks, name_suffix)) {
      state = task->GetBoolean("enabled", &enabled) && enabled ? zorvi::installer::kTaskStateReady
                                                                 : zorvi::installer::kTaskStateDisabled;
    }
    return true;
  });
  return state;
}

// Since Run starts nothing, no task has ever run.
base::Time RecordingTaskScheduler::GetLastRunTime(const std::wstring& name_suffix) {
  Record("GetLastRunTime", Suffix(name_suffix), [](base::DictionaryValue*) { return true; });
  return base::Time();
}

bool RecordingTaskScheduler::SaveTask(const std::wstring& name_suffix,
                                      zorvi::installer::SavedScheduledTask* saved) {
  return Record("Save", Suffix(name_suffix), [&](base::DictionaryValue* tasks) {
    std::string json;
    const base::DictionaryValue* task = FindTask(tasks, name_suffix);
    if (!task || !base::JsonWriter::Write(*task, &json))
      return false;
    saved->definition = base::UTF8ToWide(json);
    return true;
  });
}

bool RecordingTaskScheduler::RestoreTask(const std::wstring& name_suffix,
                                         const zorvi::installer::SavedScheduledTask& saved) {
  return Record("Restore", Suffix(name_suffix), [&](base::DictionaryValue* tasks) {
    std::unique_ptr<base::Value> task = base::JsonReader::Read(base::WideToUTF8(saved.definition));
    if (!task || !task->IsType(base::Value::kTypeDictionary))
      return false;
    tasks->SetWithoutPathExpansion(base::WideToUTF8(GetScheduledTaskName(name_suffix)), std::move(task));
    return true;
  });
}

void UseRecordingTaskSchedulerForTesting(const base::FilePath& record_file) {
  if (record_file.empty()) {
    zorvi::installer::SetTaskSchedulerFactoryForTesting(nullptr);
    return;
  }
  // Kept for the process's life: a scheduler made earlier may still be in use.
  g_record_file = new base::FilePath(record_file);
  zorvi::installer::SetTaskSchedulerFactoryForTesting(&CreateRecordingTaskScheduler);
}

}  // namespace test_support
