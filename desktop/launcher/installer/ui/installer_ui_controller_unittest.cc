// The interactive controller in this process over the real window, runner and overrides fetcher, with the
// scripted backend (fake_backend_test_child.exe) standing in for the package's installer and the test feeding
// the fetcher's reports itself.
#include "desktop/launcher/installer/ui/installer_ui_controller.h"

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/values.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"
#include "desktop/launcher/installer/stats_sender.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"
#include "testing/loopback_server.h"
#include "testing/scoped_log_capture.h"
#include "testing/installer/settings_status_wait.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// What the progress bar was told: PBM_SETPOS and PBM_STEPIT messages, counted by a subclass of the bar.
struct BarMessages {
  int set_pos = 0;
  int step_it = 0;
};

LRESULT CALLBACK CountBarMessages(HWND bar, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  auto* counts = reinterpret_cast<BarMessages*>(data);
  if (message == PBM_SETPOS)
    ++counts->set_pos;
  if (message == PBM_STEPIT)
    ++counts->step_it;
  return DefSubclassProc(bar, message, wparam, lparam);
}

// Runs a closure once a control is shown (the retry button appears with the error page).
LRESULT CALLBACK RunWhenShown(HWND control, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  if (message == WM_SHOWWINDOW && wparam) {
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, *reinterpret_cast<base::Closure*>(data));
  }
  return DefSubclassProc(control, message, wparam, lparam);
}

// A window creation that the system refuses.
LRESULT CALLBACK RefuseWindows(int code, WPARAM, LPARAM) {
  return code == HCBT_CREATEWND ? 1 : 0;
}

// A UI request as the downloader makes one: which parent its callback got, and the reply it received.
struct UiRequest {
  void Make(UICallbackRunner* runner) {
    runner->RunUICallbackAndPostReply(base::Bind(&UiRequest::Show, base::Unretained(this)),
                                      base::ThreadTaskRunnerHandle::Get(),
                                      base::Bind(&UiRequest::Reply, base::Unretained(this)));
  }
  uint32_t Show(HWND parent) {
    ++shown;
    this->parent = parent;
    return 7;
  }
  void Reply(uint32_t result) { replies.push_back(result); }
  int shown = 0;
  HWND parent = nullptr;
  std::vector<uint32_t> replies;
};

