#include "base/win/scoped_registered_wait.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "base/win/scoped_handle.h"

namespace base {
namespace win {
namespace {

// A wait on an event that stays set runs its callback again and again, one run at a time in the wait thread.
struct Watch {
  Watch(int stop_after, bool close_from_callback) : stop_after(stop_after), close_from_callback(close_from_callback) {}
  const int stop_after;  // runs after which `done` is set
  const bool close_from_callback;
  ScopedRegisteredWait wait;
  std::atomic<int> runs{0};
  std::atomic<bool> in_callback{false};
  ScopedHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

void CALLBACK OnSignal(void* context, BOOLEAN) {
  auto* watch = static_cast<Watch*>(context);
  watch->in_callback = true;
  const int run = ++watch->runs;
  if (run == 1 && watch->close_from_callback)
    watch->wait.CloseFromCallback();
  watch->in_callback = false;
  if (run == watch->stop_after)
    SetEvent(watch->done.Get());
}

// Once let go, from outside (after the running callback has returned) or from within its callback, the wait runs
// its callback no more: a second wait on the same event, counted up to many more runs, gives it every chance.
TEST(ScopedRegisteredWaitTest, LettingGoEndsTheRunsFromOutsideOrFromWithin) {
  for (const bool from_callback : {false, true}) {
    SCOPED_TRACE(from_callback ? "from within" : "from outside");
    const ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Watch watch(1, from_callback);
    // Set after the registration, so that the first run finds the wait in its holder.
    ASSERT_TRUE(watch.wait.Register(event.Get(), &OnSignal, &watch, INFINITE, WT_EXECUTEINWAITTHREAD));
    ASSERT_TRUE(SetEvent(event.Get()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch.done.Get(), 30000));
    if (!from_callback) {
      watch.wait.Close();
      EXPECT_FALSE(watch.in_callback);
    }
    EXPECT_FALSE(watch.wait.IsValid());
    const int runs = watch.runs;

    Watch counter(100, false);
    ASSERT_TRUE(counter.wait.Register(event.Get(), &OnSignal, &counter, INFINITE, WT_EXECUTEINWAITTHREAD));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(counter.done.Get(), 30000));
    counter.wait.Close();
    EXPECT_EQ(runs, watch.runs);
    if (from_callback) {
      EXPECT_EQ(1, runs);
    }
  }
}

}  // namespace
}  // namespace win
}  // namespace base
