// The controller's service of running a piece of user interface on its thread for worker code (the
// downloader's proxy-credential prompt) and answering with a posted reply. It lives beside the downloader, which
// asks for it.
#ifndef DESKTOP_LAUNCHER_INSTALLER_WININET_UI_CALLBACK_RUNNER_H_
#define DESKTOP_LAUNCHER_INSTALLER_WININET_UI_CALLBACK_RUNNER_H_

#include <windows.h>

#include <cstdint>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/task_runner.h"

namespace zorvi::installer {

class UICallbackRunner {
 public:
  // Takes the controller's window, the parent of whatever it shows, and gives its result.
  using UICallback = base::Callback<uint32_t(HWND)>;
  // Takes the UI callback's result.
  using UIReply = base::Callback<void(uint32_t)>;

  virtual ~UICallbackRunner() = default;

  // Runs `ui_callback` on the controller's thread, then posts `reply` with its result to `reply_task_runner`.
  // A controller that cannot show anything answers without running the callback (1223 once its interface
  // is gone, 0 when silent); a caller never gets its reply anywhere but on `reply_task_runner`.
  virtual void RunUICallbackAndPostReply(const UICallback& ui_callback,
                                         const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                         const UIReply& reply) = 0;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_WININET_UI_CALLBACK_RUNNER_H_
