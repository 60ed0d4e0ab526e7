#include "desktop/launcher/installer/service/task_scheduler_v1.h"

#include <aclapi.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_local_memory.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

namespace {

using base::win::ScopedComPtr;

// The 1.0 classes and interfaces, which the SDK headers declare without their identifiers.
constexpr CLSID kSchedulerClassId = {0x148bd52a, 0xa2ab, 0x11ce, {0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kSchedulerInterfaceId = {
    0x148bd527, 0xa2ab, 0x11ce, {0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03}};
constexpr CLSID kTaskClassId = {0x148bd520, 0xa2ab, 0x11ce, {0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kTaskInterfaceId = {0x148bd524, 0xa2ab, 0x11ce, {0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03}};

// A string the scheduler allocated.
struct CoTaskMemDeleter {
  void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};
using ScopedCoString = std::unique_ptr<wchar_t, CoTaskMemDeleter>;

bool Save(ITask* task) {
  ScopedComPtr<IPersistFile> file;
  return SUCCEEDED(file.QueryFrom(task)) && SUCCEEDED(file->Save(nullptr, TRUE));
}

// Lets every authenticated user read and run the job file of a task that runs for all users.
bool GrantAuthenticatedUsersReadExecute(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &raw_descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const base::win::ScopedLocalMemory<> descriptor(raw_descriptor);
  WellKnownSid authenticated_users(WinAuthenticatedUserSid);
  base::win::ScopedLocalMemory<ACL> new_dacl;
  if (!authenticated_users.valid || AddGrantToDacl(dacl, authenticated_users.sid(), GENERIC_READ | GENERIC_EXECUTE,
                                                   NO_INHERITANCE, &new_dacl) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring writable_path = path;
  return SetNamedSecurityInfoW(writable_path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                               new_dacl.Get(), nullptr) == ERROR_SUCCESS;
}

// A trigger starting at the local time now, of `type`.
bool AddTrigger(ITask* task, TASK_TRIGGER_TYPE type, const SYSTEMTIME& now) {
  WORD index = 0;
  ScopedComPtr<ITaskTrigger> trigger;
  if (FAILED(task->CreateTrigger(&index, trigger.Receive())))
    return false;
  TASK_TRIGGER record = {};
  record.cbTriggerSize = sizeof(record);
  record.wBeginYear = now.wYear;
  record.wBeginMonth = now.wMonth;
  record.wBeginDay = now.wDay;
  record.wStartHour = now.wHour;
  record.wStartMinute = now.wMinute;
  record.TriggerType = type;
  if (type == TASK_TIME_TRIGGER_DAILY)
    record.Type.Daily.DaysInterval = 1;
  return SUCCEEDED(trigger->SetTrigger(&record));
}

}  // namespace

bool TaskSchedulerV1::Init() {
  if (FAILED(CoCreateInstance(kSchedulerClassId, nullptr, CLSCTX_INPROC_SERVER, kSchedulerInterfaceId,
                              scheduler_.ReceiveVoid()))) {
    scheduler_.Reset();
    return false;
  }
  return true;
}

bool TaskSchedulerV1::Activate(const std::wstring& task_name, ScopedComPtr<ITask>* task) {
  return scheduler_ && SUCCEEDED(scheduler_->Activate(task_name.c_str(), kTaskInterfaceId,
                                                      reinterpret_cast<IUnknown**>(task->Receive())));
}

bool TaskSchedulerV1::Create(const ScheduledTaskInfo& info) {
  if (!scheduler_)
    return false;
  std::wstring user_name;
  if (!GetCurrentUserName(true, &user_name))
    return false;
  const std::wstring task_name = GetScheduledTaskName(info.name_suffix);
  scheduler_->Delete(task_name.c_str());

  ScopedComPtr<ITask> task;
  if (FAILED(scheduler_->NewWorkItem(task_name.c_str(), kTaskClassId, kTaskInterfaceId,
                                     reinterpret_cast<IUnknown**>(task.Receive())))) {
    return false;
  }
  const bool run_once = info.trigger_kind == TaskTriggerKind::kRunOnceNow;
  // The empty account runs the task as the local system.
  const std::wstring account = info.all_users ? std::wstring() : user_name;
  const DWORD flags = TASK_FLAG_RUN_ONLY_IF_LOGGED_ON | (run_once ? TASK_FLAG_DELETE_WHEN_DONE : 0);
  const DWORD limit_ms = info.execution_time_limit_seconds ? info.execution_time_limit_seconds * 1000 : INFINITE;
  if (FAILED(task->SetAccountInformation(account.c_str(), nullptr)) ||
      FAILED(task->SetApplicationName(info.command_line.GetProgram().value().c_str())) ||
      FAILED(task->SetComment(info.description.c_str())) || FAILED(task->SetCreator(user_name.c_str())) ||
      FAILED(task->SetFlags(flags)) || FAILED(task->SetMaxRunTime(limit_ms)) ||
      FAILED(task->SetParameters(info.command_line.GetArgumentsString().c_str()))) {
    return false;
  }

  SYSTEMTIME now = {};
  GetLocalTime(&now);
  WORD index = 0;
  ScopedComPtr<ITaskTrigger> trigger;
  if (info.trigger_kind == TaskTriggerKind::kNone) {
    // The trigger keeps the scheduler's defaults.
    if (FAILED(task->CreateTrigger(&index, trigger.Receive())))
      return false;
  } else if (!AddTrigger(task.get(), run_once ? TASK_TIME_TRIGGER_ONCE : TASK_TIME_TRIGGER_DAILY, now)) {
    return false;
  }
  if (info.add_logon_trigger && !run_once && !AddTrigger(task.get(), TASK_EVENT_TRIGGER_AT_LOGON, now))
    return false;
  if (!Save(task.get()))
    return false;

  if (run_once) {
    // Saved, the task is created; a start that fails is the scheduler's to report.
    task->Run();
    return true;
  }
  if (info.all_users) {
    ScopedComPtr<IPersistFile> file;
    wchar_t* raw_path = nullptr;
    if (SUCCEEDED(file.QueryFrom(task.get())) && SUCCEEDED(file->GetCurFile(&raw_path))) {
      const ScopedCoString path(raw_path);
      GrantAuthenticatedUsersReadExecute(path.get());
    }
  }
  return true;
}

void TaskSchedulerV1::RemoveStale() {
  ScopedComPtr<IEnumWorkItems> items;
  if (!scheduler_ || FAILED(scheduler_->Enum(items.Receive())))
    return;
  std::vector<std::wstring> stale;
  wchar_t** names = nullptr;
  ULONG fetched = 0;
  while (items->Next(1, &names, &fetched) == S_OK && fetched == 1) {
    const ScopedCoString raw_name(names[0]);
    CoTaskMemFree(names);
    // The enumeration names the job files; the scheduler's other calls take the task's name.
    std::wstring name = raw_name.get();
    if (base::EndsWith(name, L".job", base::CompareCase::INSENSITIVE_ASCII))
      name.resize(name.size() - 4);
    ScopedComPtr<ITask> task;
    HRESULT status = S_OK;
    DWORD flags = 0;
    wchar_t* raw_program = nullptr;
    // A disabled task is left alone; the flag is asked too, since not every scheduler reports it as the status.
    if (!IsProductTaskName(name) || !Activate(name, &task) || FAILED(task->GetStatus(&status)) ||
        status == SCHED_S_TASK_DISABLED || FAILED(task->GetFlags(&flags)) || (flags & TASK_FLAG_DISABLED) ||
        FAILED(task->GetApplicationName(&raw_program))) {
      continue;
    }
    const ScopedCoString program(raw_program);
    if (IsTaskProgramGone(program.get()))
      stale.push_back(name);
  }
  for (const std::wstring& name : stale)
    scheduler_->Delete(name.c_str());
}

void TaskSchedulerV1::Delete(const std::wstring& name_suffix) {
  if (scheduler_)
    scheduler_->Delete(GetScheduledTaskName(name_suffix).c_str());
}

void TaskSchedulerV1::SetDailyInterval(const std::wstring& name_suffix, uint32_t days) {
  ScopedComPtr<ITask> task;
  WORD count = 0;
  if (!Activate(GetScheduledTaskName(name_suffix), &task) || FAILED(task->GetTriggerCount(&count)))
    return;
  for (WORD index = 0; index < count; ++index) {
    ScopedComPtr<ITaskTrigger> trigger;
    TASK_TRIGGER record = {};
    record.cbTriggerSize = sizeof(record);
    if (FAILED(task->GetTrigger(index, trigger.Receive())) || FAILED(trigger->GetTrigger(&record)) ||
        record.TriggerType != TASK_TIME_TRIGGER_DAILY) {
      continue;
    }
    if (record.Type.Daily.DaysInterval != days) {
      record.Type.Daily.DaysInterval = static_cast<WORD>(days);
      if (SUCCEEDED(trigger->SetTrigger(&record)))
        Save(task.get());
    }
    return;
  }
}

void TaskSchedulerV1::SetEnabled(const std::wstring& name_suffix, bool enabled) {
  ScopedComPtr<ITask> task;
  DWORD flags = 0;
  if (!Activate(GetScheduledTaskName(name_suffix), &task) || FAILED(task->GetFlags(&flags)))
    return;
  flags = enabled ? flags & ~TASK_FLAG_DISABLED : flags | TASK_FLAG_DISABLED;
  if (SUCCEEDED(task->SetFlags(flags)))
    Save(task.get());
}

bool TaskSchedulerV1::Run(const std::wstring& name_suffix, const std::vector<std::string>& /*arguments*/) {
  ScopedComPtr<ITask> task;
  return Activate(GetScheduledTaskName(name_suffix), &task) && SUCCEEDED(task->Run());
}

int TaskSchedulerV1::GetState(const std::wstring& name_suffix) {
  ScopedComPtr<ITask> task;
  if (!Activate(GetScheduledTaskName(name_suffix), &task))
    return kTaskStateMissing;
  HRESULT status = S_OK;
  if (FAILED(task->GetStatus(&status)))
    return kTaskStateOther;
  switch (status) {
    case SCHED_S_TASK_READY:
    case SCHED_S_TASK_HAS_NOT_RUN:
      return kTaskStateReady;
    case SCHED_S_TASK_RUNNING:
      return kTaskStateRunning;
    case SCHED_S_TASK_DISABLED:
      return kTaskStateDisabled;
    case SCHED_S_TASK_NO_MORE_RUNS:
    case SCHED_S_TASK_NOT_SCHEDULED:
    case SCHED_S_TASK_NO_VALID_TRIGGERS:
      return kTaskStateNotScheduled;
    default:
      return kTaskStateOther;
  }
}

base::Time TaskSchedulerV1::GetLastRunTime(const std::wstring& name_suffix) {
  ScopedComPtr<ITask> task;
  SYSTEMTIME fields = {};
  if (!Activate(GetScheduledTaskName(name_suffix), &task))
    return base::Time();
  const HRESULT result = task->GetMostRecentRunTime(&fields);
  if (FAILED(result) || result == SCHED_S_TASK_HAS_NOT_RUN)
    return base::Time();
  const base::Time::Exploded local = {fields.wYear, fields.wMonth, fields.wDayOfWeek, fields.wDay,
                                      fields.wHour, fields.wMinute, fields.wSecond,    0};
  return base::Time::FromLocalExploded(local);
}

// A job file's task is not read back: the 1.0 scheduler has no text of a whole task to register again.
bool TaskSchedulerV1::SaveTask(const std::wstring&, SavedScheduledTask*) {
  return false;
}

bool TaskSchedulerV1::RestoreTask(const std::wstring&, const SavedScheduledTask&) {
  return false;
}

}  // namespace zorvi::installer
