#include "base/message_loop/message_pump_for_ui.h"

#include <string>

#include "base/logging.h"
#include "base/message_loop/guarded_window_proc.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/scoped_complete_trace_event.h"
#include "base/trace_event/trace_log.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace {

// Passed to CallMsgFilterW, so that message hooks can tell the pump's messages apart.
constexpr int kMessageFilterCode = 0x5001;

// The input kinds the wait wakes for (QS_ALLINPUT with the touch and pointer input of later systems).
constexpr DWORD kWaitWakeMask = 0x1CFF;

HINSTANCE ThisModule() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

UINT_PTR TimerId(const MessagePumpForUI* pump) {
  return reinterpret_cast<UINT_PTR>(pump);
}

// Messages sent from other threads wait for this one: PeekMessage delivers them without returning them.
bool SentMessagesArePending() {
  return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}

}  // namespace

MessagePumpForUI::MessagePumpForUI() {
  const std::wstring class_name = StringPrintf(L"Brumel_MessagePumpWindow_%p", static_cast<void*>(this));
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &WndProc;
  window_class.hInstance = ThisModule();
  window_class.lpszClassName = class_name.c_str();
  atom_ = RegisterClassExW(&window_class);
  if (!atom_) {
    PLOG(ERROR) << "RegisterClassExW of the message pump's window class failed";
  } else {
    message_hwnd_ = CreateWindowExW(0, MAKEINTATOM(atom_), nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ThisModule(), nullptr);
    if (!message_hwnd_)
      PLOG(ERROR) << "CreateWindowExW of the message pump's window failed";
  }
  if (!message_hwnd_) {
    // A wake-up posted to no window would land in the poster's own queue, and the pump would sleep on with its
    // tasks waiting; a timer set on no window is a new thread timer each time, which the pump could never kill.
    wake_event_.Set(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    PCHECK(wake_event_.IsValid()) << "a UI message pump has neither its window nor an event to wake through";
    LOG(WARNING) << "The message pump wakes through an event; tasks do not run inside native message loops";
  }
}

MessagePumpForUI::~MessagePumpForUI() {
  if (message_hwnd_)
    DestroyWindow(message_hwnd_);
  if (atom_)
    UnregisterClassW(MAKEINTATOM(atom_), ThisModule());
}

void MessagePumpForUI::RunWithDispatcher(Delegate* delegate, MessagePumpDispatcher* dispatcher) {
  RunWithState(delegate, dispatcher);
}

void MessagePumpForUI::ScheduleWork() {
  if (wake_event_.IsValid()) {
    SetEvent(wake_event_.Get());
    return;
  }
  if (have_work_.exchange(1, std::memory_order_acq_rel) == 1)
    return;  // a wake-up is already in flight
  if (PostMessageW(message_hwnd_, kMsgHaveWork, reinterpret_cast<WPARAM>(this), 0))
    return;
  // The queue refused the message (it is full, or the window is gone): the thread stays asleep until some
  // other message or a timer wakes it, so at least leave a trace of it.
  have_work_.exchange(0, std::memory_order_acq_rel);
  RecordScheduleWorkError(MESSAGE_POST_ERROR);
}

void MessagePumpForUI::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
  RescheduleTimer();
}

// static
LRESULT CALLBACK MessagePumpForUI::WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return CallWindowProcGuarded(&WndProcUnguarded, hwnd, message, wparam, lparam);
}

