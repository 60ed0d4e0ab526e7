// A TaskScheduler that registers nothing with the system: it records every call and keeps the tasks it was asked
// to register in one JSON file, so that the processes of an install, upgrade and uninstall scenario share one
// "scheduler" and a Linux-side check (Python's json) can read what each asked for. The file:
//   {"fail": ["Init", "Create", ...],          optional, written by the scenario: these calls fail; "Register"
//                                              makes Create fail as a refused registration does, after the
//                                              task of that name was deleted
//    "calls": [{"call": "Create", "process": 1234, "suffix": "...", "result": true}, ...],
//    "tasks": {"<full task name>": {"program": "C:\\...\\launcher.exe",
//                                   "arguments": "--scheduledautoupdate $(Arg0)",
//                                   "description": "...", "all_users": false,
//                                   "execution_time_limit_seconds": 3600, "trigger_kind": 1,
//                                   "add_logon_trigger": true, "run_only_if_network_available": true,
//                                   "enabled": true}}}
// It runs nothing and keeps no schedule: Run and SetDailyInterval are only recorded.
// Texts are UTF-8. Each call reads the file, changes it and replaces it atomically under a named mutex of the
// file, so calls of several processes never lose each other's changes. A missing file is an empty scheduler.
#ifndef TESTING_INSTALLER_RECORDING_TASK_SCHEDULER_H_
#define TESTING_INSTALLER_RECORDING_TASK_SCHEDULER_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/values.h"
#include "desktop/launcher/installer/service/task_scheduler.h"

namespace test_support {

class RecordingTaskScheduler : public zorvi::installer::TaskScheduler {
 public:
  explicit RecordingTaskScheduler(const base::FilePath& record_file);

  bool Init() override;
  bool Create(const zorvi::installer::ScheduledTaskInfo& info) override;
  // Deletes the enabled tasks of the product whose program is gone, as the system's schedulers do.
  void RemoveStale() override;
  void Delete(const std::wstring& name_suffix) override;
  void SetDailyInterval(const std::wstring& name_suffix, uint32_t days) override;
  void SetEnabled(const std::wstring& name_suffix, bool enabled) override;
  bool Run(const std::wstring& name_suffix, const std::vector<std::string>& arguments) override;
  int GetState(const std::wstring& name_suffix) override;
  base::Time GetLastRunTime(const std::wstring& name_suffix) override;
  // The task's recorded JSON object is its definition.
  bool SaveTask(const std::wstring& name_suffix, zorvi::installer::SavedScheduledTask* saved) override;
  bool RestoreTask(const std::wstring& name_suffix, const zorvi::installer::SavedScheduledTask& saved) override;

 private:
  // Records the call `name` (with `details` added) and lets `change` edit the tasks; the result is false when
  // the scenario made this call fail (and `change` then does not run) or the file could not be read or written.
  bool Record(const std::string& name, std::unique_ptr<base::DictionaryValue> details,
              const std::function<bool(base::DictionaryValue* tasks)>& change);

  base::FilePath record_file_;
  bool registration_refused_ = false;  // the record's "fail" names "Register"; read by Record
};

// Makes CreateTaskScheduler of this process return a RecordingTaskScheduler on `record_file`; an empty path
// gives the system's scheduler back.
void UseRecordingTaskSchedulerForTesting(const base::FilePath& record_file);

}  // namespace test_support

#endif  // TESTING_INSTALLER_RECORDING_TASK_SCHEDULER_H_
