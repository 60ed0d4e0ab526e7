// The UI loop: window messages and timers dispatched by the loop, runs nested inside window messages, and
// the message dispatcher of a run.
#include <windows.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_loop_test_util.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/run_loop.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(MessageLoopForUITest, DispatchesWindowMessagesAndTimersBetweenTasks) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  ASSERT_NE(nullptr, window.get());
  std::vector<std::string> events;
  RunLoop run_loop;
  int ticks = 0;
  window.SetHandler(WM_APP, [&](WPARAM wparam) { events.push_back("message " + std::to_string(wparam)); });
  window.SetHandler(WM_TIMER, [&](WPARAM timer_id) {
    EXPECT_EQ(42u, timer_id);
    if (++ticks == 3) {
      KillTimer(window.get(), 42);
      events.push_back("third tick");
      run_loop.Quit();
    }
  });
  loop.PostTask(FROM_HERE, Bind([&] {
                  events.push_back("task");
                  window.Post(WM_APP, 1);
                  window.Post(WM_APP, 2);
                  ASSERT_NE(0u, SetTimer(window.get(), 42, 15, nullptr));
                }));
  run_loop.Run();
  EXPECT_EQ((std::vector<std::string>{"task", "message 1", "message 2", "third tick"}), events);
}

TEST(MessageLoopForUITest, NestedRunStartedByAWindowMessageRunsNestableTasksAndDefersTheOthers) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  std::vector<std::string> order;
  auto record = [&order](const char* name) { order.push_back(name); };
  window.SetHandler(WM_APP, [&](WPARAM) {
    RunLoop nested;
    EXPECT_FALSE(nested.running());
    loop.PostTask(FROM_HERE, Bind(record, "nestable 1"));
    loop.task_runner()->PostNonNestableTask(FROM_HERE, Bind(record, "non-nestable 1"));
    loop.task_runner()->PostNonNestableTask(FROM_HERE, Bind(record, "non-nestable 2"));
    loop.PostTask(FROM_HERE, Bind([&] {
                    order.push_back("nestable 2");
                    EXPECT_EQ(2, nested.run_depth());
                    nested.Quit();
                  }));
    nested.Run();
    order.push_back("nested run ended");
    loop.PostTask(FROM_HERE, Bind([&] {
                    order.push_back("outer task");
                    loop.QuitWhenIdle();
                  }));
  });
  window.Post(WM_APP);
  loop.Run();
  EXPECT_EQ((std::vector<std::string>{"nestable 1", "nestable 2", "nested run ended", "outer task", "non-nestable 1",
                                      "non-nestable 2"}),
            order);
}

TEST(MessageLoopForUITest, OuterQuitDuringANestedRunTakesEffectWhenTheNestedRunEnds) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  RunLoop outer;
  std::vector<std::string> order;
  window.SetHandler(WM_APP, [&](WPARAM) {
    RunLoop nested;
    loop.PostTask(FROM_HERE, Bind([&] {
                    outer.Quit();
                    order.push_back("outer quit");
                  }));
    loop.PostTask(FROM_HERE, Bind([&] {
                    order.push_back("nested still runs");
                    nested.Quit();
                  }));
    loop.task_runner()->PostNonNestableTask(FROM_HERE, Bind([&] { order.push_back("deferred"); }));
    nested.Run();
    order.push_back("nested ended");
  });
  window.Post(WM_APP);
  outer.Run();
  // The outer run ended at once: the deferred task waits for a later run.
  EXPECT_EQ((std::vector<std::string>{"outer quit", "nested still runs", "nested ended"}), order);
  loop.PostTask(FROM_HERE, Bind([&] { loop.QuitWhenIdle(); }));
  loop.Run();
  EXPECT_EQ("deferred", order.back());
}

TEST(MessageLoopForUITest, RunNestedInsideATaskServesWindowMessagesButNoTasks) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  std::vector<std::string> order;
  loop.PostTask(FROM_HERE, Bind([&] {
                  RunLoop nested;
                  window.SetHandler(WM_APP, [&](WPARAM) {
                    order.push_back("window message");
                    nested.Quit();
                  });
                  loop.PostTask(FROM_HERE, Bind([&] { order.push_back("second task"); }));
                  window.Post(WM_APP);
                  nested.Run();
                  order.push_back("nested ended");
                }));
  loop.PostTask(FROM_HERE, Bind([&] { loop.QuitWhenIdle(); }));
  loop.Run();
  EXPECT_EQ((std::vector<std::string>{"window message", "nested ended", "second task"}), order);
}