class InstallerUIControllerTest : public testing::Test {
 public:
  void SetUp() override {
    base::CommandLine::Init();
    SetBrandingTextForTesting(R"({"company_name": ")" + base::WideToUTF8(test_support::UniqueName(L"ZorviTest")) +
                              R"(", "product_name": ")" + base::WideToUTF8(test_support::UniqueName(L"Zorvi")) +
                              R"(", "visible_product_name": "Zorvi", "file_name_base": "zorvi", )"
                              R"("user_agent_name": "ZRV"})");
    base::FeatureList::GetInstance()->AddFeature("installer-ui-stats", true, true);
    ASSERT_TRUE(base::CreateDirectory(package_));
    ASSERT_TRUE(base::CreateDirectory(download_));
  }

  // The package folder's installer is the scripted backend running `script` (none: no backend), and so is this
  // process's own executable, which the runner starts while the package is not ready; then settings of a fresh
  // folder with their status, as the entry hands them over, which send no statistics.
  void Prepare(const std::string& script) {
    const base::FilePath installer = package_.Append(L"installer.exe");
    if (!script.empty()) {
      ASSERT_TRUE(CopyFileW((test_support::ExecutableDir() + L"\\fake_backend_test_child.exe").c_str(),
                            installer.value().c_str(), FALSE));
      ASSERT_TRUE(test_support::WriteFileBytes(package_.Append(L"fake_backend_script.txt").value(), script));
      ASSERT_TRUE(base::PathService::Override(base::kExeFile, installer));
      ASSERT_TRUE(base::PathService::Override(base::kExeDir, package_));
    }
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    command_line.AppendSwitchNative("installfolder", root_.Append(L"Zorvi").value());
    if (settings_)
      earlier_settings_.push_back(std::move(settings_));
    settings_ = test_support::SettingsAsTheEntryMakesThem(command_line);
    ASSERT_TRUE(settings_);
    test_support::WaitForSettingsStatus(settings_.get());
    settings_->SetEnableInstallerStats(false);
  }

  void PostNextStep() {
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, base::Bind(&InstallerUIControllerTest::RunNextStep,
                                                                       base::Unretained(this)));
  }

  // Runs `steps` one after the other once the controller has shown its window, each as a task of its own.
  bool RunWithSteps(std::vector<std::function<void()>> steps) {
    steps_ = std::move(steps);
    // Posted before RunUI posts Init: its own post lands behind Init.
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, base::Bind(&InstallerUIControllerTest::PostNextStep,
                                                                       base::Unretained(this)));
    return active_->RunUI(settings_.get(), true, download_, false);
  }
  void RunNextStep() {
    if (next_step_ < steps_.size())
      steps_[next_step_++]();
    // A step that could not go on would leave the run waiting for ever.
    if (HasFatalFailure())
      active_->OnCancel();
  }

  HWND Control(int id) const { return GetDlgItem(active_->window()->main_dialog(), id); }
  int BarPosition() const { return static_cast<int>(SendMessageW(Control(IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0)); }
  std::wstring StatusText() const {
    wchar_t text[1024] = {};
    GetWindowTextW(Control(IDC_STATUS_TEXT), text, 1024);
    return text;
  }
  // The next step runs once the error page shows its retry button.
  void NextStepOnErrorPage() {
    next_ = base::Bind(&InstallerUIControllerTest::PostNextStep, base::Unretained(this));
    ASSERT_TRUE(SetWindowSubclass(Control(IDC_RETRY_BUTTON), &RunWhenShown, 1, reinterpret_cast<DWORD_PTR>(&next_)));
  }
  // A value of the statistics as they would be sent, as JSON ("" when absent).
  std::string Stat(const std::string& path) {
    std::string json;
    EXPECT_TRUE(active_->stats_sender()->SerializeAsJson(&json));
    const std::unique_ptr<base::Value> stats = base::JsonReader::Read(json);
    const base::DictionaryValue* root = nullptr;
    const base::Value* value = nullptr;
    json.clear();
    if (stats && stats->GetAsDictionary(&root) && root->Get(path, &value))
      base::JsonWriter::Write(*value, &json);
    return json;
  }

  base::MessageLoop loop_{base::MessageLoop::TYPE_UI};
  base::AtExitManager exit_manager_;
  test_support::ScopedTestFolder folder_{L"uictl"};
  const base::FilePath root_{folder_.path()};
  const base::FilePath package_ = root_.Append(L"package");
  const base::FilePath download_ = root_.Append(L"download");
  std::unique_ptr<Settings> settings_;
  // A controller deletes its closed window from a task that may still be pending when its run ends, and the window
  // leaves its settings' observers then: the settings of earlier runs live as long as the controllers.
  std::vector<std::unique_ptr<Settings>> earlier_settings_;
  InstallerUIController controller_;
  // The controller whose run the steps drive.
  InstallerUIController* active_ = &controller_;
  std::vector<std::function<void()>> steps_;
  size_t next_step_ = 0;
  base::Closure next_;
};

