// The fetcher's worker-side stand-in for the controller: every delegate call and UI request made on the
// worker (or on a downloader callback thread) is re-posted to the controller's thread and delivered there in
// the order posted, until the fetcher's worker side detaches the proxy; from then on queued and later calls
// are dropped, so nothing reaches a controller that is being destroyed.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_PROXY_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_PROXY_H_

#include <string>
#include <type_traits>

#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/single_thread_task_runner.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"

namespace zorvi::installer {

class PackageFetcherDelegateProxy : public PackageFetcherDelegate,
                                    public UICallbackRunner,
                                    public base::RefCountedThreadSafe<PackageFetcherDelegateProxy> {
 public:
  // On the controller's thread, whose task runner receives every call. Neither pointer is owned; both must
  // stay valid until Detach.
  PackageFetcherDelegateProxy(PackageFetcherDelegate* delegate, UICallbackRunner* runner);
  PackageFetcherDelegateProxy(const PackageFetcherDelegateProxy&) = delete;
  PackageFetcherDelegateProxy& operator=(const PackageFetcherDelegateProxy&) = delete;

  // PackageFetcherDelegate, callable from any thread.
  void SetTotalProgress(int total) override;
  void SetCurrentProgress(int value) override;
  void NotifyStalled() override;
  void NotifyStatusChanged(int status) override;
  void NotifyTrackingDataObtained(const std::string& tracking_data) override;

  // UICallbackRunner, callable from any thread. After Detach neither the callback nor the reply runs.
  void RunUICallbackAndPostReply(const UICallback& ui_callback,
                                 const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                 const UIReply& reply) override;

  // Called by the fetcher's worker side as it is destroyed, while the controller's thread waits for the
  // worker to end: the controller's tasks read the pointers only afterwards, so no lock is needed.
  void Detach();

 private:
  friend class base::RefCountedThreadSafe<PackageFetcherDelegateProxy>;
  ~PackageFetcherDelegateProxy() override;

  // Posts a call of `method` on the delegate with copies of `arguments`, each task holding a reference.
  template <typename... Args>
  void PostToDelegate(const base::Location& from_here, void (PackageFetcherDelegate::*method)(Args...),
                      std::decay_t<Args>... arguments);

  // Run on the controller's thread; each does nothing once detached.
  template <typename... Args>
  void DeliverToDelegate(void (PackageFetcherDelegate::*method)(Args...), const std::decay_t<Args>&... arguments);
  void DeliverUICallback(const UICallback& ui_callback, const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                         const UIReply& reply);

  const base::scoped_refptr<base::SingleThreadTaskRunner> controller_task_runner_;
  PackageFetcherDelegate* delegate_;
  UICallbackRunner* runner_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_PROXY_H_
