// The pump of a UI thread: it services the thread's Windows message queue and wakes through a message-only
// window, to which other threads post one wake-up message at a time. A window timer backs up delayed work
// while a native loop (a modal dialog, a menu) holds the thread.
//
// When the window cannot be made (the system is out of window resources), the pump wakes through an event that
// its wait watches beside the queue, and its own wait keeps the time of delayed work: tasks then run only in the
// pump's own runs, not inside a native loop.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_FOR_UI_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_FOR_UI_H_

#include <windows.h>

#include "base/message_loop/message_pump_win.h"
#include "base/win/scoped_handle.h"

namespace base {

class MessagePumpDispatcher;

class MessagePumpForUI : public MessagePumpWin {
 public:
  // The wake-up message; its first parameter is the pump.
  static constexpr UINT kMsgHaveWork = WM_USER + 1;

  // Registers the window class "Brumel_MessagePumpWindow_" + the pump's address and creates the
  // message-only window, on the calling thread (the pump's thread); or, when that fails, the wake-up event.
  MessagePumpForUI();
  ~MessagePumpForUI() override;

  // Run, with `dispatcher` seeing each message first.
  void RunWithDispatcher(Delegate* delegate, MessagePumpDispatcher* dispatcher);

  // Thread-safe.
  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK WndProcUnguarded(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  void DoRunLoop() override;
  void WaitForWork();
  // The wake-up message or the timer reached the window through some message loop other than this
  // pump's own (the pump takes its wake-ups off the queue itself).
  void HandleWorkMessage();
  void HandleTimerMessage();
  // Sets the window timer for the soonest delayed work, or schedules work when it is already due.
  void RescheduleTimer();
  // True when more work is plausible.
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& msg);
  // Takes the wake-up as handled and processes one other message in its place.
  bool ProcessPumpReplacementMessage();

  ATOM atom_ = 0;
  HWND message_hwnd_ = nullptr;
  // Only without the window: automatic reset, signalled by ScheduleWork.
  win::ScopedHandle wake_event_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_FOR_UI_H_
