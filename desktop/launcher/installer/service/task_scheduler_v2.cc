#include "desktop/launcher/installer/service/task_scheduler_v2.h"

#include <oleauto.h>

#include <utility>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/strings/sys_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/utils.h"

// The registration, boot and logon triggers' own interfaces, which the toolchain's headers lack: each adds its
// delay (and the logon trigger its user) to ITrigger.
struct IRegistrationTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};
__CRT_UUID_DECL(IRegistrationTrigger, 0x4c8fec3d, 0xc218, 0x4e0c, 0xb2, 0x3d, 0x62, 0x90, 0x24, 0xdb, 0x91, 0xa2)

struct IBootTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};
__CRT_UUID_DECL(IBootTrigger, 0x2a9c35da, 0xd357, 0x41f4, 0xbb, 0xc1, 0x20, 0x7a, 0xc1, 0xb1, 0xf3, 0xcb)

struct ILogonTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
__CRT_UUID_DECL(ILogonTrigger, 0x72dade38, 0xfae4, 0x4b3e, 0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c)

namespace zorvi::installer {

namespace {

using base::win::ScopedBstr;
using base::win::ScopedComPtr;
using base::win::ScopedVariant;

// {0F87369F-A4E5-4CFC-BD3E-73E6154572DD}
constexpr CLSID kTaskSchedulerClassId = {
    0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};

constexpr wchar_t kRunOnceTriggerId[] = L"Run once";
constexpr wchar_t kDailyTriggerId[] = L"Daily run";
constexpr wchar_t kLogonTriggerId[] = L"Logon run";
// Logon and boot starts wait a little, so the update check does not compete with the user's own start-up.
constexpr wchar_t kLogonDelay[] = L"PT5M";
// Tasks for every user run as the local system; authenticated users may read and run them.
constexpr wchar_t kSystemAccount[] = L"SYSTEM";
constexpr wchar_t kAllUsersTaskSddl[] = L"D:(A;;GRGX;;;AU)";
// How long a run-once task may wait for its start after registration.
constexpr int kRunOnceWindowSeconds = 30;

std::wstring ToWide(const ScopedBstr& text) {
  return text.Get() ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

// The local time in the form the scheduler takes for boundaries.
std::wstring FormatBoundary(base::Time time) {
  base::Time::Exploded local = {};
  time.LocalExplode(&local);
  return base::StringPrintf(L"%02d-%02d-%02dT%02d:%02d:%02d", local.year, local.month, local.day_of_month,
                            local.hour, local.minute, local.second);
}

// Adds a trigger of `type` with the id and start (or, for registration triggers, end) boundary given.
bool AddTrigger(ITriggerCollection* triggers, TASK_TRIGGER_TYPE2 type, const wchar_t* id,
                const std::wstring& boundary, bool end_boundary, ScopedComPtr<ITrigger>* trigger) {
  HRESULT result = triggers->Create(type, trigger->Receive());
  if (SUCCEEDED(result)) {
    const ScopedBstr id_text(id);
    const ScopedBstr boundary_text(boundary.c_str());
    ITrigger* added = trigger->get();
    result = added->put_Id(id_text.Get());
    if (SUCCEEDED(result) && end_boundary)
      result = added->put_EndBoundary(boundary_text.Get());
    else if (SUCCEEDED(result))
      result = added->put_StartBoundary(boundary_text.Get());
  }
  // A scheduler that refuses a trigger refuses the whole task: say which one, or the failure has no cause.
  if (FAILED(result))
    LOG(ERROR) << "Failed adding task trigger " << id << ": " << result;
  return SUCCEEDED(result);
}

// Sets the delay of a boot or logon trigger.
template <class Interface>
bool SetTriggerDelay(ITrigger* trigger) {
  ScopedComPtr<Interface> typed;
  if (FAILED(typed.QueryFrom(trigger)))
    return false;
  const ScopedBstr delay(kLogonDelay);
  return SUCCEEDED(typed->put_Delay(delay.Get()));
}

bool AddTriggers(ITaskDefinition* definition, const ScheduledTaskInfo& info, const std::wstring& user_name) {
  ScopedComPtr<ITriggerCollection> triggers;
  if (FAILED(definition->get_Triggers(triggers.Receive())))
    return false;
  const bool run_once = info.trigger_kind == TaskTriggerKind::kRunOnceNow;
  const std::wstring boundary =
      FormatBoundary(base::Time::Now() + base::TimeDelta::FromSeconds(run_once ? kRunOnceWindowSeconds : 0));
  if (run_once) {
    ScopedComPtr<ITrigger> trigger;
    ScopedComPtr<IRegistrationTrigger> registration;
    if (!AddTrigger(triggers.get(), TASK_TRIGGER_REGISTRATION, kRunOnceTriggerId, boundary, true, &trigger) ||
        FAILED(registration.QueryFrom(trigger.get()))) {
      return false;
    }
  } else if (info.trigger_kind == TaskTriggerKind::kDaily) {
    ScopedComPtr<ITrigger> trigger;
    ScopedComPtr<IDailyTrigger> daily;
    if (!AddTrigger(triggers.get(), TASK_TRIGGER_DAILY, kDailyTriggerId, boundary, false, &trigger) ||
        FAILED(daily.QueryFrom(trigger.get())) || FAILED(daily->put_DaysInterval(1))) {
      return false;
    }
  }
  if (!info.add_logon_trigger || run_once)
    return true;
  ScopedComPtr<ITrigger> trigger;
  if (info.all_users) {
    return AddTrigger(triggers.get(), TASK_TRIGGER_BOOT, kLogonTriggerId, boundary, false, &trigger) &&
           SetTriggerDelay<IBootTrigger>(trigger.get());
  }
  ScopedComPtr<ILogonTrigger> logon;
  const ScopedBstr user(user_name.c_str());
  return AddTrigger(triggers.get(), TASK_TRIGGER_LOGON, kLogonTriggerId, boundary, false, &trigger) &&
         SetTriggerDelay<ILogonTrigger>(trigger.get()) && SUCCEEDED(logon.QueryFrom(trigger.get())) &&
         SUCCEEDED(logon->put_UserId(user.Get()));
}

bool SetSettings(ITaskDefinition* definition, const ScheduledTaskInfo& info) {
  ScopedComPtr<ITaskSettings> settings;
  if (FAILED(definition->get_Settings(settings.Receive())))
    return false;
  const ScopedBstr limit(base::StringPrintf(L"PT%uS", info.execution_time_limit_seconds).c_str());
  if (FAILED(settings->put_ExecutionTimeLimit(limit.Get())) ||
      FAILED(settings->put_MultipleInstances(TASK_INSTANCES_IGNORE_NEW)) ||
      FAILED(settings->put_RunOnlyIfNetworkAvailable(info.run_only_if_network_available ? VARIANT_TRUE
                                                                                        : VARIANT_FALSE)) ||
      FAILED(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_StartWhenAvailable(VARIANT_TRUE))) {
    return false;
  }
  if (info.trigger_kind != TaskTriggerKind::kRunOnceNow)
    return true;
  const ScopedBstr expiry(L"PT0S");
  return SUCCEEDED(settings->put_DeleteExpiredTaskAfter(expiry.Get()));
}

bool SetAction(ITaskDefinition* definition, const base::CommandLine& command_line) {
  ScopedComPtr<IActionCollection> actions;
  ScopedComPtr<IAction> action;
  ScopedComPtr<IExecAction> exec;
  if (FAILED(definition->get_Actions(actions.Receive())) ||
      FAILED(actions->Create(TASK_ACTION_EXEC, action.Receive())) || FAILED(exec.QueryFrom(action.get()))) {
    return false;
  }
  const ScopedBstr program(command_line.GetProgram().value().c_str());
  const ScopedBstr arguments(command_line.GetArgumentsString().c_str());
  return SUCCEEDED(exec->put_Path(program.Get())) && SUCCEEDED(exec->put_Arguments(arguments.Get()));
}

// The path of a task's program when its definition holds exactly one action, of the exec type.
bool GetSingleProgram(IRegisteredTask* task, std::wstring* program) {
  ScopedComPtr<ITaskDefinition> definition;
  ScopedComPtr<IActionCollection> actions;
  LONG count = 0;
  if (FAILED(task->get_Definition(definition.Receive())) || FAILED(definition->get_Actions(actions.Receive())) ||
      FAILED(actions->get_Count(&count)) || count != 1) {
    return false;
  }
  ScopedComPtr<IAction> action;
  TASK_ACTION_TYPE type;
  ScopedComPtr<IExecAction> exec;
  ScopedBstr path;
  if (FAILED(actions->get_Item(1, action.Receive())) || FAILED(action->get_Type(&type)) ||
      type != TASK_ACTION_EXEC || FAILED(exec.QueryFrom(action.get())) || FAILED(exec->get_Path(path.Receive()))) {
    return false;
  }
  *program = ToWide(path);
  return true;
}

}  // namespace

bool TaskSchedulerV2::Init() {
  if (FAILED(service_.CreateInstance(kTaskSchedulerClassId, nullptr, CLSCTX_INPROC_SERVER))) {
    service_.Reset();
    return false;
  }
  const ScopedVariant server, user, domain, password;
  const ScopedBstr root(L"\\");
  if (FAILED(service_->Connect(server.Get(), user.Get(), domain.Get(), password.Get())) ||
      FAILED(service_->GetFolder(root.Get(), root_folder_.Receive()))) {
    root_folder_.Reset();
    return false;
  }
  return true;
}

bool TaskSchedulerV2::BuildDefinition(const ScheduledTaskInfo& info, const std::wstring& user_name,
                                      ScopedComPtr<ITaskDefinition>* definition) {
  ScopedComPtr<IRegistrationInfo> registration;
  if (FAILED(service_->NewTask(0, definition->Receive())) ||
      FAILED((*definition)->get_RegistrationInfo(registration.Receive()))) {
    return false;
  }
  const ScopedBstr author(user_name.c_str());
  const ScopedBstr description(info.description.c_str());
  if (FAILED(registration->put_Author(author.Get())) || FAILED(registration->put_Description(description.Get())))
    return false;
  ITaskDefinition* built = definition->get();
  if (!SetSettings(built, info) || !AddTriggers(built, info, user_name) || !SetAction(built, info.command_line))
    return false;
  if (!IsUserAdmin(false))
    return true;
  ScopedComPtr<IPrincipal> principal;
  return SUCCEEDED(built->get_Principal(principal.Receive())) &&
         SUCCEEDED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST));
}

