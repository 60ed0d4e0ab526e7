#include "desktop/launcher/installer/service/task_scheduler.h"

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/product_resource_ids.h"
#include "desktop/launcher/installer/service/task_scheduler_test_seam.h"
#include "desktop/launcher/installer/service/task_scheduler_v1.h"
#include "desktop/launcher/installer/service/task_scheduler_v2.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer {

namespace {

std::wstring GetTaskNamePrefix() {
  return base::UTF8ToWide(GetBrandingProductName()) + L" scheduled ";
}

constexpr uint32_t kAutoupdateTimeLimitSeconds = 3600;

}  // namespace

ScheduledTaskInfo GetAutoupdateTaskInfo(const base::FilePath& install_folder, const std::wstring& application_id,
                                        bool all_users) {
  ScheduledTaskInfo info;
  info.command_line = base::CommandLine(install_folder.Append(kLauncherFileName));
  info.command_line.AppendSwitch(kScheduledAutoupdateSwitch);
  info.command_line.AppendArg("$(Arg0)");
  info.name_suffix = L"Autoupdate " + application_id;
  info.description = GetLocalizedString(IDS_AUTOUPDATE_TASK);
  info.all_users = all_users;
  info.execution_time_limit_seconds = kAutoupdateTimeLimitSeconds;
  const bool scheduled = GetBrandingScheduleAutoupdateTask();
  info.trigger_kind = scheduled ? TaskTriggerKind::kDaily : TaskTriggerKind::kNone;
  info.add_logon_trigger = scheduled;
  info.run_only_if_network_available = true;
  return info;
}

TaskScheduler* CreateTaskScheduler() {
  if (TaskSchedulerFactoryHook hook = GetTaskSchedulerFactoryHook())
    return hook();
  if (base::win::GetVersion() >= base::win::VERSION_VISTA)
    return new TaskSchedulerV2();
  return new TaskSchedulerV1();
}

bool CreateAutoupdateTask(const base::FilePath& install_folder, const std::wstring& application_id, bool all_users) {
  const std::unique_ptr<TaskScheduler> scheduler(CreateTaskScheduler());
  LOG(INFO) << "Creating scheduled task";
  if (!scheduler->Init()) {
    LOG(ERROR) << "Could not initialize task scheduler";
    return false;
  }
  scheduler->RemoveStale();
  const ScheduledTaskInfo info = GetAutoupdateTaskInfo(install_folder, application_id, all_users);
  // Create deletes the task it replaces before registering the new one: when the registration is refused, an
  // upgrade would leave the installation without updates.
  SavedScheduledTask previous;
  const bool had_previous = scheduler->SaveTask(info.name_suffix, &previous);
  if (!scheduler->Create(info)) {
    LOG(ERROR) << "Could not create scheduled task";
    if (had_previous && scheduler->GetState(info.name_suffix) == kTaskStateMissing &&
        !scheduler->RestoreTask(info.name_suffix, previous)) {
      LOG(ERROR) << "Could not register the previous scheduled task again";
    }
    return false;
  }
  return true;
}

void RemoveAutoupdateTask(const std::string& application_id) {
  const std::unique_ptr<TaskScheduler> scheduler(CreateTaskScheduler());
  if (!scheduler->Init())
    return;
  scheduler->RemoveStale();
  scheduler->Delete(L"Autoupdate " + base::UTF8ToWide(application_id));
}

std::wstring GetScheduledTaskName(const std::wstring& name_suffix) {
  return GetTaskNamePrefix() + name_suffix;
}

bool IsProductTaskName(std::wstring_view task_name) {
  return base::StartsWith(task_name, GetTaskNamePrefix(), base::CompareCase::INSENSITIVE_ASCII);
}

bool IsTaskProgramGone(const std::wstring& program) {
  std::wstring path = program;
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
    path = path.substr(1, path.size() - 2);
  const DWORD size = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
  if (size == 0)
    return false;
  std::wstring expanded(size, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(path.c_str(), expanded.data(), size);
  if (written == 0 || written > size)
    return false;
  expanded.resize(written - 1);
  // A variable that is not set stays as it was written.
  if (expanded.find(L'%') != std::wstring::npos || expanded.find(L'"') != std::wstring::npos)
    return false;
  const base::FilePath file(expanded);
  return file.IsAbsolute() && !base::PathExists(file);
}

}  // namespace zorvi::installer
