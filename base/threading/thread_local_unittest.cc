#include "base/threading/thread_local.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

namespace base {
namespace {

TEST(ThreadLocalTest, PointerIsPerThreadAndStartsNull) {
  ThreadLocalPointer<int> pointer;
  int main_value = 1, other_value = 2;
  EXPECT_EQ(nullptr, pointer.Get());
  pointer.Set(&main_value);
  int* seen = &main_value;
  int* seen_after_set = nullptr;
  std::thread other([&] {
    seen = pointer.Get();
    pointer.Set(&other_value);
    seen_after_set = pointer.Get();
  });
  other.join();
  EXPECT_EQ(nullptr, seen);
  EXPECT_EQ(&other_value, seen_after_set);
  EXPECT_EQ(&main_value, pointer.Get());
}

TEST(ThreadLocalTest, EachPointerHasItsOwnIndexGivenBackAtDestruction) {
  DWORD first_free = TlsAlloc();
  ASSERT_NE(TLS_OUT_OF_INDEXES, first_free);
  TlsFree(first_free);
  {
    ThreadLocalPointer<int> a, b;
    int value = 0;
    a.Set(&value);
    EXPECT_EQ(nullptr, b.Get());
    // Both indexes are taken now: the lowest free one lies elsewhere.
    DWORD probe = TlsAlloc();
    EXPECT_NE(first_free, probe);
    TlsFree(probe);
  }
  DWORD probe = TlsAlloc();
  EXPECT_EQ(first_free, probe);
  TlsFree(probe);
}

TEST(ThreadLocalTest, BooleanIsPerThread) {
  ThreadLocalBoolean flag;
  EXPECT_FALSE(flag.Get());
  flag.Set(true);
  bool seen = true;
  std::thread other([&] {
    seen = flag.Get();
    flag.Set(true);
    flag.Set(false);
  });
  other.join();
  EXPECT_FALSE(seen);
  EXPECT_TRUE(flag.Get());
  flag.Set(false);
  EXPECT_FALSE(flag.Get());
}

TEST(ThreadLocalDeathTest, FailuresOfThePlatformAreFatal) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  int value = 0;
  // An index beyond any the system hands out.
  EXPECT_EXIT(ThreadLocalPlatform::SetValueInSlot(100000, &value),
              ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "Failed to TlsSetValue\\(\\)\\.");
  EXPECT_EXIT(
      {
        for (;;) {
          ThreadLocalPlatform::SlotType slot;
          ThreadLocalPlatform::AllocateSlot(&slot);
        }
      },
      ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "Check failed");
}

}  // namespace
}  // namespace base
