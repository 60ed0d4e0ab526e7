#include "base/synchronization/condition_variable.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/synchronization/cancellation_flag.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"

namespace base {
namespace {

TEST(ConditionVariableTest, NegativeAndZeroTimedWaitsReturnWithTheLockHeld) {
  Lock lock;
  ConditionVariable cv(&lock);
  WaitableEvent returned(true, false);
  std::thread waiter([&] {
    AutoLock hold(lock);
    // Passing the low 32 bits of -1 ms would sleep without a limit.
    cv.TimedWait(TimeDelta::FromMilliseconds(-1));
    cv.TimedWait(-TimeDelta::Max());
    cv.TimedWait(TimeDelta());
    returned.Signal();
  });
  const bool in_time = returned.TimedWait(TimeDelta::FromSeconds(20));
  if (!in_time)
    TerminateProcess(GetCurrentProcess(), 3);  // the waiter can never be joined
  waiter.join();
  EXPECT_TRUE(in_time);
  // The waits gave the lock back.
  lock.Acquire();
  lock.Release();
}

TEST(ConditionVariableTest, HugeTimedWaitLastsUntilSignalled) {
  Lock lock;
  ConditionVariable cv(&lock);
  bool ready = false;
  int waits = 0;
  WaitableEvent waiting(true, false);
  std::thread waiter([&] {
    AutoLock hold(lock);
    waiting.Signal();
    while (!ready) {
      ++waits;
      cv.TimedWait(TimeDelta::FromMilliseconds((int64_t{1} << 32) + 5));
    }
  });
  waiting.Wait();
  // Time for a wait cut to its low bits (5 ms) to come back again and again; a correct one sleeps through.
  WaitableEvent never(true, false);
  EXPECT_FALSE(never.TimedWait(TimeDelta::FromMilliseconds(300)));
  {
    AutoLock hold(lock);
    ready = true;
    cv.Signal();
  }
  waiter.join();
  EXPECT_GE(waits, 1);
  EXPECT_LE(waits, 3) << "allowing for rare spurious wake-ups";
}

TEST(ConditionVariableTest, BroadcastWakesEveryWaiter) {
  constexpr int kWaiters = 5;
  Lock lock;
  ConditionVariable cv(&lock);
  ConditionVariable all_waiting_cv(&lock);
  int waiting = 0;
  int generation = 0;
  int woken = 0;
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      AutoLock hold(lock);
      ++waiting;
      all_waiting_cv.Signal();
      while (generation == 0)
        cv.Wait();
      ++woken;
    });
  }
  {
    AutoLock hold(lock);
    while (waiting < kWaiters)
      all_waiting_cv.Wait();
    generation = 1;
    cv.Broadcast();
  }
  for (std::thread& waiter : waiters)
    waiter.join();
  EXPECT_EQ(kWaiters, woken);
}

TEST(ConditionVariableTest, SignalHandsItemsToOneConsumerEach) {
  constexpr int kItems = 2000;
  Lock lock;
  ConditionVariable cv(&lock);
  int available = 0;
  int produced = 0;
  int consumed[2] = {0, 0};
  std::vector<std::thread> consumers;
  for (int c = 0; c < 2; ++c) {
    consumers.emplace_back([&, c] {
      AutoLock hold(lock);
      for (;;) {
        while (available == 0 && produced < kItems)
          cv.Wait();
        if (available == 0)
          return;
        --available;
        ++consumed[c];
      }
    });
  }
  for (int i = 0; i < kItems; ++i) {
    AutoLock hold(lock);
    ++available;
    ++produced;
    cv.Signal();
  }
  {
    AutoLock hold(lock);
    cv.Broadcast();  // wake the consumers to see that production ended
  }
  for (std::thread& consumer : consumers)
    consumer.join();
  EXPECT_EQ(kItems, consumed[0] + consumed[1]);
  EXPECT_EQ(0, available);
}

TEST(CancellationFlagTest, SetIsSeenByAnotherThreadWithWhatWasWrittenBefore) {
  CancellationFlag flag;
  EXPECT_FALSE(flag.IsSet());
  int payload = 0;
  std::thread setter([&] {
    payload = 42;
    flag.Set();
  });
  while (!flag.IsSet()) {
  }
  EXPECT_EQ(42, payload);
  setter.join();
  flag.Set();
  EXPECT_TRUE(flag.IsSet());
}

}  // namespace
}  // namespace base