// Progress without a fetcher: before the accept only the position moves; after it the bar follows, a jump of more
// than 10 set at once, smaller advances stepped, never back; a request for UI waits for the backend's start, runs
// at once while the installation runs and is refused once the run ended.
TEST_F(InstallerUIControllerTest, ProgressFollowsPhasesAndStepsForwardOnly) {
  Prepare("wait-package\nsuccess\n");
  BarMessages bar;
  UiRequest early;
  UiRequest during;
  UiRequest late;
  const int weights[] = {1, 1000, 200, 1, 1, 100};
  const int all = 1303;
  ASSERT_EQ(all, weights[0] + weights[1] + weights[2] + weights[3] + weights[4] + weights[5]);
  struct Row {
    const char* what;
    std::function<void()> act;
    int position;  // GetProgressPosition afterwards
    int bar;       // the bar's position afterwards, -1 when not shown yet
    int set_pos;   // PBM_SETPOS and PBM_STEPIT messages the act sent
    int step_it;
  };
  InstallerUIController& c = controller_;
  const Row rows[] = {
      {"package ready, nothing reported", [] {}, weights[0] + weights[1] + weights[2] + weights[3], -1, 0, 0},
      {"download phase, total 0", [&] { c.NotifyStatusChanged(kDownloadingPackage); }, weights[0], -1, 0, 0},
      {"half downloaded", [&] { c.SetTotalProgress(1000); c.SetCurrentProgress(500); }, 501, -1, 0, 0},
      {"accept", [&] { early.Make(&c); c.OnAccept(); }, 501, 501, 1, 0},
      {"four more units", [&] { c.SetCurrentProgress(504); }, 505, 505, 0, 4},
      {"a jump", [&] { c.SetCurrentProgress(900); }, 901, 901, 1, 0},
      {"backwards", [&] { c.SetCurrentProgress(800); }, 801, 901, 0, 0},
      {"unpacking", [&] { c.NotifyStatusChanged(kExtractingPackage); c.SetTotalProgress(4); }, 1001, 901, 0, 0},
      {"first entry", [&] { c.SetCurrentProgress(0); }, 1001, 1001, 1, 0},
      {"package ready", [&] { during.Make(&c); c.NotifyStatusChanged(kPackageReady); }, 1203, 1001, 0, 0},
      {"ten steps announced", [&] { c.OnTotalSteps(10); }, 1213, 1001, 0, 0},
      {"a step", [&] { c.OnStep(); }, 1223, 1223, 1, 0},
  };
  std::vector<std::function<void()>> steps;
  steps.push_back([&] {
    ASSERT_TRUE(SetWindowSubclass(Control(IDC_PROGRESS_BAR), &CountBarMessages, 1,
                                  reinterpret_cast<DWORD_PTR>(&bar)));
    for (const Row& row : rows) {
      SCOPED_TRACE(row.what);
      const BarMessages before = bar;
      row.act();
      EXPECT_EQ(row.position, c.GetProgressPosition());
      if (row.bar >= 0) {
        EXPECT_EQ(row.bar, BarPosition());
      }
      EXPECT_EQ(row.set_pos, bar.set_pos - before.set_pos);
      EXPECT_EQ(row.step_it, bar.step_it - before.step_it);
    }
    PBRANGE range = {};
    SendMessageW(Control(IDC_PROGRESS_BAR), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(501, range.iLow);
    EXPECT_EQ(all, range.iHigh);
    EXPECT_EQ(InstallerWindow::kPageProgress, c.window()->current_page());
    EXPECT_EQ(InstallerUIController::kPhaseInstalling, c.phase());
  });
  ASSERT_TRUE(RunWithSteps(steps));
  EXPECT_EQ(1u, next_step_);
  // The backend's success ended the run with the bar full.
  EXPECT_EQ(all, c.GetProgressPosition());
  late.Make(&c);
  base::RunLoop replies;
  base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, replies.QuitClosure());
  replies.Run();
  EXPECT_EQ(1, early.shown);
  EXPECT_NE(nullptr, early.parent);
  EXPECT_EQ(std::vector<uint32_t>{7}, early.replies);
  EXPECT_EQ(1, during.shown);
  EXPECT_EQ(std::vector<uint32_t>{7}, during.replies);
  EXPECT_EQ(0, late.shown);
  EXPECT_EQ(std::vector<uint32_t>{ERROR_CANCELLED}, late.replies);
  EXPECT_EQ("0", Stat("run_immediately"));
}

