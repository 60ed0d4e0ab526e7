// The installer window as the interactive installer shows it, for tests that drive it from another process: the
// host's resources, real Settings of a staged folder, the UI loop with the dialog dispatcher, and a recording
// controller. Test programs only; never shipped.
//
// Switches (besides those the Settings read, such as "installfolder" and "language"):
//   --test-company=NAME       the branding's company (registry keys of the test's own)
//   --test-uninstall          an uninstallation run
//   --test-run-immediately    a run that starts at once (the window does not follow the settings)
//   --test-ready-event=NAME   set once the window shows and the folder's status is known
//   --test-error=TEXT         shown on the error page at the start, with the full-package button
//   --test-progress=N         the progress page with its bar at N of 100 and phase text 3 at the start
//   --test-accept-event=NAME  set on every OnAccept
// Every controller call is written to standard output as a JSON line ({"call":"OnAccept"}); OnCancel ends the
// loop, and the statistics follow as the last line ({"stats":{...}}). Exit code 0, or 3 when the window could not
// be made.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/json/json_writer.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/launcher/installer/ui/installer_window.h"
#include "desktop/launcher/installer/ui/win32_dialog_dispatcher.h"

namespace {

using namespace zorvi::installer;

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// Sets the event that the switch `name` names, if any.
void SignalSwitchEvent(const char* name) {
  const std::wstring event_name = base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(name);
  if (HANDLE event = event_name.empty() ? nullptr : OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name.c_str())) {
    SetEvent(event);
    CloseHandle(event);
  }
}

class RecordingController : public InstallerWindowDelegate, public Settings::Observer {
 public:
  explicit RecordingController(base::RunLoop* run_loop) : run_loop_(run_loop) {}

  void OnAccept() override {
    PrintLine(R"({"call":"OnAccept"})");
    SignalSwitchEvent("test-accept-event");
  }
  void OnCancel() override {
    PrintLine(R"({"call":"OnCancel"})");
    run_loop_->Quit();
  }
  void ObtainFullPackage() override { PrintLine(R"({"call":"ObtainFullPackage"})"); }

  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override {
    if (waiting_for_path_)
      run_loop_->Quit();
  }
  bool waiting_for_path_ = false;

 private:
  base::RunLoop* run_loop_;
};

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  base::AtExitManager exit_manager;
  SetBrandingTextForTesting(R"({"company_name": ")" + command_line.GetSwitchValueASCII("test-company") +
                            R"(", "product_name": "Zorvi", "visible_product_name": "Zorvi", )"
                            R"("file_name_base": "zorvi", "user_agent_name": "ZRV"})");
  base::FeatureList::GetInstance()->AddFeature("installer-ui-stats", true, true);
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 3;
  PrefsTaskPool::GetInstance();

  Settings settings(command_line.HasSwitch("test-uninstall"), false, false,
                    command_line.GetSwitchValuePath("installfolder"), false);
  {
    base::RunLoop path_loop;
    RecordingController waiter(&path_loop);
    waiter.waiting_for_path_ = true;
    settings.AddObserver(&waiter);
    if (settings.status_fetcher())
      path_loop.Run();
    settings.RemoveObserver(&waiter);
  }

  base::DictionaryValue tree;
  StatsTreeGuard guard;
  InstallerStats stats(&tree, &guard, base::TimeTicks::Now());
  base::RunLoop run_loop(Win32DialogDispatcher::GetInstance());
  RecordingController controller(&run_loop);
  std::unique_ptr<InstallerWindow> window =
      InstallerWindow::Create(&settings, &stats, command_line.HasSwitch("test-run-immediately"));
  if (!window)
    return 3;
  window->delegates()->AddObserver(&controller);
  if (command_line.HasSwitch("test-error"))
    window->DisplayError(command_line.GetSwitchValueNative("test-error"), true, "test-error");
  if (command_line.HasSwitch("test-progress")) {
    window->ShowPage(InstallerWindow::kPageProgress);
    window->ShowPhase(3);
    SendDlgItemMessageW(window->main_dialog(), IDC_PROGRESS_BAR, PBM_SETPOS,
                        std::stoi(command_line.GetSwitchValueASCII("test-progress")), 0);
  }
  // Foreground, so that keys typed on the display reach it, and painted before anyone looks.
  SetForegroundWindow(window->main_dialog());
  RedrawWindow(window->main_dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SignalSwitchEvent("test-ready-event");
  run_loop.Run();
  window->delegates()->RemoveObserver(&controller);
  window.reset();

  std::string json;
  base::JsonWriter::Write(tree, &json);
  PrintLine(R"({"stats":)" + json + "}");
  CoUninitialize();
  return 0;
}
