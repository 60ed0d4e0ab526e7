#include "base/message_loop/message_pump_for_ui.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/message_loop/message_loop_test_util.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/message_loop/message_pump_test_util.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/sample_set.h"
#include "base/metrics/statistics_recorder.h"
#include "base/win/window_proc_exception_filter.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr UINT kMsgHaveWork = WM_USER + 1;

int CountQueuedWakeUps(HWND window, const MessagePumpForUI* pump) {
  int count = 0;
  MSG msg;
  while (PeekMessageW(&msg, window, kMsgHaveWork, kMsgHaveWork, PM_REMOVE)) {
    EXPECT_EQ(reinterpret_cast<WPARAM>(pump), msg.wParam);
    ++count;
  }
  return count;
}

HistogramBase::Count ProblemCount(HistogramBase::Sample problem) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram("Brumel.MessageLoopProblem");
  return histogram ? histogram->SnapshotSamples()->GetCount(problem) : 0;
}

TEST(MessagePumpForUITest, OwnsAMessageOnlyWindowNamedAfterThePump) {
  auto pump = std::make_unique<MessagePumpForUI>();
  HWND window = FindPumpWindow(pump.get());
  ASSERT_NE(nullptr, window);
  EXPECT_EQ(0, GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE);
  wchar_t title[8] = {L'x'};
  EXPECT_EQ(0, GetWindowTextW(window, title, 8));
  pump.reset();
  EXPECT_FALSE(IsWindow(window));
}

TEST(MessagePumpForUITest, ManyPostsFromOtherThreadsLeaveASingleWakeUpMessage) {
  MessagePumpForUI pump;
  HWND window = FindPumpWindow(&pump);
  ASSERT_NE(nullptr, window);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&pump] {
      for (int i = 0; i < 1000; ++i)
        pump.ScheduleWork();
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(1, CountQueuedWakeUps(window, &pump));
}

TEST(MessagePumpForUITest, WakeUpDispatchedOutsideARunOnlyLetsTheNextOneThrough) {
  MessagePumpForUI pump;
  HWND window = FindPumpWindow(&pump);
  ASSERT_NE(nullptr, window);
  pump.ScheduleWork();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, window, kMsgHaveWork, kMsgHaveWork, PM_REMOVE));
  // Still in flight as far as the pump knows: no second message.
  pump.ScheduleWork();
  EXPECT_EQ(0, CountQueuedWakeUps(window, &pump));
  // Another loop dispatches it while no run of the pump is active.
  DispatchMessageW(&msg);
  pump.ScheduleWork();
  EXPECT_EQ(1, CountQueuedWakeUps(window, &pump));
}

TEST(MessagePumpForUITest, TimerMessageOutsideARunOnlyKillsTheTimer) {
  MessagePumpForUI pump;
  HWND window = FindPumpWindow(&pump);
  ASSERT_NE(nullptr, window);
  pump.ScheduleDelayedWork(TimeTicks::Now() + TimeDelta::FromMilliseconds(3));
  MSG msg;
  ASSERT_GT(GetMessageW(&msg, window, WM_TIMER, WM_TIMER), 0);
  EXPECT_EQ(reinterpret_cast<WPARAM>(&pump), msg.wParam);
  DispatchMessageW(&msg);
  // The timer is gone: killing it again fails.
  EXPECT_FALSE(KillTimer(window, reinterpret_cast<UINT_PTR>(&pump)));
}

TEST(MessagePumpForUITest, DueDelayedWorkSchedulesWorkInsteadOfATimer) {
  MessagePumpForUI pump;
  HWND window = FindPumpWindow(&pump);
  ASSERT_NE(nullptr, window);
  pump.ScheduleDelayedWork(TimeTicks::Now() - TimeDelta::FromMilliseconds(1));
  EXPECT_FALSE(KillTimer(window, reinterpret_cast<UINT_PTR>(&pump)));
  EXPECT_EQ(1, CountQueuedWakeUps(window, &pump));

  pump.ScheduleDelayedWork(TimeTicks::Now() + TimeDelta::FromSeconds(3600));
  EXPECT_TRUE(KillTimer(window, reinterpret_cast<UINT_PTR>(&pump)));
  EXPECT_EQ(0, CountQueuedWakeUps(window, &pump));
}

