// The silent controller on this thread, against the loopback update service (statistics, overrides) and a
// scripted backend (fake_backend_test_child.exe as the installer beside which it runs without a fetcher). What
// the fetcher would report is posted to the controller as the fetcher's proxy would post it.
#include "desktop/launcher/installer/silent_installer_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/features/feature_list.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/values.h"
#include "base/win/object_watcher.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/update_service_test_util.h"
#include "testing/scoped_log_capture.h"
#include "testing/installer/settings_status_wait.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {
namespace {

using test_support::LoggedRequest;
using test_support::RequestsTo;

constexpr char kFeedback[] = "/netinstaller/feedback";
constexpr char kMarker[] = "test: posted before the run";

struct Row {
  const char* name;
  std::vector<std::wstring> switches;
  const char* script;          // the backend's
  bool settings_ready;         // the status is in before Run
  int fetcher_status;          // posted before Run as the fetcher would report it; -1 for none
  bool result;
  int posts;                   // statistics posts the service received (a refused first one is retried)
  const char* failure_reason;  // of the last post; null: none
  std::vector<std::string> in_order;  // log lines, in this order
  std::vector<std::string> absent;
  // The fetcher's report is posted once the backend has set the event its script names STARTED instead.
  bool status_once_started = false;
  // An installer error is heard right after the backend's exit, in the grace that waits for such news.
  bool error_after_exit = false;
};

class ErrorAfterExitController : public SilentInstallerController {
 public:
  void OnInstallerTerminated(bool success) override {
    SilentInstallerController::OnInstallerTerminated(success);
    OnInstallerError(kInstallerErrorGeneric, std::wstring(), "heard late");
  }
};

// Posts the fetcher's report once the backend has started.
struct StatusOnceStarted : base::win::ObjectWatcher::Delegate {
  void OnObjectSignaled(HANDLE) override {
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::Bind(&SilentInstallerController::NotifyStatusChanged, base::Unretained(controller), status));
  }
  SilentInstallerController* controller = nullptr;
  int status = -1;
  base::win::ObjectWatcher watcher;
};

class SilentControllerTest : public UpdateServiceTest {
 protected:
  // Runs that end on their backend's exit end at once.
  SilentControllerTest() { SetBackendExitGraceForTesting(0); }
  ~SilentControllerTest() override { SetBackendExitGraceForTesting(-1); }
};

// The log lines of the capture as plain text, in order.
std::vector<std::string> Messages(const test_support::ScopedLogCapture& capture) {
  std::vector<std::string> messages;
  for (const auto& line : capture.lines())
    messages.push_back(line.text);
  return messages;
}