TEST(MessageLoopForUITest, DelayedTaskFiresWhileANativeLoopHoldsTheThread) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  bool in_native_loop = false;
  bool fired = false;
  bool fired_in_native_loop = false;
  window.SetHandler(WM_APP, [&](WPARAM) {
    // A modal loop of the system's kind, as a dialog box runs it, started outside any task.
    loop.PostDelayedTask(FROM_HERE, Bind([&] {
                           fired = true;
                           fired_in_native_loop = in_native_loop;
                         }),
                         TimeDelta::FromMilliseconds(20));
    in_native_loop = true;
    MSG msg;
    while (!fired && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    in_native_loop = false;
    loop.QuitWhenIdle();
  });
  window.Post(WM_APP);
  loop.Run();
  EXPECT_TRUE(fired_in_native_loop);
}

class ScriptedDispatcher : public MessagePumpDispatcher {
 public:
  uint32_t Dispatch(const MSG& msg) override {
    if (msg.message == WM_APP + 1)
      return kDispatchQuitLoop | kDispatchPerformDefault;
    seen.push_back(msg.message);
    return msg.message == WM_APP + 2 ? kDispatchNone : kDispatchPerformDefault;
  }
  std::vector<UINT> seen;
};

TEST(MessageLoopForUITest, RunLoopWithADispatcherLetsItFilterAndQuit) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  HandlerWindow window;
  std::vector<UINT> delivered;
  for (UINT message : {WM_APP, WM_APP + 1, WM_APP + 2})
    window.SetHandler(message, [&delivered, message](WPARAM) { delivered.push_back(message); });
  ScriptedDispatcher dispatcher;
  RunLoop run_loop(&dispatcher);
  bool task_ran = false;
  loop.PostTask(FROM_HERE, Bind([&] {
                  task_ran = true;
                  window.Post(WM_APP + 2);
                  window.Post(WM_APP);
                  window.Post(WM_APP + 1);
                }));
  run_loop.Run();
  EXPECT_TRUE(task_ran);
  EXPECT_EQ((std::vector<UINT>{WM_APP + 2, WM_APP}), dispatcher.seen);
  // WM_APP + 2 was withheld; the quitting message was still dispatched.
  EXPECT_EQ((std::vector<UINT>{WM_APP, WM_APP + 1}), delivered);
}

TEST(MessageLoopForUITest, QuitMessageEndsTheRun) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  bool later_task_ran = false;
  loop.PostTask(FROM_HERE, Bind([] { PostQuitMessage(3); }));
  loop.PostDelayedTask(FROM_HERE, Bind([&] { later_task_ran = true; }), TimeDelta::FromSeconds(30));
  loop.Run();
  EXPECT_FALSE(later_task_ran);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(3u, msg.wParam);
}

TEST(MessageLoopForUITest, VisibleWindowIsPaintedThroughTheLoop) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  RunLoop run_loop;
  struct PaintState {
    RunLoop* run_loop;
    int paints = 0;
  } state{&run_loop};
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
    if (message == WM_PAINT) {
      auto* paint_state = reinterpret_cast<PaintState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      if (paint_state && paint_state->paints++ == 0)
        paint_state->run_loop->Quit();
      return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  };
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"MessageLoopForUITest_Visible";
  RegisterClassExW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"message loop", WS_OVERLAPPEDWINDOW, 10, 10, 200,
                                100, nullptr, nullptr, window_class.hInstance, nullptr);
  if (!window)
    GTEST_SKIP() << "no display for a top-level window (CreateWindowExW error " << GetLastError() << ")";
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  loop.PostTask(FROM_HERE, Bind([window] {
                  ShowWindow(window, SW_SHOWNORMAL);
                  InvalidateRect(window, nullptr, TRUE);
                }));
  run_loop.Run();
  EXPECT_GE(state.paints, 1);
  EXPECT_TRUE(IsWindowVisible(window));
  DestroyWindow(window);
}

}  // namespace
}  // namespace base
