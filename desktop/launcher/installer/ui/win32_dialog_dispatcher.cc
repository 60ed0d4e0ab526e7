#include "desktop/launcher/installer/ui/win32_dialog_dispatcher.h"

#include "base/logging.h"

namespace zorvi::installer {

namespace {

constinit base::LazyInstance<Win32DialogDispatcher> g_dispatcher;

// Window handles are 32-bit values in every process, so the log shows them as such.
uint32_t HandleNumber(HWND window) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

}  // namespace

Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() {
  return g_dispatcher.Pointer();
}

void Win32DialogDispatcher::SwitchTo(HWND dialog) {
  VLOG(2) << "Switching to hwnd " << HandleNumber(dialog);
  current_dialog_ = dialog;
}

void Win32DialogDispatcher::SwitchAway(HWND dialog) {
  VLOG(2) << "Switching away from hwnd " << HandleNumber(dialog);
  // Activation messages of two dialogs may arrive in either order: the one deactivated last must not clear the
  // one activated first.
  if (current_dialog_ != dialog) {
    VLOG(2) << "Another hwnd was already selected";
    return;
  }
  current_dialog_ = nullptr;
}

uint32_t Win32DialogDispatcher::Dispatch(const MSG& message) {
  if (!current_dialog_)
    return kDispatchPerformDefault;
  MSG copy = message;
  return IsDialogMessageW(current_dialog_, &copy) ? kDispatchNone : kDispatchPerformDefault;
}

}  // namespace zorvi::installer