// static
LRESULT CALLBACK MessagePumpForUI::WndProcUnguarded(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kMsgHaveWork:
      reinterpret_cast<MessagePumpForUI*>(wparam)->HandleWorkMessage();
      break;
    case WM_TIMER:
      reinterpret_cast<MessagePumpForUI*>(wparam)->HandleTimerMessage();
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void MessagePumpForUI::DoRunLoop() {
  // Windows messages come first, so that input is never starved by a stream of tasks; a busy task queue
  // still gets one task between any two messages.
  for (;;) {
    bool more_work_is_plausible = ProcessNextWindowsMessage();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoWork();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoDelayedWork(&delayed_work_time_);
    // No delayed work is left: the backstop timer has nothing to do.
    if (more_work_is_plausible && delayed_work_time_.is_null() && message_hwnd_)
      KillTimer(message_hwnd_, TimerId(this));
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    WaitForWork();
  }
}

void MessagePumpForUI::WaitForWork() {
  const int32_t delay = GetCurrentDelay();
  const DWORD timeout = delay < 0 ? INFINITE : static_cast<DWORD>(delay);
  HANDLE wake_event = wake_event_.Get();
  const DWORD handle_count = wake_event_.IsValid() ? 1 : 0;
  const DWORD result = MsgWaitForMultipleObjectsEx(handle_count, handle_count ? &wake_event : nullptr, timeout,
                                                   kWaitWakeMask, MWMO_INPUTAVAILABLE);
  if (result == WAIT_OBJECT_0 + handle_count) {
    // Input is reported as available, yet a peek may find nothing (the input belongs to a window of another
    // thread attached to this one): then wait for genuinely new input instead of spinning.
    MSG msg;
    if (!SentMessagesArePending() && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
      WaitMessage();
  }
}

void MessagePumpForUI::HandleWorkMessage() {
  // Another loop on this thread (not a run of this pump) dispatched the wake-up: let the next post through.
  if (!state_) {
    have_work_.exchange(0, std::memory_order_acq_rel);
    return;
  }
  // A native loop further up the stack holds the thread; keep its messages flowing while doing one task.
  ProcessPumpReplacementMessage();
  if (state_->delegate->DoWork())
    ScheduleWork();
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  RescheduleTimer();
}

void MessagePumpForUI::HandleTimerMessage() {
  KillTimer(message_hwnd_, TimerId(this));
  if (!state_)
    return;
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  RescheduleTimer();
}

void MessagePumpForUI::RescheduleTimer() {
  if (delayed_work_time_.is_null())
    return;
  int32_t delay_ms = GetCurrentDelay();
  if (delay_ms == 0) {
    // Already due: a timer would only add latency.
    ScheduleWork();
    return;
  }
  if (!message_hwnd_)
    return;  // the pump's own wait keeps the time
  if (delay_ms < static_cast<int32_t>(USER_TIMER_MINIMUM))
    delay_ms = USER_TIMER_MINIMUM;
  if (!SetTimer(message_hwnd_, TimerId(this), static_cast<UINT>(delay_ms), nullptr))
    RecordProblem(SET_TIMER_ERROR);
}

bool MessagePumpForUI::ProcessNextWindowsMessage() {
  // Sent messages are delivered inside PeekMessage without being returned by it, so a peek that found
  // nothing still did work when some were pending.
  const bool sent_messages_in_queue = SentMessagesArePending();
  MSG msg;
  if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    return ProcessMessageHelper(msg);
  return sent_messages_in_queue;
}

bool MessagePumpForUI::ProcessMessageHelper(const MSG& msg) {
  static const unsigned char* const category = trace_event::TraceLog::GetCategoryGroupEnabled("base");
  static const char* const kArgNames[] = {"message"};
  static const unsigned char kArgTypes[] = {trace_event::kTraceValueTypeUint};
  const unsigned long long arg_values[] = {msg.message};
  trace_event::ScopedCompleteTraceEvent trace(category, "MessagePumpForUI::ProcessMessageHelper", 1, kArgNames,
                                              kArgTypes, arg_values);

  if (msg.message == WM_QUIT) {
    // Ends this run, and is put back so that the loop this run is nested in ends too.
    state_->should_quit = true;
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }

  if (msg.message == kMsgHaveWork && message_hwnd_ && msg.hwnd == message_hwnd_)
    return ProcessPumpReplacementMessage();

  if (CallMsgFilterW(const_cast<MSG*>(&msg), kMessageFilterCode))
    return true;  // a message hook consumed it

  uint32_t action = MessagePumpDispatcher::kDispatchPerformDefault;
  if (state_->dispatcher)
    action = state_->dispatcher->Dispatch(msg);
  if (action & MessagePumpDispatcher::kDispatchQuitLoop)
    state_->should_quit = true;
  if (action & MessagePumpDispatcher::kDispatchPerformDefault) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool MessagePumpForUI::ProcessPumpReplacementMessage() {
  // The wake-up message itself carries no work; process one real message in its place so that a stream of
  // wake-ups cannot starve the queue.
  MSG msg;
  const bool have_message = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
  // From here on another thread may post the next wake-up.
  have_work_.exchange(0, std::memory_order_acq_rel);
  if (!have_message)
    return false;
  // More work may be waiting behind the message taken here: make sure the pump comes back for it.
  ScheduleWork();
  return ProcessMessageHelper(msg);
}

}  // namespace base