TEST(MessagePumpForUITest, GetCurrentDelayRoundsUpAndSaturates) {
  EXPECT_EQ(-1, MessagePumpWin::GetCurrentDelay(TimeTicks()));
  EXPECT_EQ(0, MessagePumpWin::GetCurrentDelay(TimeTicks::Now() - TimeDelta::FromMilliseconds(5)));

  const TimeTicks due = TimeTicks::Now() + TimeDelta::FromMicroseconds(10500);
  const TimeTicks before = TimeTicks::Now();
  const int32_t delay = MessagePumpWin::GetCurrentDelay(due);
  const TimeTicks after = TimeTicks::Now();
  // Never short of the time that was left, never a whole millisecond beyond it.
  EXPECT_GE(static_cast<int64_t>(delay) * 1000, (due - after).InMicroseconds());
  EXPECT_LT(static_cast<int64_t>(delay - 1) * 1000, (due - before).InMicroseconds());

  EXPECT_EQ(0x7FFFFFFF, MessagePumpWin::GetCurrentDelay(TimeTicks::Now() + TimeDelta::FromSeconds(30 * 86400)));
}

TEST(MessagePumpForUITest, QuitEndsTheRunAndTheDelegateSeesWorkAndIdlePhases) {
  MessagePumpForUI pump;
  FakePumpDelegate delegate;
  delegate.do_idle_work = [&] {
    pump.Quit();
    return false;
  };
  pump.Run(&delegate);
  EXPECT_EQ(1, delegate.work_calls);
  EXPECT_EQ(1, delegate.delayed_work_calls);
  EXPECT_EQ(1, delegate.idle_work_calls);
}

TEST(MessagePumpForUITest, WakeUpFromAnotherThreadEndsTheWait) {
  MessagePumpForUI pump;
  EXPECT_TRUE(RunUntilWokenFromAnotherThread(&pump));
}

// A pump whose window could not be made: a wake-up from another thread still ends its wait (a wake-up posted to
// no window went to the waker's own queue, and every later one was taken as still in flight), and delayed work
// runs from its own wait without a timer, which without a window would be a thread timer nobody kills, waking
// the thread again and again.
TEST(MessagePumpForUITest, WithoutItsWindowThePumpWakesThroughAnEventAndSetsNoTimer) {
  std::unique_ptr<MessagePumpForUI> pump;
  {
    ScopedWindowCreationRefusal refusal;
    ASSERT_TRUE(refusal.installed());
    pump = std::make_unique<MessagePumpForUI>();
  }
  ASSERT_EQ(nullptr, FindPumpWindow(pump.get()));
  EXPECT_TRUE(RunUntilWokenFromAnotherThread(pump.get()));
  EXPECT_TRUE(RunUntilWokenFromAnotherThread(pump.get())) << "a second wake-up";

  FakePumpDelegate delegate;
  const TimeTicks due = TimeTicks::Now() + TimeDelta::FromMilliseconds(15);
  bool ran_when_due = false;
  delegate.do_work = [&] {
    if (delegate.work_calls == 1)
      pump->ScheduleDelayedWork(due);
    return false;
  };
  delegate.do_delayed_work = [&](TimeTicks* next_delayed_work_time) {
    if (TimeTicks::Now() < due) {
      *next_delayed_work_time = due;
      return false;
    }
    ran_when_due = true;
    *next_delayed_work_time = TimeTicks();
    pump->Quit();
    return true;
  };
  pump->Run(&delegate);
  EXPECT_TRUE(ran_when_due);
  // A timer left behind fires within a few of its periods.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_TIMER, 0));
}

