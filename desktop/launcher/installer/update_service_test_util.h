// A harness for the clients of the update service that the controllers drive on their main thread (the
// preference-overrides fetcher and the statistics sender): the loopback server stands in for the service and the
// test branding names it as the "autoupdate" URL; a message loop carries the downloader's hand-backs; the UI
// runner answers as the silent controller does. Retries follow at once.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UPDATE_SERVICE_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_UPDATE_SERVICE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/callback.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"
#include "testing/loopback_server.h"

namespace zorvi::installer::test {

// Shows nothing and answers 0, as the silent controller does.
class SilentUIRunner : public UICallbackRunner {
 public:
  void RunUICallbackAndPostReply(const UICallback& ui_callback,
                                 const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                 const UIReply& reply) override;
};

// Counts the runs of a client's done callback; Wait runs the loop until the first.
class DoneCounter {
 public:
  base::Closure Callback();
  // Runs the loop until done has run (at once when it already has), then lets whatever is queued run, so that a
  // second run would be counted too. The number of runs.
  int Wait();
  int count() const { return count_; }

 private:
  int count_ = 0;
  base::RunLoop* waiting_ = nullptr;
};

class UpdateServiceTest : public testing::Test {
 protected:
  UpdateServiceTest();
  ~UpdateServiceTest() override;

  // Serves the area's test data folder "served" with `faults_json` on `port` (0: a free one) and makes the
  // branding's "autoupdate" URL http://<host>:<port><path> (the product "Test Product", no domain of its own).
  // A fixed port that another program holds skips the test (the caller returns when IsSkipped()).
  void StartServer(const std::string& faults_json, int port = 0);
  void SetAutoupdateUrl(const std::string& host, const std::string& path);
  // The process's command line: the program and `switches`.
  void UseSwitches(const std::vector<std::wstring>& switches);

  test_support::LoopbackServer& server() { return server_; }
  SilentUIRunner* ui_runner() { return &ui_runner_; }

 private:
  base::MessageLoop loop_;
  SilentUIRunner ui_runner_;
  test_support::LoopbackServer server_;
};

}  // namespace zorvi::installer::test

#endif  // DESKTOP_LAUNCHER_INSTALLER_UPDATE_SERVICE_TEST_UTIL_H_