bool TaskSchedulerV2::Create(const ScheduledTaskInfo& info) {
  if (!root_folder_)
    return false;
  std::wstring user_name;
  if (!GetCurrentUserName(true, &user_name))
    return false;
  const std::wstring task_name = GetScheduledTaskName(info.name_suffix);
  ScopedComPtr<ITaskDefinition> definition;
  if (!BuildDefinition(info, user_name, &definition))
    return false;
  // Only a complete definition replaces the registered task.
  DeleteTask(task_name);

  const ScopedBstr name(task_name.c_str());
  const ScopedVariant account(info.all_users ? kSystemAccount : user_name.c_str());
  const ScopedVariant no_password;
  const ScopedVariant no_sddl(L"");
  ScopedComPtr<IRegisteredTask> registered;
  const HRESULT result = root_folder_->RegisterTaskDefinition(
      name.Get(), definition.get(), TASK_CREATE_OR_UPDATE, account.Get(), no_password.Get(),
      info.all_users ? TASK_LOGON_SERVICE_ACCOUNT : TASK_LOGON_INTERACTIVE_TOKEN, no_sddl.Get(),
      registered.Receive());
  if (FAILED(result)) {
    LOG(ERROR) << "Failed task registration: " << result;
    return false;
  }
  if (info.all_users) {
    const ScopedBstr sddl(kAllUsersTaskSddl);
    const HRESULT sddl_result = registered->SetSecurityDescriptor(sddl.Get(), 0);
    if (FAILED(sddl_result))
      LOG(ERROR) << "Failed setting SDDL: " << sddl_result;
  }
  // The registration trigger has started it already.
  if (info.trigger_kind == TaskTriggerKind::kRunOnceNow)
    DeleteTask(task_name);
  return true;
}

