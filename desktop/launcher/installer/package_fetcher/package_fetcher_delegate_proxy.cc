#include "desktop/launcher/installer/package_fetcher/package_fetcher_delegate_proxy.h"

#include "base/bind.h"
#include "base/threading/thread_task_runner_handle.h"

namespace zorvi::installer {

// Tasks carry the name of the proxy method that posted them, so that the task profiler and crash reports
// show which notification a task was.
#define PROXY_LOCATION(method)                                                                 \
  ::base::Location("PackageFetcher::PackageFetcherDelegateProxy::" method, __FILE__, __LINE__, \
                   ::base::GetProgramCounter())

PackageFetcherDelegateProxy::PackageFetcherDelegateProxy(PackageFetcherDelegate* delegate, UICallbackRunner* runner)
    : controller_task_runner_(base::ThreadTaskRunnerHandle::Get()), delegate_(delegate), runner_(runner) {}

PackageFetcherDelegateProxy::~PackageFetcherDelegateProxy() = default;

void PackageFetcherDelegateProxy::SetTotalProgress(int total) {
  PostToDelegate(PROXY_LOCATION("SetTotalProgress"), &PackageFetcherDelegate::SetTotalProgress, total);
}

void PackageFetcherDelegateProxy::SetCurrentProgress(int value) {
  PostToDelegate(PROXY_LOCATION("SetCurrentProgress"), &PackageFetcherDelegate::SetCurrentProgress, value);
}

void PackageFetcherDelegateProxy::NotifyStalled() {
  PostToDelegate(PROXY_LOCATION("NotifyStalled"), &PackageFetcherDelegate::NotifyStalled);
}

void PackageFetcherDelegateProxy::NotifyStatusChanged(int status) {
  PostToDelegate(PROXY_LOCATION("NotifyStatusChanged"), &PackageFetcherDelegate::NotifyStatusChanged, status);
}

void PackageFetcherDelegateProxy::NotifyTrackingDataObtained(const std::string& tracking_data) {
  // The task keeps its own copy: the fetcher may change its text before the controller sees it.
  PostToDelegate(PROXY_LOCATION("NotifyTrackingDataObtained"), &PackageFetcherDelegate::NotifyTrackingDataObtained,
                 tracking_data);
}

void PackageFetcherDelegateProxy::RunUICallbackAndPostReply(
    const UICallback& ui_callback, const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
    const UIReply& reply) {
  controller_task_runner_->PostTask(
      PROXY_LOCATION("RunUICallbackAndPostReply"),
      base::Bind(&PackageFetcherDelegateProxy::DeliverUICallback, this, ui_callback, reply_task_runner, reply));
}

void PackageFetcherDelegateProxy::Detach() {
  delegate_ = nullptr;
  runner_ = nullptr;
}

template <typename... Args>
void PackageFetcherDelegateProxy::PostToDelegate(const base::Location& from_here,
                                                 void (PackageFetcherDelegate::*method)(Args...),
                                                 std::decay_t<Args>... arguments) {
  // Binding `this` gives the task its own reference, so the proxy outlives whatever is queued.
  controller_task_runner_->PostTask(
      from_here, base::Bind(&PackageFetcherDelegateProxy::DeliverToDelegate<Args...>, this, method, arguments...));
}

template <typename... Args>
void PackageFetcherDelegateProxy::DeliverToDelegate(void (PackageFetcherDelegate::*method)(Args...),
                                                    const std::decay_t<Args>&... arguments) {
  if (delegate_)
    (delegate_->*method)(arguments...);
}

void PackageFetcherDelegateProxy::DeliverUICallback(const UICallback& ui_callback,
                                                    const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                                    const UIReply& reply) {
  if (runner_)
    runner_->RunUICallbackAndPostReply(ui_callback, reply_task_runner, reply);
}

}  // namespace zorvi::installer