// A failing backend: its error is shown once it has ended, on an error page that offers no full package (a
// package's own installer has nothing to download); a retry while the first overrides fetch still runs waits for
// that fetch instead of asking its busy downloader again; closing ends the run as cancelled.
TEST_F(InstallerUIControllerTest, ErrorsWaitForTheBackendAndARetryWaitsForTheTrackingData) {
  test_support::LoopbackServer server;
  std::string error;
  ASSERT_TRUE(server.Start(root_.value(), R"({"/prefs": [{"silent": true, "times": "all"}]})", &error)) << error;
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative("local-pref-default-overrides-server",
                                                             server.Url("/prefs"));
  base::FeatureList::GetInstance()->AddFeature("installer-pref-default-overrides-support", true, true);
  const std::wstring detail = L"C:\\dest\\zorvi.dll";
  Prepare("error 37057 " + base::WideToUTF8(detail) + "|Failed copying a file\nresult 0\n");
  test_support::ScopedLogCapture log;
  InstallerUIController& c = controller_;
  auto expect_error_page = [&] {
    EXPECT_EQ(InstallerWindow::kPageError, c.window()->current_page());
    EXPECT_FALSE(IsWindowVisible(Control(IDC_FULL_PACKAGE_BUTTON)));
    EXPECT_EQ(GetLocalizedString(IDS_ERROR_COPY, detail), StatusText());
    EXPECT_EQ(InstallerUIController::kPhasePackageReady, c.phase()) << "the overrides fetch still runs";
  };
  std::vector<std::function<void()>> steps = {
      [&] {
        ASSERT_NO_FATAL_FAILURE(NextStepOnErrorPage());
        c.OnAccept();
        EXPECT_EQ(InstallerWindow::kPageProgress, c.window()->current_page());
      },
      [&] {
        expect_error_page();
        c.OnAccept();
        EXPECT_TRUE(log.HasLineStartingWith("Tracking data is being handled already"));
      },
      [&] {
        expect_error_page();
        c.OnCancel();
      },
  };
  EXPECT_FALSE(RunWithSteps(steps));
  EXPECT_EQ(3u, next_step_);
  EXPECT_EQ("\"Failed copying a file\"", Stat("failure_reason"));
  EXPECT_EQ("\"\"", Stat("tracking_data"));
  EXPECT_EQ(1u, test_support::RequestsTo(server.StopAndReadLog(), "/prefs").size())
      << "one overrides fetch for both accepts";
}

