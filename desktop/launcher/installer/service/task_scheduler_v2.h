// The scheduler on the Task Scheduler 2.0 interfaces (Vista and later): tasks in the root folder "\".
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_

#include <windows.h>

#include <taskschd.h>

#include <string>
#include <vector>

#include "base/win/scoped_comptr.h"
#include "desktop/launcher/installer/service/task_scheduler.h"

namespace zorvi::installer {

class TaskSchedulerV2 : public TaskScheduler {
 public:
  bool Init() override;
  // Builds the whole definition before it touches the registered task: a definition the system cannot build
  // leaves the task it would have replaced in place (a refused registration does not: see RestoreTask).
  bool Create(const ScheduledTaskInfo& info) override;
  void RemoveStale() override;
  void Delete(const std::wstring& name_suffix) override;
  void SetDailyInterval(const std::wstring& name_suffix, uint32_t days) override;
  void SetEnabled(const std::wstring& name_suffix, bool enabled) override;
  bool Run(const std::wstring& name_suffix, const std::vector<std::string>& arguments) override;
  int GetState(const std::wstring& name_suffix) override;
  base::Time GetLastRunTime(const std::wstring& name_suffix) override;
  bool SaveTask(const std::wstring& name_suffix, SavedScheduledTask* saved) override;
  bool RestoreTask(const std::wstring& name_suffix, const SavedScheduledTask& saved) override;

 private:
  // The definition of a new task as `info` asks; false when any part of it cannot be set.
  bool BuildDefinition(const ScheduledTaskInfo& info, const std::wstring& user_name,
                       base::win::ScopedComPtr<ITaskDefinition>* definition);
  bool GetRegisteredTask(const std::wstring& name_suffix, base::win::ScopedComPtr<IRegisteredTask>* task);
  void DeleteTask(const std::wstring& task_name);

  base::win::ScopedComPtr<ITaskService> service_;
  base::win::ScopedComPtr<ITaskFolder> root_folder_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
