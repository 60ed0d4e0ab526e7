#include "desktop/launcher/installer/package_fetcher/package_fetcher_delegate_proxy.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/memory/ref_counted.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"

namespace zorvi::installer {
namespace {

// The controller: records every call with the thread it arrived on.
class RecordingController : public PackageFetcherDelegate, public UICallbackRunner {
 public:
  struct Call {
    std::string what;
    DWORD thread;
  };

  void SetTotalProgress(int total) override { Record("total " + std::to_string(total)); }
  void SetCurrentProgress(int value) override { Record("current " + std::to_string(value)); }
  void NotifyStalled() override { Record("stalled"); }
  void NotifyStatusChanged(int status) override { Record("status " + std::to_string(status)); }
  void NotifyTrackingDataObtained(const std::string& tracking_data) override { Record("tracking " + tracking_data); }
  void RunUICallbackAndPostReply(const UICallback& ui_callback,
                                 const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                 const UIReply& reply) override {
    const uint32_t result = ui_callback.Run(nullptr);
    Record("ui " + std::to_string(result));
    reply_task_runner->PostTask(FROM_HERE, base::Bind(reply, result));
  }

  std::vector<Call> calls;

 private:
  void Record(const std::string& what) { calls.push_back({what, GetCurrentThreadId()}); }
};

// The controller's thread: the test's own, with a runner the test drains; the worker: a real thread.
class ProxyTest : public testing::Test {
 protected:
  ProxyTest()
      : controller_runner_(new base::ManualTaskRunner),
        handle_(controller_runner_),
        proxy_(new PackageFetcherDelegateProxy(&controller_, &controller_)),
        worker_("Package fetcher worker") {}

  void SetUp() override { ASSERT_TRUE(worker_.Start()); }
  void TearDown() override { worker_.Stop(); }

  // Runs `work` on the worker and waits until it has finished.
  void OnWorker(const base::Closure& work) {
    base::WaitableEvent done(false, false);
    worker_.task_runner()->PostTask(FROM_HERE, base::Bind(
                                                   [](const base::Closure& work, base::WaitableEvent* done) {
                                                     work.Run();
                                                     done->Signal();
                                                   },
                                                   work, &done));
    done.Wait();
  }