// A retry in another folder waits for the overrides fetched for it, as the first run waited for its own: the
// backend it starts waits for the package although the first run's fetch had completed it.
TEST_F(InstallerUIControllerTest, ARetryInAnotherFolderWaitsForItsOverrides) {
  test_support::LoopbackServer server;
  std::string error;
  // The retry's fetch gets no answer: it is still under way when the backend starts.
  ASSERT_TRUE(server.Start(root_.value(), R"({"/prefs": [{"body": "{}", "times": 1}, )"
                                          R"({"silent": true, "times": "all"}]})", &error)) << error;
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative("local-pref-default-overrides-server",
                                                             server.Url("/prefs"));
  base::FeatureList::GetInstance()->AddFeature("installer-pref-default-overrides-support", true, true);
  const std::string fail = "error 37057 C:\\x|Failed copying a file\nresult 0\n";
  Prepare("wait-package\n" + fail);
  InstallerUIController& c = controller_;
  std::vector<std::function<void()>> steps = {
      [&] {
        ASSERT_NO_FATAL_FAILURE(NextStepOnErrorPage());
        c.OnAccept();
      },
      [&] {
        EXPECT_EQ(InstallerUIController::kPhaseInstalling, c.phase()) << "the first fetch has completed the package";
        ASSERT_TRUE(test_support::WriteFileBytes(package_.Append(L"fake_backend_script.txt").value(), fail));
        settings_->SetInstallFolderPath(root_.Append(L"Other"));
        c.OnAccept();
      },
      [&] { c.OnCancel(); },
  };
  EXPECT_FALSE(RunWithSteps(steps));
  EXPECT_EQ(3u, next_step_);
  EXPECT_EQ(2u, test_support::RequestsTo(server.StopAndReadLog(), "/prefs").size());
  std::string text;
  ASSERT_TRUE(test_support::ReadFileBytes(package_.Append(L"fake_backend_record.jsonl").value(), &text));
  // Each run's backend recorded its start and its end: the third line is the retry's start.
  const auto lines = base::SplitString(text, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  ASSERT_EQ(4u, lines.size()) << text;
  const std::unique_ptr<base::Value> retry = base::JsonReader::Read(lines[2]);
  const base::DictionaryValue* start = nullptr;
  std::string command_line;
  bool ready_set = true;
  ASSERT_TRUE(retry && retry->GetAsDictionary(&start) && start->GetString("command_line", &command_line) &&
              start->GetBoolean("package_ready_set", &ready_set)) << lines[2];
  EXPECT_NE(std::string::npos, command_line.find("--wait-for-package")) << command_line;
  EXPECT_FALSE(ready_set) << "the package was ready before its overrides";
}

// A fetch that failed after the accept is restarted by the next accept, unless the package has arrived since: then
// the retry installs from it and fetches nothing.
TEST_F(InstallerUIControllerTest, PackageThatArrivedAfterAFailureIsNotFetchedAgain) {
  Prepare("error 37057 C:\\x|Failed copying a file\nresult 0\n");
  test_support::ScopedLogCapture log;
  InstallerUIController& c = controller_;
  std::vector<std::function<void()>> steps = {
      [&] {
        ASSERT_NO_FATAL_FAILURE(NextStepOnErrorPage());
        c.OnAccept();
        c.NotifyStatusChanged(kDownloadFailed);
      },
      [&] {
        EXPECT_EQ(GetLocalizedString(IDS_ERROR_DOWNLOAD), StatusText()) << "the fetch failure, reported first";
        c.NotifyStatusChanged(kPackageReady);
        c.OnAccept();
        EXPECT_FALSE(log.HasLineStartingWith("Restarting fetching after background tries failed."));
        EXPECT_EQ(InstallerUIController::kPhaseInstalling, c.phase());
      },
      [&] { c.OnCancel(); },
  };
  EXPECT_FALSE(RunWithSteps(steps));
  EXPECT_EQ(3u, next_step_);
}

// The controller as the fetcher sees it, with the failed fetches counted: the test goes on after the failure it
// waits for.
class CountingController : public InstallerUIController {
 public:
  void NotifyStatusChanged(int status) override {
    InstallerUIController::NotifyStatusChanged(status);
    if (status >= kInitializationFailed && ++failures == after_failures)
      base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, on_failure);
  }
  int failures = 0;
  int after_failures = -1;
  base::Closure on_failure;
};

// Runs a closure once an event is set.
struct EventStep : base::win::ObjectWatcher::Delegate {
  void OnObjectSignaled(HANDLE) override { step.Run(); }
  base::Closure step;
  base::win::ObjectWatcher watcher;
};

