// Gives the installer window's keyboard messages to its active modeless dialog, so that Tab, Enter, Escape and
// mnemonics work although the dialogs are modeless and the UI message loop is the generic one. The window makes its
// main dialog current while it is active; the UI controller runs its loop with this dispatcher.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_

#include <windows.h>

#include <cstdint>

#include "base/lazy_instance.h"
#include "base/message_loop/message_pump_dispatcher.h"

namespace zorvi::installer {

class Win32DialogDispatcher : public base::MessagePumpDispatcher {
 public:
  // The process's dispatcher, made on first use and destroyed by the at-exit manager. Main thread only.
  static Win32DialogDispatcher* GetInstance();

  Win32DialogDispatcher(const Win32DialogDispatcher&) = delete;
  Win32DialogDispatcher& operator=(const Win32DialogDispatcher&) = delete;

  // Makes `dialog` the current dialog.
  void SwitchTo(HWND dialog);
  // Forgets the current dialog when it is `dialog`; another current dialog stays.
  void SwitchAway(HWND dialog);
  HWND current_dialog() const { return current_dialog_; }

  // kDispatchNone when the current dialog took the message as dialog input, else
  // kDispatchPerformDefault (also without a current dialog): the loop translates and dispatches it.
  uint32_t Dispatch(const MSG& message) override;

 private:
  friend struct base::DefaultLazyInstanceTraits<Win32DialogDispatcher>;
  Win32DialogDispatcher() = default;
  ~Win32DialogDispatcher() override = default;

  HWND current_dialog_ = nullptr;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
