// The scheduler on the Task Scheduler 1.0 interfaces (job files), for Windows versions before Vista. It has no
// folders, no run-time parameters and no boot trigger: a task for every user runs as the local system.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_

#include <windows.h>

#include <mstask.h>

#include <string>
#include <vector>

#include "base/win/scoped_comptr.h"
#include "desktop/launcher/installer/service/task_scheduler.h"

namespace zorvi::installer {

class TaskSchedulerV1 : public TaskScheduler {
 public:
  bool Init() override;
  bool Create(const ScheduledTaskInfo& info) override;
  void RemoveStale() override;
  void Delete(const std::wstring& name_suffix) override;
  void SetDailyInterval(const std::wstring& name_suffix, uint32_t days) override;
  void SetEnabled(const std::wstring& name_suffix, bool enabled) override;
  // Run-time parameters do not exist here: `arguments` is not used.
  bool Run(const std::wstring& name_suffix, const std::vector<std::string>& arguments) override;
  int GetState(const std::wstring& name_suffix) override;
  base::Time GetLastRunTime(const std::wstring& name_suffix) override;
  bool SaveTask(const std::wstring& name_suffix, SavedScheduledTask* saved) override;
  bool RestoreTask(const std::wstring& name_suffix, const SavedScheduledTask& saved) override;

 private:
  bool Activate(const std::wstring& task_name, base::win::ScopedComPtr<ITask>* task);

  base::win::ScopedComPtr<ITaskScheduler> scheduler_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_