TEST(MessagePumpForUITest, QuitMessageEndsEveryRunAndStaysQueuedForTheThread) {
  MessagePumpForUI pump;
  FakePumpDelegate inner;
  FakePumpDelegate outer;
  int nested_runs = 0;
  outer.do_work = [&] {
    if (nested_runs++ == 0) {
      inner.do_work = [&] {
        if (inner.work_calls == 1)
          PostQuitMessage(7);
        return false;
      };
      pump.Run(&inner);
    }
    return false;
  };
  pump.Run(&outer);
  EXPECT_EQ(1, nested_runs);
  // Re-posted by each run that took it; the thread's own loop would still see it.
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(7u, msg.wParam);
}

class RecordingDispatcher : public MessagePumpDispatcher {
 public:
  uint32_t Dispatch(const MSG& msg) override {
    messages.push_back(msg.message);
    return msg.message == WM_APP + 2 ? kDispatchQuitLoop : action;
  }
  uint32_t action = kDispatchNone;
  std::vector<UINT> messages;
};

TEST(MessagePumpForUITest, DispatcherDecidesOverEachMessage) {
  HandlerWindow window;
  ASSERT_NE(nullptr, window.get());
  std::vector<UINT> received;
  for (UINT message : {WM_APP, WM_APP + 1, WM_APP + 2})
    window.SetHandler(message, [&received, message](WPARAM) { received.push_back(message); });
  MessagePumpForUI pump;
  FakePumpDelegate delegate;
  RecordingDispatcher dispatcher;
  window.Post(WM_APP);  // withheld: the dispatcher answers "none"
  delegate.do_idle_work = [&] {
    if (dispatcher.messages.size() == 1) {
      dispatcher.action = MessagePumpDispatcher::kDispatchPerformDefault;
      window.Post(WM_APP + 1);  // reaches the window
      window.Post(WM_APP + 2);  // ends the run, not dispatched
    }
    return false;
  };
  pump.RunWithDispatcher(&delegate, &dispatcher);
  EXPECT_EQ((std::vector<UINT>{WM_APP, WM_APP + 1, WM_APP + 2}), dispatcher.messages);
  EXPECT_EQ((std::vector<UINT>{WM_APP + 1}), received);
}