TEST_F(SilentControllerTest, RunsEndOnceWithTheirOutcomeAndStatistics) {
  const Row rows[] = {
      // The run ends on the backend's exit, not on its success message: an inner generation reports to the same
      // mailslot while the outer one may still fail. The package (no fetcher) is handed over by the start, which
      // is posted.
      {"success", {L"--enable-installer-stats=1"}, "success\n", true, -1, true, 1, nullptr,
       {"Settings already obtained. Starting.", kMarker, "Got tracking data from package.",
        "Preparing to run the installer.", "Installer succeeded: waiting for the backend to end",
        "Installer ended. Success is 1. terminating", "Sending stats", "Controller exiting"},
       {}},
      {"success, then a failed exit", {L"--enable-installer-stats=1"}, "result 0\nsuccess\n", true, -1, false, 1,
       nullptr, {"Installer succeeded: waiting for the backend to end", "Installer ended. Success is 0. terminating",
                 "Sending stats"}, {}},
      // A fetch that fails while the settings are still read ends the run; their arrival starts nothing.
      {"fetch failure first", {L"--enable-installer-stats=1"}, "success\n", false, kDownloadFailed, false, 2,
       "Fetcher error",
       {"Package fetcher failed.", "Sending stats", "Settings obtained. Starting.", "Controller exiting"},
       {"Preparing to run the installer."}},
      // An error decides the outcome, but the run ends on the backend's exit, once the backend has undone what it
      // did; a clean exit after an error is still a failure.
      {"error, then a clean exit", {L"--enable-installer-stats=1"}, "result 1\nerror 37050 |it broke\n", true, -1,
       false, 1, "it broke",
       {"Installer error: terminating", "Waiting for the backend to end", "Installer ended. Success is 0. terminating",
        "Sending stats", "Controller exiting"}, {"Termination already done."}},
      // A backend that ends without a word failed, whatever its exit code: killed two files into the copy, say
      // (wine reports a killed process's exit code as 0).
      {"killed with exit code 0", {L"--enable-installer-stats=1"}, "total 3\nstep 2\nkill 0\n", true, -1, false, 1,
       kBackendEndedWithoutResultMessage,
       {"Installer error: terminating", "Installer ended. Success is 0. terminating", "Sending stats"}, {}},
      {"no statistics, error", {L"--enable-installer-stats=0"}, "error 37050 |it broke\n", true, -1, false, 0,
       nullptr, {"Installer error: terminating", "Installer ended. Success is 0. terminating", "Not sending stats",
                 "Controller exiting"}, {}},
      // A fetch that fails while the backend waits for the package stops that backend and ends with it.
      {"fetch failure, the backend waiting", {L"--enable-installer-stats=1"},
       "signal STARTED\nwait-interrupt\nterminated 0\n", true, kDownloadFailed, false, 1, "Fetcher error",
       {"Preparing to run the installer.", "Package fetcher failed.", "Installer ended. Success is 0. terminating",
        "Sending stats", "Controller exiting"}, {}, true},
      // An autoupdate that succeeds is not reported; one that fails is, with the installer's reason.
      {"autoupdate success", {L"--enable-installer-stats=1", L"--autoupdate"}, "success\n", true, -1,
       true, 0, nullptr, {"Installer ended. Success is 1. terminating", "Not sending stats"}, {"Sending stats"}},
      {"autoupdate failure", {L"--enable-installer-stats=1", L"--autoupdate"}, "error 37050 |it broke\n", true, -1,
       false, 1, "it broke", {"Installer error: terminating", "Sending stats"}, {}},
      // Without installer statistics nothing is sent, whatever the outcome, and the outcome is still the exit's.
      {"no statistics", {L"--enable-installer-stats=0"}, "success\n", false, -1, true, 0, nullptr,
       {"Settings obtained. Starting.", "Installer ended. Success is 1. terminating", "Not sending stats"},
       {"Settings already obtained. Starting."}},
      {"no statistics, success then a failed exit", {L"--enable-installer-stats=0"}, "result 0\nsuccess\n", true,
       -1, false, 0, nullptr, {"Installer ended. Success is 0. terminating", "Not sending stats"}, {}},
      {"an error after a clean exit", {L"--enable-installer-stats=1"}, "success\n", true, -1, false, 1, "heard late",
       {"Installer ended. Success is 1. terminating", "Installer error: terminating", "Sending stats"}, {}, false,
       true},
  };
  // A run with two posts has its first refused and retried after 3 s: long after the backend's exit follows its
  // error, or the settings' status follows a fetcher's failure.
  std::string feedback_faults;
  for (const Row& row : rows) {
    if (row.posts == 2)
      feedback_faults += R"({"status": 503}, )";
    if (row.posts > 0)
      feedback_faults += R"({"status": 200, "body": "ok"}, )";
  }
  StartServer(std::string(R"({")") + kFeedback + R"(": [)" + feedback_faults +
              R"({"times": "all", "status": 200, "body": "ok"}]})");
  SetAutoupdateUrl("localhost", "/");
  SetDownloadRetryDelayForTesting(3000);
  // The failure reason is recorded with the installer's interface statistics only; registered first, this
  // entry is the one the feature list answers for.
  base::FeatureList::GetInstance()->AddFeature("installer-ui-stats", true, false);
  int run = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // A folder per run: a backend may still be ending when its run is over.
    test_support::ScopedTestFolder folder(L"Silent" + std::to_wstring(++run));
    const base::FilePath package(folder.path());
    ASSERT_TRUE(CopyFileW(TestProgram(L"fake_backend_test_child.exe").value().c_str(),
                          package.Append(L"installer.exe").value().c_str(), FALSE));
    std::string script = row.script;
    const std::wstring started_name = test_support::UniqueName(L"silent_started");
    const size_t started_at = script.find("STARTED");
    if (started_at != std::string::npos)
      script.replace(started_at, 7, base::WideToUTF8(started_name));
    ASSERT_TRUE(test_support::WriteFileBytes(package.Append(L"fake_backend_script.txt").value(), script));
    test_support::ScopedTestHandle started_event(CreateEventW(nullptr, TRUE, FALSE, started_name.c_str()));
    ASSERT_TRUE(base::PathService::Override(base::kExeFile, package.Append(L"installer.exe")));
    ASSERT_TRUE(base::PathService::Override(base::kExeDir, package));
    std::vector<std::wstring> switches = {L"--silent", L"--installfolder=" + folder.path() + L"\\Zorvi"};
    switches.insert(switches.end(), row.switches.begin(), row.switches.end());
    UseSwitches(switches);
    const size_t posts_before = RequestsTo(server().Requests(), kFeedback).size();

    test_support::ScopedLogCapture capture;
    logging::SetMinLogLevel(-2);
    // Posted before the settings exist, a fetcher's report comes before their status can.
    std::unique_ptr<SilentInstallerController> controller =
        row.error_after_exit ? std::make_unique<ErrorAfterExitController>()
                             : std::make_unique<SilentInstallerController>();
    StatusOnceStarted once_started;
    once_started.controller = controller.get();
    once_started.status = row.fetcher_status;
    if (row.status_once_started) {
      ASSERT_TRUE(once_started.watcher.StartWatchingOnce(started_event.get(), &once_started));
    } else if (row.fetcher_status >= 0) {
      base::ThreadTaskRunnerHandle::Get()->PostTask(
          FROM_HERE, base::Bind(&SilentInstallerController::NotifyStatusChanged, base::Unretained(controller.get()),
                                row.fetcher_status));
    }
    std::unique_ptr<Settings> settings =
        test_support::SettingsAsTheEntryMakesThem(*base::CommandLine::ForCurrentProcess());
    ASSERT_TRUE(settings);
    if (row.settings_ready)
      test_support::WaitForSettingsStatus(settings.get());
    // The scripted backend opens the interruption event only after it has signalled its start, when the runner
    // may have set and closed it already: kept open here, it stays set for the backend to find.
    test_support::ScopedTestHandle interrupted;
    if (row.status_once_started) {
      interrupted.reset(CreateEventW(nullptr, TRUE, FALSE,
                                     GetInstallerKernelObjectName(settings->status().path.value(),
                                                                  kInstallationInterruptedEventBase, true)
                                         .c_str()));
      ASSERT_TRUE(interrupted.get());
    }
    // Runs before anything Run posts.
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, base::Bind([] { LOG(INFO) << kMarker; }));
    const bool result = controller->Run(settings.get(), true, package);
    controller.reset();
    settings.reset();
    CoUninitialize();
    EXPECT_EQ(row.result, result);

    const std::vector<std::string> messages = Messages(capture);
    auto next = messages.begin();
    for (const std::string& expected : row.in_order) {
      next = std::find(next, messages.end(), expected);
      EXPECT_NE(messages.end(), next) << "missing or out of order: " << expected << "\n" << capture.Text();
    }
    for (const std::string& line : row.absent)
      EXPECT_EQ(messages.end(), std::find(messages.begin(), messages.end(), line)) << line;
    // One end.
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), "Sending stats") +
                     std::count(messages.begin(), messages.end(), "Not sending stats"));
    // A backend that was started had ended with the run: its record of the return is written before it exits.
    const std::vector<std::string> records = ReadLines(package.Append(L"fake_backend_record.jsonl"));
    int started = 0;
    int returned = 0;
    for (const std::string& line : records) {
      std::unique_ptr<base::Value> record = base::JsonReader::Read(line);
      const base::DictionaryValue* fields = nullptr;
      ASSERT_TRUE(record && record->GetAsDictionary(&fields)) << line;
      started += fields->HasKey("command_line");
      returned += fields->HasKey("returned");
    }
    // (A killed one records no return.)
    const int killed = std::string(row.script).find("kill ") != std::string::npos ? 1 : 0;
    EXPECT_EQ(started, returned + killed) << testing::PrintToString(records);

    EXPECT_TRUE(server().WaitForLogged(kFeedback, posts_before + row.posts, 30000));
    const std::vector<LoggedRequest> posts = RequestsTo(server().Requests(), kFeedback);
    ASSERT_EQ(posts_before + row.posts, posts.size());
    if (row.posts == 0)
      continue;
    std::string body;
    ASSERT_TRUE(server().ReadBody(posts.back(), &body));
    std::unique_ptr<base::Value> stats = base::JsonReader::Read(body);
    const base::DictionaryValue* dictionary = nullptr;
    ASSERT_TRUE(stats && stats->GetAsDictionary(&dictionary)) << body;
    int success = -1;
    EXPECT_TRUE(dictionary->GetInteger("installation_success", &success));
    EXPECT_EQ(row.result ? 1 : 0, success);
    std::string reason;
    EXPECT_EQ(row.failure_reason != nullptr, dictionary->GetString("failure_reason", &reason)) << body;
    if (row.failure_reason) {
      EXPECT_EQ(row.failure_reason, reason);
    }
  }
}

// Nothing can be shown: the request is answered 0 (cancelled) on the requester's runner, and never run.
TEST_F(SilentControllerTest, RequestsForUserInterfaceAreRefused) {
  test_support::ScopedLogCapture capture;
  SilentInstallerController controller;
  bool ran = false;
  uint32_t reply = 1;
  base::RunLoop replied;
  controller.RunUICallbackAndPostReply(
      base::Bind([](bool* ran, HWND) -> uint32_t { *ran = true; return 7; }, &ran),
      base::ThreadTaskRunnerHandle::Get(),
      base::Bind([](uint32_t* reply, base::RunLoop* replied, uint32_t value) { *reply = value; replied->Quit(); },
                 &reply, &replied));
  EXPECT_EQ(1u, reply) << "the reply is posted, not given inside the call";
  replied.Run();
  EXPECT_EQ(0u, reply);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(capture.HasLineStartingWith("Cannot display UI requested by fetcher when running silently",
                                          logging::LOG_ERROR));
}

}  // namespace
}  // namespace zorvi::installer::test