void TaskSchedulerV2::RemoveStale() {
  if (!root_folder_)
    return;
  ScopedComPtr<IRegisteredTaskCollection> tasks;
  LONG count = 0;
  if (FAILED(root_folder_->GetTasks(0, tasks.Receive())) || FAILED(tasks->get_Count(&count)))
    return;
  // Names first: deleting while walking the live collection would shift its indexes.
  std::vector<std::wstring> stale;
  for (LONG index = 1; index <= count; ++index) {
    ScopedComPtr<IRegisteredTask> task;
    ScopedBstr name;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    VARIANT item_index;
    VariantInit(&item_index);
    item_index.vt = VT_I4;
    item_index.lVal = index;
    if (FAILED(tasks->get_Item(item_index, task.Receive())) || FAILED(task->get_Name(name.Receive())))
      continue;
    const std::wstring task_name = ToWide(name);
    std::wstring program;
    if (!IsProductTaskName(task_name) || FAILED(task->get_Enabled(&enabled)) || enabled != VARIANT_TRUE ||
        !GetSingleProgram(task.get(), &program)) {
      continue;
    }
    if (IsTaskProgramGone(program))
      stale.push_back(task_name);
  }
  for (const std::wstring& task_name : stale)
    DeleteTask(task_name);
}

void TaskSchedulerV2::DeleteTask(const std::wstring& task_name) {
  const ScopedBstr name(task_name.c_str());
  root_folder_->DeleteTask(name.Get(), 0);
}

