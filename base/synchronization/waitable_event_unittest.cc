#include "base/synchronization/waitable_event.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "base/synchronization/wait_duration.h"

namespace base {
namespace {

// Runs `wait` on a helper thread and reports whether it came back within `limit_ms`: a wait that should
// return at once but waits without a limit fails the test instead of hanging it.
bool ReturnsWithin(DWORD limit_ms, std::function<void()> wait) {
  WaitableEvent returned(true, false);
  std::thread waiter([&] {
    wait();
    returned.Signal();
  });
  const bool in_time = WaitForSingleObject(returned.handle(), limit_ms) == WAIT_OBJECT_0;
  if (!in_time)
    TerminateProcess(GetCurrentProcess(), 3);  // the waiter can never be joined
  waiter.join();
  return in_time;
}

TEST(WaitDurationTest, MillisecondsAreTruncatedAndHeldInTheUnsigned32BitRange) {
  EXPECT_EQ(1u, WaitMillisecondsFor(TimeDelta::FromMicroseconds(1900)));
  EXPECT_EQ(0u, WaitMillisecondsFor(TimeDelta::FromMicroseconds(999)));
  EXPECT_EQ(0u, WaitMillisecondsFor(TimeDelta()));
  EXPECT_EQ(0u, WaitMillisecondsFor(TimeDelta::FromMilliseconds(-1)));
  EXPECT_EQ(0u, WaitMillisecondsFor(-TimeDelta::Max()));
  EXPECT_EQ(0xFFFFFFFEu, WaitMillisecondsFor(TimeDelta::FromMilliseconds(0xFFFFFFFE)));
  EXPECT_EQ(INFINITE, WaitMillisecondsFor(TimeDelta::FromMilliseconds(0xFFFFFFFF)));
  // The low 32 bits of this would be a 5 ms wait.
  EXPECT_EQ(INFINITE, WaitMillisecondsFor(TimeDelta::FromMilliseconds((int64_t{1} << 32) + 5)));
  EXPECT_EQ(INFINITE, WaitMillisecondsFor(TimeDelta::Max()));
}

TEST(WaitableEventTest, ManualResetStaysSignalledUntilReset) {
  WaitableEvent event(true, false);
  EXPECT_FALSE(event.TimedWait(TimeDelta()));
  event.Signal();
  EXPECT_TRUE(event.TimedWait(TimeDelta()));
  EXPECT_TRUE(event.TimedWait(TimeDelta()));
  event.Wait();
  event.Reset();
  EXPECT_FALSE(event.TimedWait(TimeDelta()));
  WaitableEvent initially_signalled(true, true);
  EXPECT_TRUE(initially_signalled.TimedWait(TimeDelta()));
  EXPECT_TRUE(initially_signalled.TimedWait(TimeDelta()));
}

TEST(WaitableEventTest, AutomaticResetReleasesOneWaitPerSignal) {
  WaitableEvent event(false, false);
  event.Signal();
  event.Signal();  // signalling twice does not count twice
  EXPECT_TRUE(event.TimedWait(TimeDelta()));
  EXPECT_FALSE(event.TimedWait(TimeDelta()));
  WaitableEvent initially_signalled(false, true);
  EXPECT_TRUE(initially_signalled.TimedWait(TimeDelta()));
  EXPECT_FALSE(initially_signalled.TimedWait(TimeDelta()));
}

TEST(WaitableEventTest, AutomaticResetWakesOneOfTwoWaitersPerSignal) {
  WaitableEvent event(false, false);
  WaitableEvent woke(false, false);
  std::atomic<int> wakes{0};
  auto waiter = [&] {
    event.Wait();
    ++wakes;
    woke.Signal();
  };
  std::thread first(waiter);
  std::thread second(waiter);
  event.Signal();
  woke.Wait();
  EXPECT_EQ(1, wakes.load());
  event.Signal();
  woke.Wait();
  first.join();
  second.join();
  EXPECT_EQ(2, wakes.load());
  EXPECT_FALSE(event.TimedWait(TimeDelta())) << "each signal was taken by one waiter";
}

TEST(WaitableEventTest, NegativeAndZeroWaitsOnlyPoll) {
  WaitableEvent event(true, false);
  bool results[3] = {true, true, true};
  EXPECT_TRUE(ReturnsWithin(20000, [&] {
    results[0] = event.TimedWait(TimeDelta::FromMilliseconds(-1));
    results[1] = event.TimedWait(-TimeDelta::Max());
    results[2] = event.TimedWait(TimeDelta());
  }));
  EXPECT_FALSE(results[0]);
  EXPECT_FALSE(results[1]);
  EXPECT_FALSE(results[2]);
}

TEST(WaitableEventTest, ShortWaitTimesOut) {
  WaitableEvent event(true, false);
  const TimeTicks start = TimeTicks::Now();
  EXPECT_FALSE(event.TimedWait(TimeDelta::FromMilliseconds(20)));
  EXPECT_GE(TimeTicks::Now() - start, TimeDelta::FromMilliseconds(15));
}

// Waits longer than the 32-bit millisecond range wait for the signal rather than for their low bits.
TEST(WaitableEventTest, HugeWaitsLastUntilSignalled) {
  for (TimeDelta huge : {TimeDelta::Max(), TimeDelta::FromMilliseconds((int64_t{1} << 32) + 5),
                         TimeDelta::FromMilliseconds(0xFFFFFFFF)}) {
    WaitableEvent event(true, false);
    WaitableEvent finished(true, false);
    bool result = false;
    std::thread waiter([&] {
      result = event.TimedWait(huge);
      finished.Signal();
    });
    // A wait cut to its low bits (5 ms) would have finished, unsignalled, well within this.
    EXPECT_FALSE(finished.TimedWait(TimeDelta::FromMilliseconds(300))) << huge.InMilliseconds() << " ms";
    event.Signal();
    waiter.join();
    EXPECT_TRUE(result) << huge.InMilliseconds() << " ms";
  }
}

TEST(WaitableEventTest, WaitManyReturnsTheLowestSignalledIndex) {
  WaitableEvent a(true, false), b(false, false), c(true, false);
  WaitableEvent* events[] = {&a, &b, &c};
  c.Signal();
  EXPECT_EQ(2u, WaitableEvent::WaitMany(events, 3));
  b.Signal();
  EXPECT_EQ(1u, WaitableEvent::WaitMany(events, 3));
  EXPECT_FALSE(b.TimedWait(TimeDelta())) << "the wait took the automatic-reset event's signal";
  EXPECT_EQ(2u, WaitableEvent::WaitMany(events, 3)) << "the manual-reset event is still signalled";
  a.Signal();
  EXPECT_EQ(0u, WaitableEvent::WaitMany(events, 3));
}

TEST(WaitableEventTest, WaitManyWakesOnASignalFromAnotherThread) {
  WaitableEvent events_storage[4] = {{false, false}, {false, false}, {false, false}, {false, false}};
  WaitableEvent* events[4];
  for (int i = 0; i < 4; ++i)
    events[i] = &events_storage[i];
  std::thread signaller([&] { events[3]->Signal(); });
  EXPECT_EQ(3u, WaitableEvent::WaitMany(events, 4));
  signaller.join();
}

TEST(WaitableEventDeathTest, WaitManyOfNoEventsIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(WaitableEvent::WaitMany(nullptr, 0), "");
}

}  // namespace
}  // namespace base
