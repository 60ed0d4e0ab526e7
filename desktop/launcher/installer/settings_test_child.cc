// Builds the installer's Settings from its command line as the installer's entry does, waits for the status of
// the install folder and prints "name=value" lines: the record ("settings.*", see settings_test_util.h), the
// folder it was given ("input.command_line_folder"), the switches it would hand its backend ("backend_arguments",
// and "forced_arguments" with the browser's start forced off) and the time from construction to the first
// OnPathChanged ("time.first_path_changed_ms").
//
// With --test-status=PATH it prints the Status of PATH instead ("status.*").
//
// Test switches (the settings ignore them, and the backend's switches never carry them):
//   --test-company=NAME     the branding's company, so that the registry key is the test's own
//   --test-standard-user    the administrator test answers as for a standard user
//   --test-pins=FOLDER      the taskbar pins folder
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/values.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/settings_test_util.h"
#include "desktop/launcher/installer/status.h"
#include "testing/installer/settings_status_wait.h"

namespace {

using namespace zorvi::installer;

void Print(const std::string& prefix, const test::Report& report) {
  for (const auto& [name, value] : report)
    std::printf("%s%s=%s\n", prefix.c_str(), name.c_str(), value.c_str());
}

// The host's branding with the test's company in it.
bool UseCompany(const std::string& company) {
  std::unique_ptr<base::Value> branding = base::JsonReader::Read(LoadBrandingText());
  base::DictionaryValue* dictionary = nullptr;
  std::string text;
  if (!branding || !branding->GetAsDictionary(&dictionary))
    return false;
  dictionary->SetString("company_name", company);
  if (!base::JsonWriter::Write(*dictionary, &text))
    return false;
  SetBrandingTextForTesting(text);
  return true;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  base::AtExitManager exit_manager;
  if (command_line.HasSwitch("test-company") && !UseCompany(command_line.GetSwitchValueASCII("test-company")))
    return 3;
  if (command_line.HasSwitch("test-standard-user"))
    SetAdminTokenSeamForTesting(AdminTokenSeam::kStandardUser);
  if (command_line.HasSwitch("test-pins") &&
      !base::PathService::Override(base::kTaskbarPins, command_line.GetSwitchValuePath("test-pins"))) {
    return 4;
  }

  // What the entry sets up before the settings: the loop, the preference pool, the experiments, COM.
  base::MessageLoop loop;
  PrefsTaskPool::GetInstance();
  RegisterInstallerFeatures(base::FeatureList::GetInstance());
  base::FeatureList::GetInstance()->InitializeFromReader(base::CommandLineFeatureReader(&command_line));
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 5;

  if (command_line.HasSwitch("test-status")) {
    Status status(command_line.HasSwitch("replacekadroinstallation"));
    status.Initialize(command_line.GetSwitchValuePath("test-status"));
    Print("status.", test::StatusReport(status));
  } else {
    const base::TimeTicks start = base::TimeTicks::Now();
    Settings settings(command_line.HasSwitch("uninstall"), command_line.HasSwitch("silent"),
                      command_line.HasSwitch("autoupdate"), command_line.GetSwitchValuePath("installfolder"),
                      command_line.HasSwitch("replacekadroinstallation"));
    test_support::WaitForSettingsStatus(&settings);
    std::printf("time.first_path_changed_ms=%lld\n",
                static_cast<long long>((base::TimeTicks::Now() - start).InMilliseconds()));
    Print("settings.", test::SettingsReport(settings));
    std::printf("input.command_line_folder=%s\n", settings.command_line_folder().AsUTF8().c_str());
    std::printf("backend_arguments=%s\n", base::WideToUTF8(settings.ToCommandLine(false).GetArgumentsString()).c_str());
    std::printf("forced_arguments=%s\n", base::WideToUTF8(settings.ToCommandLine(true).GetArgumentsString()).c_str());
  }
  CoUninitialize();
  return 0;
}
