// The installer's view of the system's task scheduler: the autoupdate task is registered when an installation is
// finalized and deleted when it is uninstalled. Two implementations sit behind TaskScheduler: the Task Scheduler
// 2.0 interfaces from Vista on (task_scheduler_v2.h) and the 1.0 job files before it (task_scheduler_v1.h).
//
// A scheduler object lives for one use on a thread with COM initialised: CreateTaskScheduler, Init, then one
// or two operations (usually RemoveStale and then Create or Delete), then delete.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/time/time.h"

namespace zorvi::installer {

// When a task runs besides on demand.
enum class TaskTriggerKind : uint32_t {
  kRunOnceNow = 0,  // runs once right after registration and is removed
  kDaily = 1,
  kNone = 2,  // only on demand (and at logon or boot when asked for)
};

// What the caller wants registered.
struct ScheduledTaskInfo {
  base::CommandLine command_line;  // the single action's program and arguments
  std::wstring name_suffix;        // see GetScheduledTaskName
  std::wstring description;
  bool all_users = false;  // the installation serves every user of the machine
  uint32_t execution_time_limit_seconds = 0;  // 0: no limit
  TaskTriggerKind trigger_kind = TaskTriggerKind::kNone;
  bool add_logon_trigger = false;  // ignored for kRunOnceNow
  bool run_only_if_network_available = false;
};

// What GetState reports.
enum TaskState : int {
  kTaskStateMissing = 0,
  kTaskStateDisabled = 1,
  kTaskStateOther = 2,  // also: not readable
  kTaskStateReady = 3,  // also queued, or not yet run
  kTaskStateRunning = 4,
  kTaskStateNotScheduled = 5,  // 1.0 only: no more runs, not scheduled, no valid triggers
};

// What a registered task needs to be registered again as it was: the scheduler's own text of its definition, and
// the account, logon kind and access list it was registered with.
struct SavedScheduledTask {
  std::wstring definition;
  std::wstring user;
  int logon_type = 0;
  std::wstring sddl;  // empty: the scheduler's default access
};

class TaskScheduler {
 public:
  TaskScheduler() = default;
  TaskScheduler(const TaskScheduler&) = delete;
  TaskScheduler& operator=(const TaskScheduler&) = delete;
  virtual ~TaskScheduler() = default;

  // Connects to the system's scheduler; every other operation needs it to have succeeded.
  virtual bool Init() = 0;
  // Registers the task, replacing one of the same name.
  virtual bool Create(const ScheduledTaskInfo& info) = 0;
  // Deletes enabled tasks of this product whose single program no longer exists (an installation removed by
  // hand). Failures leave the task in question alone.
  virtual void RemoveStale() = 0;
  virtual void Delete(const std::wstring& name_suffix) = 0;
  // Changes the days interval of the task's first daily trigger.
  virtual void SetDailyInterval(const std::wstring& name_suffix, uint32_t days) = 0;
  virtual void SetEnabled(const std::wstring& name_suffix, bool enabled) = 0;
  // Starts the task now, passing `arguments` where the scheduler supports run-time parameters.
  virtual bool Run(const std::wstring& name_suffix, const std::vector<std::string>& arguments) = 0;
  virtual int GetState(const std::wstring& name_suffix) = 0;
  // The last run as local time; the null time when there was none or it cannot be read.
  virtual base::Time GetLastRunTime(const std::wstring& name_suffix) = 0;
  // Reads the registered task into *saved; false when there is none or it cannot be read.
  virtual bool SaveTask(const std::wstring& name_suffix, SavedScheduledTask* saved) = 0;
  // Registers a task read by SaveTask again under its name, with its account and access list.
  virtual bool RestoreTask(const std::wstring& name_suffix, const SavedScheduledTask& saved) = 0;
};

// The autoupdate task of the installation in `install_folder` whose status log names `application_id`: its
// "launcher.exe" with "--scheduledautoupdate" and the scheduler's first run-time parameter "$(Arg0)", the host's
// localized description, at most an hour a run and only with a network; daily plus at logon (at boot for all
// users) when the branding schedules the task, else on demand only.
ScheduledTaskInfo GetAutoupdateTaskInfo(const base::FilePath& install_folder, const std::wstring& application_id,
                                        bool all_users);

// The scheduler for the running Windows version (2.0 from Vista on); the caller deletes it.
TaskScheduler* CreateTaskScheduler();

// Registers the autoupdate task of GetAutoupdateTaskInfo, first sweeping this product's stale tasks. False, with
// an error line, when the scheduler cannot be reached or refuses the task; a task of that name stays as it was
// (the registration deletes it first, so a refused one registers it again).
bool CreateAutoupdateTask(const base::FilePath& install_folder, const std::wstring& application_id, bool all_users);

// Deletes the autoupdate task of the installation whose status log names `application_id` (UTF-8), first
// sweeping this product's stale tasks; nothing happens when the scheduler cannot be reached.
void RemoveAutoupdateTask(const std::string& application_id);

// The product name + " scheduled " + suffix.
std::wstring GetScheduledTaskName(const std::wstring& name_suffix);

// Whether a task of this name may be swept by RemoveStale: it begins with the product name + " scheduled ",
// ignoring ASCII case, so that tasks of other programs are never looked at.
bool IsProductTaskName(std::wstring_view task_name);

// Whether the program a task starts is surely gone: its path, without surrounding quotes and with environment
// strings expanded, is absolute and names nothing. A path that cannot be judged (relative, or with a variable
// this process does not know) counts as present: a working task, edited by hand, is never swept.
bool IsTaskProgramGone(const std::wstring& program);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_H_