TEST(MessagePumpForUITest, ANativeLoopInsideTheRunStillDoesTheWork) {
  MessagePumpForUI pump;
  FakePumpDelegate delegate;
  bool in_native_loop = false;
  bool native_loop_done = false;
  int work_in_native_loop = 0;
  int delayed_work_in_native_loop = 0;
  delegate.do_work = [&] {
    if (in_native_loop) {
      ++work_in_native_loop;
      native_loop_done = true;
      PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
      return false;
    }
    if (delegate.work_calls == 1) {
      // A modal loop of the system's kind, started while the pump's run is active.
      in_native_loop = true;
      pump.ScheduleWork();
      MSG msg;
      while (!native_loop_done && GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
      in_native_loop = false;
      pump.Quit();
    }
    return false;
  };
  delegate.do_delayed_work = [&](TimeTicks*) {
    if (in_native_loop)
      ++delayed_work_in_native_loop;
    return false;
  };
  pump.Run(&delegate);
  EXPECT_EQ(1, work_in_native_loop);
  EXPECT_EQ(1, delayed_work_in_native_loop);
}

TEST(MessagePumpForUITest, FailedWakeUpIsRecordedAndCountedOnlyForAnActiveRun) {
  StatisticsRecorder::InitializeForTesting();
  const HistogramBase::Count failures_before = ProblemCount(MessagePumpWin::MESSAGE_POST_ERROR);

  MessagePumpForUI pump;
  HWND window = FindPumpWindow(&pump);
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(DestroyWindow(window));

  // No run is active: the failure is recorded, and nothing of a run is touched.
  std::thread([&pump] { pump.ScheduleWork(); }).join();
  EXPECT_EQ(failures_before + 1, ProblemCount(MessagePumpWin::MESSAGE_POST_ERROR));
  EXPECT_EQ(0, pump.schedule_work_error_count());
  EXPECT_TRUE(pump.last_schedule_work_error_time().is_null());

  FakePumpDelegate delegate;
  int32_t count_in_run = -1;
  Time time_in_run;
  const Time before = Time::Now();
  delegate.do_work = [&] {
    std::thread([&pump] { pump.ScheduleWork(); }).join();
    count_in_run = pump.schedule_work_error_count();
    time_in_run = pump.last_schedule_work_error_time();
    pump.Quit();
    return false;
  };
  pump.Run(&delegate);
  EXPECT_EQ(1, count_in_run);
  EXPECT_GE(time_in_run, before);
  EXPECT_LE(time_in_run, Time::Now());
  EXPECT_EQ(failures_before + 2, ProblemCount(MessagePumpWin::MESSAGE_POST_ERROR));
  // The run is over; its count went with it.
  EXPECT_EQ(0, pump.schedule_work_error_count());
}

constexpr DWORD kTestExceptionCode = 0xE0000042;

std::atomic<DWORD> g_filtered_code{0};
std::atomic<int> g_filter_verdict{EXCEPTION_CONTINUE_SEARCH};

int RecordingFilter(EXCEPTION_POINTERS* info, void* value) {
  EXPECT_EQ(nullptr, value);
  g_filtered_code = info->ExceptionRecord->ExceptionCode;
  fprintf(stderr, "window procedure filter saw %08lX\n", info->ExceptionRecord->ExceptionCode);
  fflush(stderr);
  return g_filter_verdict;
}

// In a run, dispatches a timer message to the pump's window whose delayed work raises an exception.
void DispatchRaisingTimerMessage(MessagePumpForUI* pump, bool* returned_after_dispatch) {
  FakePumpDelegate delegate;
  delegate.do_delayed_work = [](TimeTicks*) -> bool {
    RaiseException(kTestExceptionCode, 0, 0, nullptr);
    return false;
  };
  delegate.do_work = [&]() -> bool {
    if (delegate.work_calls == 1) {
      MSG msg = {};
      msg.hwnd = FindPumpWindow(pump);
      msg.message = WM_TIMER;
      msg.wParam = reinterpret_cast<WPARAM>(pump);
      EXPECT_EQ(0, DispatchMessageW(&msg));
      *returned_after_dispatch = true;
      pump->Quit();
    }
    return false;
  };
  pump->Run(&delegate);
}

TEST(MessagePumpForUITest, ExceptionInTheWindowProcedureGoesToTheInstalledFilterWhichMayHandleIt) {
  MessagePumpForUI pump;
  g_filtered_code = 0;
  g_filter_verdict = EXCEPTION_EXECUTE_HANDLER;
  win::SetWindowProcExceptionFilter(&RecordingFilter);
  bool returned = false;
  DispatchRaisingTimerMessage(&pump, &returned);
  win::SetWindowProcExceptionFilter(nullptr);
  EXPECT_EQ(kTestExceptionCode, g_filtered_code.load());
  EXPECT_TRUE(returned);
}

TEST(MessagePumpForUIDeathTest, ExceptionTheFilterDoesNotHandleEndsTheProcessWithItsCode) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        MessagePumpForUI pump;
        g_filter_verdict = EXCEPTION_CONTINUE_SEARCH;
        win::SetWindowProcExceptionFilter(&RecordingFilter);
        bool returned = false;
        DispatchRaisingTimerMessage(&pump, &returned);
        fprintf(stderr, "the exception was swallowed\n");
        exit(0);
      },
      testing::ExitedWithCode(static_cast<int>(kTestExceptionCode)), "window procedure filter saw E0000042");
}

}  // namespace
}  // namespace base