void TaskSchedulerV2::Delete(const std::wstring& name_suffix) {
  if (root_folder_)
    DeleteTask(GetScheduledTaskName(name_suffix));
}

bool TaskSchedulerV2::GetRegisteredTask(const std::wstring& name_suffix, ScopedComPtr<IRegisteredTask>* task) {
  if (!root_folder_)
    return false;
  const ScopedBstr name(GetScheduledTaskName(name_suffix).c_str());
  return SUCCEEDED(root_folder_->GetTask(name.Get(), task->Receive()));
}

void TaskSchedulerV2::SetDailyInterval(const std::wstring& name_suffix, uint32_t days) {
  ScopedComPtr<IRegisteredTask> task;
  ScopedComPtr<ITaskDefinition> definition;
  ScopedComPtr<ITriggerCollection> triggers;
  LONG count = 0;
  if (!GetRegisteredTask(name_suffix, &task) || FAILED(task->get_Definition(definition.Receive())) ||
      FAILED(definition->get_Triggers(triggers.Receive())) || FAILED(triggers->get_Count(&count))) {
    return;
  }
  for (LONG index = 1; index <= count; ++index) {
    ScopedComPtr<ITrigger> trigger;
    TASK_TRIGGER_TYPE2 type;
    if (FAILED(triggers->get_Item(index, trigger.Receive())) || FAILED(trigger->get_Type(&type)) ||
        type != TASK_TRIGGER_DAILY) {
      continue;
    }
    ScopedComPtr<IDailyTrigger> daily;
    short interval = 0;
    if (FAILED(daily.QueryFrom(trigger.get())) || FAILED(daily->get_DaysInterval(&interval)) ||
        static_cast<uint32_t>(interval) == days || FAILED(daily->put_DaysInterval(static_cast<short>(days)))) {
      return;
    }
    const ScopedBstr name(GetScheduledTaskName(name_suffix).c_str());
    const ScopedVariant no_user, no_password;
    const ScopedVariant no_sddl(L"");
    ScopedComPtr<IRegisteredTask> updated;
    root_folder_->RegisterTaskDefinition(name.Get(), definition.get(), TASK_UPDATE, no_user.Get(),
                                         no_password.Get(), TASK_LOGON_NONE, no_sddl.Get(), updated.Receive());
    return;
  }
}

void TaskSchedulerV2::SetEnabled(const std::wstring& name_suffix, bool enabled) {
  ScopedComPtr<IRegisteredTask> task;
  if (GetRegisteredTask(name_suffix, &task))
    task->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
}

bool TaskSchedulerV2::Run(const std::wstring& name_suffix, const std::vector<std::string>& arguments) {
  ScopedComPtr<IRegisteredTask> task;
  if (!GetRegisteredTask(name_suffix, &task))
    return false;
  ScopedVariant parameters;
  if (!arguments.empty()) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(arguments.size()));
    if (!array || !parameters.Set(array)) {
      if (array)
        SafeArrayDestroy(array);
      return false;
    }
    for (LONG index = 0; index < static_cast<LONG>(arguments.size()); ++index) {
      const std::wstring wide = base::SystemMultiByteToWide(arguments[index], CP_ACP);
      const ScopedBstr argument(wide.c_str());
      // SafeArrayPutElement copies the string.
      if (FAILED(SafeArrayPutElement(array, &index, argument.Get())))
        return false;
    }
  }
  ScopedComPtr<IRunningTask> running;
  return SUCCEEDED(task->Run(parameters.Get(), running.Receive()));
}