// Fetching from an update service whose address replies never parse: three silent restarts before the accept,
// then a warning and nothing until the accept restarts it, after the backend has started.
TEST_F(InstallerUIControllerTest, FetchFailuresRestartSilentlyThenWaitForTheUser) {
  test_support::LoopbackServer server;
  std::string error;
  // The fetch the accept starts again gets no answer, so that nothing else happens before the run is closed.
  ASSERT_TRUE(server.Start(root_.value(),
                           R"({"/base/netinstaller/nightly": [{"body": "{not json", "times": 4}, )"
                           R"({"silent": true, "times": "all"}]})",
                           &error))
      << error;
  SetBrandingTextForTesting(R"({"company_name": ")" + base::WideToUTF8(test_support::UniqueName(L"ZorviTest")) +
                            R"(", "product_name": "Zorvi", "domain": "", "urls": {"autoupdate": ")" +
                            base::WideToUTF8(server.Url("/base/", "localhost")) + R"("}})");
  const std::wstring started = test_support::UniqueName(L"backend_started");
  base::win::ScopedHandle started_event(CreateEventW(nullptr, TRUE, FALSE, started.c_str()));
  // The cancel ends the run once the backend, interrupted, has ended.
  Prepare("signal " + base::WideToUTF8(started) + "\nwait-interrupt\nterminated 0\n");
  test_support::ScopedLogCapture log;
  CountingController c;
  active_ = &c;
  c.on_failure = base::Bind(&InstallerUIControllerTest::PostNextStep, base::Unretained(this));
  c.after_failures = 4;
  EventStep backend_started;
  backend_started.step = c.on_failure;
  steps_ = {
      [&] {
        for (int restart = 1; restart <= 3; ++restart) {
          EXPECT_TRUE(log.HasLineStartingWith("Restarting package fetching, " + std::to_string(restart) + " of 3"));
        }
        EXPECT_TRUE(log.HasLineStartingWith("Exceeded maximum number of fetcher retries, we won't retry until user "
                                            "decides to.", logging::LOG_WARNING));
        EXPECT_FALSE(log.HasLineStartingWith("Restarting package fetching, 4"));
        EXPECT_EQ(InstallerWindow::kPageWelcome, c.window()->current_page());
        ASSERT_TRUE(backend_started.watcher.StartWatchingOnce(started_event.Get(), &backend_started));
        c.OnAccept();
        EXPECT_TRUE(log.HasLineStartingWith("Restarting fetching after background tries failed."));
        EXPECT_EQ(InstallerUIController::kPhaseAskingForPackage, c.phase());
      },
      [&] {
        EXPECT_EQ(InstallerWindow::kPageProgress, c.window()->current_page());
        EXPECT_EQ(4, c.failures);
        c.OnCancel();
      },
  };
  EXPECT_FALSE(c.RunUI(settings_.get(), false, download_, false));
  EXPECT_EQ(2u, next_step_);
  EXPECT_EQ(5u, test_support::RequestsTo(server.StopAndReadLog(), "/base/netinstaller/nightly").size())
      << "four before the accept, one after it";
}

// Closes the run once a backend reports success, while the backend itself goes on.
class CancelOnSuccessController : public InstallerUIController {
 public:
  void OnInstallerSuccess() override {
    InstallerUIController::OnInstallerSuccess();
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::Bind(&CancelOnSuccessController::OnCancel, base::Unretained(this)));
  }
};

