#include "base/callback.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/bind.h"

namespace base {
namespace {

int g_runs = 0;
void CountRun() {
  ++g_runs;
}
void CountRunTwice() {
  g_runs += 2;
}

class Payload {
 public:
  explicit Payload(int* destroyed) : destroyed_(destroyed) {}
  Payload(const Payload& other) = default;
  ~Payload() { ++*destroyed_; }

 private:
  int* destroyed_;
};
void Consume(const Payload&) {}

TEST(CallbackTest, DefaultIsNull) {
  Closure callback;
  EXPECT_TRUE(callback.is_null());
  EXPECT_FALSE(callback);
  Closure other;
  EXPECT_TRUE(callback.Equals(other));
}

TEST(CallbackTest, CopiesShareTheBoundCall) {
  g_runs = 0;
  Closure callback = Bind(&CountRun);
  Closure copy = callback;
  EXPECT_TRUE(callback.Equals(copy));
  copy.Run();
  callback.Run();
  EXPECT_EQ(2, g_runs);
  // Two bindings of the same function are different bound calls.
  EXPECT_FALSE(callback.Equals(Bind(&CountRun)));
  EXPECT_FALSE(callback.Equals(Bind(&CountRunTwice)));
}

TEST(CallbackTest, SelfAssignmentKeepsItIntact) {
  int destroyed = 0;
  Closure callback;
  {
    Payload payload(&destroyed);
    callback = Bind(&Consume, payload);
  }
  int destroyed_after_bind = destroyed;
  Closure& alias = callback;
  callback = alias;
  EXPECT_FALSE(callback.is_null());
  EXPECT_EQ(destroyed_after_bind, destroyed);  // the bound payload is still alive
  callback.Run();
  callback = std::move(alias);
  EXPECT_FALSE(callback.is_null());
  EXPECT_EQ(destroyed_after_bind, destroyed);
  callback.Run();
}

TEST(CallbackTest, MoveLeavesTheSourceNull) {
  g_runs = 0;
  Closure source = Bind(&CountRun);
  Closure target = std::move(source);
  EXPECT_TRUE(source.is_null());
  target.Run();
  EXPECT_EQ(1, g_runs);
  Closure assigned = Bind(&CountRunTwice);
  assigned = std::move(target);
  EXPECT_TRUE(target.is_null());
  assigned.Run();
  EXPECT_EQ(2, g_runs);
}

TEST(CallbackTest, ResettingTheLastCopyDestroysTheBoundValuesThen) {
  int destroyed = 0;
  Closure callback;
  {
    Payload payload(&destroyed);
    callback = Bind(&Consume, payload);
  }
  int destroyed_after_bind = destroyed;
  Closure copy = callback;
  callback.Reset();
  EXPECT_TRUE(callback.is_null());
  EXPECT_EQ(destroyed_after_bind, destroyed);
  copy.Reset();
  EXPECT_EQ(destroyed_after_bind + 1, destroyed);
}

TEST(CallbackTest, AssigningOverTheLastCopyDestroysTheOldValues) {
  int destroyed = 0;
  Closure callback;
  {
    Payload payload(&destroyed);
    callback = Bind(&Consume, payload);
  }
  int destroyed_after_bind = destroyed;
  callback = Bind(&CountRun);
  EXPECT_EQ(destroyed_after_bind + 1, destroyed);
}

TEST(CallbackDeathTest, RunningANullCallbackFailsACheck) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  Closure callback;
  EXPECT_EXIT(callback.Run(), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "");
}

}  // namespace
}  // namespace base
