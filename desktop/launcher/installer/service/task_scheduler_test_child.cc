// Drives a task scheduler from the command line, so that a scenario can change the machine's registered tasks
// step by step (in a prefix of its own) and check each step from outside. Every answer is a name=value line:
//   --product=NAME         the branding's product name (the task names' start) in place of the host's branding,
//                          which the child carries with the host's strings
//   --v2                   that implementation; otherwise CreateTaskScheduler picks ("scheduler=v1|v2|recording")
//   --standard-user        the process is not an administrator (no highest run level)
//   --recording=FILE       CreateTaskScheduler makes the recording scheduler on FILE
//   --suffix=S             the task's name suffix ("task_name=<full name>")
//   --create               Create ("create=0|1"): --program=PATH (the action, with "--scheduledautoupdate" and
//                          "$(Arg0)"), --description=TEXT, --kind=0|1|2, --limit=SECONDS, --logon, --all-users,
//                          --network
//   --create-autoupdate=FOLDER  Create of the autoupdate task of the installation in FOLDER, as the finalizing
//                          step makes it ("create=0|1"): --app-id=ID, --all-users
//   --remove-stale         RemoveStale
//   --delete               Delete
//   --enable=0|1           SetEnabled
//   --daily=DAYS           SetDailyInterval
//   --state                GetState ("state=N"), after any of the above
//   --last-run             GetLastRunTime ("last_run_null=0|1")
// "init=0|1" comes first; nothing else is done when it is 0.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/task_scheduler.h"
#include "desktop/launcher/installer/service/task_scheduler_v1.h"
#include "desktop/launcher/installer/service/task_scheduler_v2.h"
#include "testing/installer/recording_task_scheduler.h"

namespace {

void Report(const std::string& name, const std::string& value) {
  printf("%s=%s\n", name.c_str(), value.c_str());
}

int Number(const base::CommandLine& command_line, const char* name) {
  int value = 0;
  base::StringToInt(command_line.GetSwitchValueASCII(name), &value);
  return value;
}

}  // namespace

int main() {
  base::AtExitManager at_exit;
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 2;
  if (command_line.HasSwitch("product")) {
    zorvi::installer::SetBrandingTextForTesting("{\"product_name\": \"" + command_line.GetSwitchValueASCII("product") +
                                                "\"}");
  }
  if (command_line.HasSwitch("standard-user"))
    zorvi::installer::SetAdminTokenSeamForTesting(zorvi::installer::AdminTokenSeam::kStandardUser);
  if (command_line.HasSwitch("recording"))
    test_support::UseRecordingTaskSchedulerForTesting(command_line.GetSwitchValuePath("recording"));
  std::unique_ptr<zorvi::installer::TaskScheduler> scheduler;
  if (command_line.HasSwitch("v2"))
    scheduler = std::make_unique<zorvi::installer::TaskSchedulerV2>();
  else
    scheduler.reset(zorvi::installer::CreateTaskScheduler());
  const char* kind = dynamic_cast<zorvi::installer::TaskSchedulerV1*>(scheduler.get())   ? "v1"
                     : dynamic_cast<zorvi::installer::TaskSchedulerV2*>(scheduler.get()) ? "v2"
                                                                                         : "recording";
  Report("scheduler", kind);
  const bool init = scheduler->Init();
  Report("init", init ? "1" : "0");
  const std::wstring suffix = command_line.GetSwitchValueNative("suffix");
  Report("task_name", base::WideToUTF8(zorvi::installer::GetScheduledTaskName(suffix)));
  if (init) {
    if (command_line.HasSwitch("create")) {
      zorvi::installer::ScheduledTaskInfo info;
      info.command_line = base::CommandLine(command_line.GetSwitchValuePath("program"));
      info.command_line.AppendSwitch("scheduledautoupdate");
      info.command_line.AppendArg("$(Arg0)");
      info.name_suffix = suffix;
      info.description = command_line.GetSwitchValueNative("description");
      info.all_users = command_line.HasSwitch("all-users");
      info.execution_time_limit_seconds = Number(command_line, "limit");
      info.trigger_kind = static_cast<zorvi::installer::TaskTriggerKind>(Number(command_line, "kind"));
      info.add_logon_trigger = command_line.HasSwitch("logon");
      info.run_only_if_network_available = command_line.HasSwitch("network");
      Report("create", scheduler->Create(info) ? "1" : "0");
    }
    if (command_line.HasSwitch("create-autoupdate")) {
      const zorvi::installer::ScheduledTaskInfo info = zorvi::installer::GetAutoupdateTaskInfo(
          command_line.GetSwitchValuePath("create-autoupdate"), command_line.GetSwitchValueNative("app-id"),
          command_line.HasSwitch("all-users"));
      Report("create", scheduler->Create(info) ? "1" : "0");
    }
    if (command_line.HasSwitch("remove-stale"))
      scheduler->RemoveStale();
    if (command_line.HasSwitch("delete"))
      scheduler->Delete(suffix);
    if (command_line.HasSwitch("enable"))
      scheduler->SetEnabled(suffix, Number(command_line, "enable") != 0);
    if (command_line.HasSwitch("daily"))
      scheduler->SetDailyInterval(suffix, static_cast<uint32_t>(Number(command_line, "daily")));
    if (command_line.HasSwitch("state"))
      Report("state", base::IntToString(scheduler->GetState(suffix)));
    if (command_line.HasSwitch("last-run"))
      Report("last_run_null", scheduler->GetLastRunTime(suffix).is_null() ? "1" : "0");
  }
  scheduler.reset();
  CoUninitialize();
  return 0;
}
