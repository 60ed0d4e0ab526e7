// For the pump tests: a pump delegate whose three calls do what each test sets, and count themselves; a run
// that only a wake-up from another thread ends; a refusal of the thread's windows; and the search for the UI
// pump's window.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_TEST_UTIL_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_TEST_UTIL_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <functional>
#include <thread>

#include "base/message_loop/message_pump.h"
#include "base/message_loop/message_pump_for_ui.h"
#include "base/synchronization/waitable_event.h"
#include "base/time/time.h"

namespace base {

class FakePumpDelegate : public MessagePump::Delegate {
 public:
  bool DoWork() override {
    ++work_calls;
    return do_work ? do_work() : false;
  }
  bool DoDelayedWork(TimeTicks* next_delayed_work_time) override {
    ++delayed_work_calls;
    return do_delayed_work ? do_delayed_work(next_delayed_work_time) : false;
  }
  bool DoIdleWork() override {
    ++idle_work_calls;
    return do_idle_work ? do_idle_work() : false;
  }

  std::function<bool()> do_work;
  std::function<bool(TimeTicks*)> do_delayed_work;
  std::function<bool()> do_idle_work;
  int work_calls = 0;
  int delayed_work_calls = 0;
  int idle_work_calls = 0;
};

// Runs `pump` until a wake-up posted from another thread ends its wait: the first idle phase starts a thread
// that calls ScheduleWork, and the first DoWork after that post quits the run. Returns whether the wake-up
// ended the wait within a bound far above a working one; a UI pump that missed it is then woken by a thread
// message, so that the run still ends.
inline bool RunUntilWokenFromAnotherThread(MessagePump* pump) {
  FakePumpDelegate delegate;
  std::thread waker;
  std::atomic<bool> posted{false};
  WaitableEvent woken(true, false);
  bool in_time = false;
  const DWORD pump_thread = GetCurrentThreadId();
  delegate.do_idle_work = [&] {
    if (!waker.joinable()) {
      waker = std::thread([&] {
        posted = true;
        pump->ScheduleWork();
        in_time = woken.TimedWait(TimeDelta::FromSeconds(60));
        if (!in_time)
          PostThreadMessageW(pump_thread, WM_NULL, 0, 0);
      });
    }
    return false;
  };
  delegate.do_work = [&] {
    if (posted) {
      woken.Signal();
      pump->Quit();
    }
    return false;
  };
  pump->Run(&delegate);
  waker.join();
  return in_time;
}

// While it exists, every window the calling thread tries to make is refused (CreateWindowExW fails), as on a
// system out of window resources: the thread's CBT hook answers each creation with a refusal.
class ScopedWindowCreationRefusal {
 public:
  ScopedWindowCreationRefusal()
      : hook_(SetWindowsHookExW(WH_CBT, &Refuse, nullptr, GetCurrentThreadId())) {}
  ~ScopedWindowCreationRefusal() {
    if (hook_)
      UnhookWindowsHookEx(hook_);
  }
  ScopedWindowCreationRefusal(const ScopedWindowCreationRefusal&) = delete;
  ScopedWindowCreationRefusal& operator=(const ScopedWindowCreationRefusal&) = delete;

  bool installed() const { return hook_ != nullptr; }

 private:
  static LRESULT CALLBACK Refuse(int code, WPARAM wparam, LPARAM lparam) {
    return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, wparam, lparam);
  }

  HHOOK hook_;
};

// The message-only window of `pump`, found through the system's own list of message-only windows: the one
// of this thread whose class is named after the pump's address. Null when there is none.
inline HWND FindPumpWindow(const MessagePumpForUI* pump) {
  wchar_t expected[64];
  // The address as printf prints a pointer: 16 hexadecimal digits (their case differs between C runtimes).
  swprintf(expected, 64, L"Brumel_MessagePumpWindow_%016llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pump)));
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr) {
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
      continue;
    wchar_t class_name[128] = {};
    GetClassNameW(window, class_name, 128);
    if (_wcsicmp(class_name, expected) == 0)
      return window;
  }
  return nullptr;
}

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_TEST_UTIL_H_
