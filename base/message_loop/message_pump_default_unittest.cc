#include "base/message_loop/message_pump_default.h"

#include "base/message_loop/message_pump_test_util.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(MessagePumpDefaultTest, RunsAgainAfterAQuit) {
  MessagePumpDefault pump;
  FakePumpDelegate delegate;
  delegate.do_idle_work = [&] {
    pump.Quit();
    return false;
  };
  pump.Run(&delegate);
  EXPECT_EQ(1, delegate.idle_work_calls);
  pump.Run(&delegate);
  EXPECT_EQ(2, delegate.idle_work_calls);
  EXPECT_EQ(2, delegate.work_calls);
  EXPECT_EQ(2, delegate.delayed_work_calls);
}

TEST(MessagePumpDefaultTest, QuitStopsBeforeTheNextPhase) {
  MessagePumpDefault pump;
  FakePumpDelegate delegate;
  delegate.do_work = [&] {
    pump.Quit();
    return true;
  };
  pump.Run(&delegate);
  EXPECT_EQ(1, delegate.work_calls);
  EXPECT_EQ(0, delegate.delayed_work_calls);
  EXPECT_EQ(0, delegate.idle_work_calls);
}

TEST(MessagePumpDefaultTest, WorkDoneMeansLookingAgainBeforeIdling) {
  MessagePumpDefault pump;
  FakePumpDelegate delegate;
  delegate.do_work = [&] { return delegate.work_calls <= 3; };
  delegate.do_idle_work = [&] {
    pump.Quit();
    return false;
  };
  pump.Run(&delegate);
  EXPECT_EQ(4, delegate.work_calls);
  EXPECT_EQ(1, delegate.idle_work_calls);
}

TEST(MessagePumpDefaultTest, WakeUpFromAnotherThreadEndsTheWait) {
  MessagePumpDefault pump;
  EXPECT_TRUE(RunUntilWokenFromAnotherThread(&pump));
}

TEST(MessagePumpDefaultTest, SleepsUntilDelayedWorkIsDue) {
  MessagePumpDefault pump;
  FakePumpDelegate delegate;
  const TimeTicks due = TimeTicks::Now() + TimeDelta::FromMilliseconds(30);
  TimeTicks ran_at;
  delegate.do_delayed_work = [&](TimeTicks* next) {
    if (TimeTicks::Now() < due) {
      *next = due;
      return false;
    }
    ran_at = TimeTicks::Now();
    *next = TimeTicks();
    pump.Quit();
    return true;
  };
  pump.Run(&delegate);
  EXPECT_GE(ran_at, due);
  EXPECT_GE(delegate.idle_work_calls, 1);
}

TEST(MessagePumpDefaultTest, NestedRunQuitLeavesTheOuterRunRunning) {
  MessagePumpDefault pump;
  FakePumpDelegate outer;
  FakePumpDelegate inner;
  inner.do_idle_work = [&] {
    pump.Quit();
    return false;
  };
  outer.do_work = [&] {
    if (outer.work_calls == 1) {
      pump.Run(&inner);
      return true;
    }
    return false;
  };
  outer.do_idle_work = [&] {
    pump.Quit();
    return false;
  };
  pump.Run(&outer);
  EXPECT_EQ(1, inner.idle_work_calls);
  // The outer run went on after the nested one ended: it asked for work again and idled itself.
  EXPECT_EQ(2, outer.work_calls);
  EXPECT_EQ(1, outer.idle_work_calls);
}

}  // namespace
}  // namespace base
