#include "desktop/launcher/installer/update_service_test_util.h"

#include "base/bind.h"
#include "base/command_line.h"
#include "base/strings/stringprintf.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/test_programs.h"

namespace zorvi::installer::test {

void SilentUIRunner::RunUICallbackAndPostReply(const UICallback& /*ui_callback*/,
                                               const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                               const UIReply& reply) {
  reply_task_runner->PostTask(FROM_HERE, base::Bind(reply, 0u));
}

base::Closure DoneCounter::Callback() {
  return base::Bind(
      [](DoneCounter* counter) {
        ++counter->count_;
        if (counter->waiting_)
          counter->waiting_->Quit();
      },
      base::Unretained(this));
}

int DoneCounter::Wait() {
  if (count_ == 0) {
    base::RunLoop run_loop;
    waiting_ = &run_loop;
    run_loop.Run();
    waiting_ = nullptr;
  }
  base::RunLoop drain;
  base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, drain.QuitClosure());
  drain.Run();
  return count_;
}

UpdateServiceTest::UpdateServiceTest() {
  EXPECT_TRUE(base::CommandLine::Init());
  SetDownloadRetryDelayForTesting(0);
}

UpdateServiceTest::~UpdateServiceTest() = default;

void UpdateServiceTest::StartServer(const std::string& faults_json, int port) {
  std::string error;
  const bool started = server_.Start(TestDataFile(L"served").value(), faults_json, &error, port);
  if (!started && server_.port_taken())
    GTEST_SKIP() << error;
  ASSERT_TRUE(started) << error;
  SetAutoupdateUrl("127.0.0.1", "/");
}

void UpdateServiceTest::SetAutoupdateUrl(const std::string& host, const std::string& path) {
  SetBrandingTextForTesting(base::StringPrintf(
      R"({"product_name": "Test Product", "company_name": "Test Company", "domain": "",
          "urls": {"autoupdate": "http://%s:%d%s"}})",
      host.c_str(), server_.port(), path.c_str()));
}

void UpdateServiceTest::UseSwitches(const std::vector<std::wstring>& switches) {
  std::vector<std::wstring> arguments = {L"update_service_test.exe"};
  arguments.insert(arguments.end(), switches.begin(), switches.end());
  base::CommandLine::ForCurrentProcess()->ResetFromArguments(arguments);
}

}  // namespace zorvi::installer::test