// A cancelled run is no success and starts nothing: an accept due after the cancel (posted by a run that starts at
// once, or waiting for a folder's status) starts no backend, and a cancel after a success report of a generation of
// the backend (an elevated copy, the package's installer) while the outer one still works ends the run failed. The
// ended run no longer watches its settings, nor does its window, gone with it. A cancel while the package's
// installer has taken the run over reaches it through the interruption event, and the run ends (its window shown
// but out of the user's reach until then) only once that installer has undone its work and the backend has ended.
TEST_F(InstallerUIControllerTest, ACancelledRunIsNoSuccessAndStartsNothing) {
  Prepare("result 0\n");
  test_support::ScopedLogCapture log;
  logging::SetMinLogLevel(-2);
  HWND window = nullptr;
  EXPECT_FALSE(RunWithSteps({[&] {
    window = controller_.window()->main_dialog();
    controller_.OnCancel();
    controller_.OnAccept();
  }}));
  EXPECT_FALSE(IsWindow(window)) << "the run's window outlived it";
  EXPECT_TRUE(log.HasLineStartingWith("Accept clicked."));
  EXPECT_FALSE(log.HasLineStartingWith("launching installer backend"));
  EXPECT_EQ("1", Stat("installation_cancelled"));
  settings_->SetInstallFolderPath(root_.Append(L"Elsewhere"));
  test_support::WaitForSettingsStatus(settings_.get());
  EXPECT_FALSE(log.HasLineStartingWith("New status obtained")) << "the ended run still watched its settings";

  const std::wstring go = test_support::UniqueName(L"backend_go");
  base::win::ScopedHandle go_event(CreateEventW(nullptr, TRUE, FALSE, go.c_str()));
  Prepare("success\nwait-event " + base::WideToUTF8(go) + "\nresult 0\n");
  CancelOnSuccessController after_success;
  active_ = &after_success;
  next_step_ = 0;
  EXPECT_FALSE(RunWithSteps({[&] { after_success.OnAccept(); }}));
  SetEvent(go_event.Get());
  EXPECT_EQ("1", Stat("installation_cancelled"));
  EXPECT_EQ("0", Stat("installation_success"));

  // The backend waits for the package and hands the run over to the package's installer, which, interrupted,
  // undoes its work until the test lets it end.
  std::wstring names[3];
  base::win::ScopedHandle events[3];
  for (int i = 0; i < 3; ++i) {
    names[i] = test_support::UniqueName(L"handed_over_" + std::to_wstring(i));
    events[i].Set(CreateEventW(nullptr, TRUE, FALSE, names[i].c_str()));
  }
  const base::FilePath own = root_.Append(L"own");
  ASSERT_TRUE(base::CreateDirectory(own));
  ASSERT_TRUE(CopyFileW((test_support::ExecutableDir() + L"\\fake_backend_test_child.exe").c_str(),
                        own.Append(L"installer.exe").value().c_str(), FALSE));
  ASSERT_TRUE(test_support::WriteFileBytes(own.Append(L"fake_backend_script.txt").value(),
                                           "wait-package\nstarting 0\nrun-package\nreturned\nterminated 0\n"));
  Prepare("signal " + base::WideToUTF8(names[0]) + "\nwait-interrupt\nsignal " + base::WideToUTF8(names[1]) +
          "\nwait-event " + base::WideToUTF8(names[2]) + "\nterminated 0\n");
  ASSERT_TRUE(base::PathService::Override(base::kExeFile, own.Append(L"installer.exe")));
  ASSERT_TRUE(base::DeleteFile(package_.Append(L"fake_backend_record.jsonl"), false));
  InstallerUIController handed_over;
  active_ = &handed_over;
  next_step_ = 0;
  EventStep next;
  next.step = base::Bind(&InstallerUIControllerTest::PostNextStep, base::Unretained(this));
  const bool result = RunWithSteps({
      [&] {
        ASSERT_TRUE(next.watcher.StartWatchingOnce(events[0].Get(), &next));
        // Downloading: the accept's backend waits for the package, which is ready afterwards.
        handed_over.NotifyStatusChanged(kDownloadingPackage);
        handed_over.OnAccept();
        handed_over.NotifyStatusChanged(kPackageReady);
      },
      [&] {
        ASSERT_TRUE(next.watcher.StartWatchingOnce(events[1].Get(), &next));
        handed_over.OnCancel();
      },
      [&] {
        ASSERT_TRUE(handed_over.window());
        EXPECT_TRUE(IsWindowVisible(handed_over.window()->main_dialog()));
        EXPECT_FALSE(IsWindowEnabled(handed_over.window()->main_dialog()));
        SetEvent(events[2].Get());
      },
  });
  // (Lets the package's installer end also when the run has not waited for it.)
  SetEvent(events[2].Get());
  EXPECT_FALSE(result);
  EXPECT_EQ(3u, next_step_);
  std::string records;
  ASSERT_TRUE(test_support::ReadFileBytes(package_.Append(L"fake_backend_record.jsonl").value(), &records));
  EXPECT_NE(std::string::npos, records.find("\"returned\":false")) << "the package's installer ended with the run";
  EXPECT_EQ("1", Stat("installation_cancelled"));
  EXPECT_EQ("0", Stat("installation_success"));
}

// A window the system refuses to make: the error is recorded and the run ends failed instead of waiting for a
// window that will never come.
TEST_F(InstallerUIControllerTest, WindowThatCannotBeMadeEndsTheRun) {
  Prepare("");
  test_support::ScopedLogCapture log;
  HHOOK hook = SetWindowsHookExW(WH_CBT, &RefuseWindows, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(hook);
  const bool result = controller_.RunUI(settings_.get(), true, download_, false);
  UnhookWindowsHookEx(hook);
  EXPECT_FALSE(result);
  EXPECT_EQ(nullptr, controller_.window());
  EXPECT_TRUE(log.HasLineStartingWith("Could not initialize installer window", logging::LOG_ERROR));
  EXPECT_FALSE(base::PathExists(download_.Append(L"installer.lck")));
  EXPECT_EQ("0", Stat("installation_success"));
  EXPECT_EQ("\"Could not initialize installer window\"", Stat("failure_reason"));
}

}  // namespace
}  // namespace zorvi::installer