int TaskSchedulerV2::GetState(const std::wstring& name_suffix) {
  ScopedComPtr<IRegisteredTask> task;
  if (!GetRegisteredTask(name_suffix, &task))
    return kTaskStateMissing;
  TASK_STATE state;
  if (FAILED(task->get_State(&state)))
    return kTaskStateOther;
  switch (state) {
    case TASK_STATE_DISABLED:
      return kTaskStateDisabled;
    case TASK_STATE_QUEUED:
    case TASK_STATE_READY:
      return kTaskStateReady;
    case TASK_STATE_RUNNING:
      return kTaskStateRunning;
    default:
      return kTaskStateOther;
  }
}

base::Time TaskSchedulerV2::GetLastRunTime(const std::wstring& name_suffix) {
  ScopedComPtr<IRegisteredTask> task;
  DATE date = 0;
  SYSTEMTIME fields = {};
  if (!GetRegisteredTask(name_suffix, &task))
    return base::Time();
  // A task that never ran answers with a success code and the zero date (30 December 1899), which is no run.
  const HRESULT result = task->get_LastRunTime(&date);
  if (FAILED(result) || result == SCHED_S_TASK_HAS_NOT_RUN || date == 0 || !VariantTimeToSystemTime(date, &fields))
    return base::Time();
  const base::Time::Exploded local = {fields.wYear, fields.wMonth, fields.wDayOfWeek, fields.wDay,
                                      fields.wHour, fields.wMinute, fields.wSecond,    0};
  return base::Time::FromLocalExploded(local);
}

bool TaskSchedulerV2::SaveTask(const std::wstring& name_suffix, SavedScheduledTask* saved) {
  ScopedComPtr<IRegisteredTask> task;
  ScopedComPtr<ITaskDefinition> definition;
  ScopedComPtr<IPrincipal> principal;
  ScopedBstr text;
  ScopedBstr user;
  TASK_LOGON_TYPE logon_type = TASK_LOGON_NONE;
  if (!GetRegisteredTask(name_suffix, &task) || FAILED(task->get_Definition(definition.Receive())) ||
      FAILED(definition->get_XmlText(text.Receive())) || FAILED(definition->get_Principal(principal.Receive())) ||
      FAILED(principal->get_UserId(user.Receive())) || FAILED(principal->get_LogonType(&logon_type))) {
    return false;
  }
  // A list that cannot be read leaves the scheduler's default access to the task registered again.
  ScopedBstr sddl;
  if (FAILED(task->GetSecurityDescriptor(DACL_SECURITY_INFORMATION, sddl.Receive())))
    sddl.Reset();
  saved->definition = ToWide(text);
  saved->user = ToWide(user);
  saved->logon_type = logon_type;
  saved->sddl = ToWide(sddl);
  return true;
}

bool TaskSchedulerV2::RestoreTask(const std::wstring& name_suffix, const SavedScheduledTask& saved) {
  if (!root_folder_)
    return false;
  const ScopedBstr name(GetScheduledTaskName(name_suffix).c_str());
  const ScopedBstr text(saved.definition.c_str());
  // No account: the one the definition names.
  const ScopedVariant account = saved.user.empty() ? ScopedVariant() : ScopedVariant(saved.user.c_str());
  const ScopedVariant no_password;
  const ScopedVariant sddl(saved.sddl.c_str());
  ScopedComPtr<IRegisteredTask> registered;
  const HRESULT result =
      root_folder_->RegisterTask(name.Get(), text.Get(), TASK_CREATE, account.Get(), no_password.Get(),
                                 static_cast<TASK_LOGON_TYPE>(saved.logon_type), sddl.Get(), registered.Receive());
  if (FAILED(result)) {
    LOG(ERROR) << "Failed task registration: " << result;
    return false;
  }
  return true;
}

}  // namespace zorvi::installer