  base::scoped_refptr<base::ManualTaskRunner> controller_runner_;
  base::ThreadTaskRunnerHandle handle_;
  RecordingController controller_;
  base::scoped_refptr<PackageFetcherDelegateProxy> proxy_;
  base::Thread worker_;
};

TEST_F(ProxyTest, CallsArriveInOrderOnTheControllersThread) {
  std::string tracking = "campaign=7";
  OnWorker(base::Bind(
      [](PackageFetcherDelegateProxy* proxy, std::string* tracking) {
        proxy->NotifyStatusChanged(0);
        proxy->NotifyStatusChanged(1);
        proxy->NotifyTrackingDataObtained(*tracking);
        tracking->assign("changed by the fetcher");  // the controller still sees its own copy
        proxy->NotifyStatusChanged(2);
        proxy->SetTotalProgress(300);
        proxy->SetCurrentProgress(120);
        proxy->NotifyStalled();
        proxy->NotifyStatusChanged(3);
      },
      base::Unretained(proxy_.get()), base::Unretained(&tracking)));
  EXPECT_TRUE(controller_.calls.empty()) << "nothing runs on the worker";

  const std::deque<base::ManualTaskRunner::PostedTask> posted = controller_runner_->PendingTasks();
  const char* const kLocations[] = {"NotifyStatusChanged", "NotifyStatusChanged", "NotifyTrackingDataObtained",
                                    "NotifyStatusChanged", "SetTotalProgress",    "SetCurrentProgress",
                                    "NotifyStalled",       "NotifyStatusChanged"};
  ASSERT_EQ(std::size(kLocations), posted.size());
  for (size_t i = 0; i < posted.size(); ++i) {
    EXPECT_EQ(std::string("PackageFetcher::PackageFetcherDelegateProxy::") + kLocations[i],
              posted[i].from_here.function_name());
  }

  EXPECT_EQ(8u, controller_runner_->RunPendingTasks());
  const std::vector<std::string> kExpected = {"status 0",    "status 1",    "tracking campaign=7", "status 2",
                                              "total 300",   "current 120", "stalled",             "status 3"};
  ASSERT_EQ(kExpected.size(), controller_.calls.size());
  for (size_t i = 0; i < kExpected.size(); ++i) {
    EXPECT_EQ(kExpected[i], controller_.calls[i].what);
    EXPECT_EQ(GetCurrentThreadId(), controller_.calls[i].thread);
  }
}

TEST_F(ProxyTest, UIRequestRunsOnTheControllerAndRepliesOnTheWorker) {
  base::WaitableEvent replied(false, false);
  DWORD reply_thread = 0;
  uint32_t reply_value = 0;
  OnWorker(base::Bind(
      [](PackageFetcherDelegateProxy* proxy, base::WaitableEvent* replied, DWORD* thread, uint32_t* value) {
        proxy->RunUICallbackAndPostReply(
            base::Bind([](HWND) -> uint32_t { return 42; }), base::ThreadTaskRunnerHandle::Get(),
            base::Bind(
                [](base::WaitableEvent* replied, DWORD* thread, uint32_t* value, uint32_t result) {
                  *thread = GetCurrentThreadId();
                  *value = result;
                  replied->Signal();
                },
                replied, thread, value));
      },
      base::Unretained(proxy_.get()), &replied, &reply_thread, &reply_value));
  const std::deque<base::ManualTaskRunner::PostedTask> posted = controller_runner_->PendingTasks();
  ASSERT_EQ(1u, posted.size());
  EXPECT_STREQ("PackageFetcher::PackageFetcherDelegateProxy::RunUICallbackAndPostReply",
               posted[0].from_here.function_name());
  EXPECT_EQ(1u, controller_runner_->RunPendingTasks());
  ASSERT_EQ(1u, controller_.calls.size());
  EXPECT_EQ("ui 42", controller_.calls[0].what);
  EXPECT_EQ(GetCurrentThreadId(), controller_.calls[0].thread);
  replied.Wait();
  EXPECT_EQ(42u, reply_value);
  EXPECT_EQ(worker_.GetThreadId(), reply_thread);
}

TEST_F(ProxyTest, NothingIsDeliveredAfterDetaching) {
  bool ui_ran = false;
  OnWorker(base::Bind(
      [](PackageFetcherDelegateProxy* proxy, bool* ui_ran) {
        proxy->NotifyStatusChanged(4);  // queued before the fetcher's worker side goes
        proxy->RunUICallbackAndPostReply(base::Bind(
                                             [](bool* ran, HWND) -> uint32_t {
                                               *ran = true;
                                               return 0;
                                             },
                                             ui_ran),
                                         base::ThreadTaskRunnerHandle::Get(), base::Bind([](uint32_t) {}));
        proxy->Detach();
        proxy->NotifyStatusChanged(6);  // after
        proxy->SetCurrentProgress(1);
      },
      base::Unretained(proxy_.get()), &ui_ran));
  EXPECT_EQ(4u, controller_runner_->RunPendingTasks()) << "the tasks run, and drop their calls";
  EXPECT_TRUE(controller_.calls.empty());
  EXPECT_FALSE(ui_ran);
}

TEST_F(ProxyTest, QueuedTasksKeepTheProxyAlive) {
  PackageFetcherDelegateProxy* raw = proxy_.get();
  OnWorker(base::Bind([](PackageFetcherDelegateProxy* proxy) { proxy->NotifyStatusChanged(5); },
                      base::Unretained(raw)));
  EXPECT_FALSE(proxy_->HasOneRef()) << "the queued task holds a reference";
  proxy_ = nullptr;  // the fetcher's reference goes first
  EXPECT_EQ(1u, controller_runner_->RunPendingTasks());
  ASSERT_EQ(1u, controller_.calls.size());
  EXPECT_EQ("status 5", controller_.calls[0].what);
}

}  // namespace
}  // namespace zorvi::installer
