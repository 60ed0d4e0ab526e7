#include "base/synchronization/lock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace base {
namespace {

// A lock with static storage works before any constructor code runs.
constinit Lock g_static_lock;

TEST(LockTest, GuardsAPlainCounterAcrossThreads) {
  Lock lock;
  // Not atomic on purpose: only the lock keeps the read-modify-write sequences apart.
  volatile long long counter = 0;
  constexpr int kThreads = 8;
  constexpr int kPerThread = 200000;
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      WaitForSingleObject(start, INFINITE);
      for (int i = 0; i < kPerThread; ++i) {
        AutoLock hold(lock);
        counter = counter + 1;
      }
    });
  }
  SetEvent(start);
  for (std::thread& thread : threads)
    thread.join();
  CloseHandle(start);
  EXPECT_EQ(static_cast<long long>(kThreads) * kPerThread, counter);
}

TEST(LockTest, AutoLockReleasesOnScopeExit) {
  {
    AutoLock hold(g_static_lock);
    // Held: another thread cannot take it.
    bool taken = true;
    std::thread other([&] {
      SRWLOCK* raw = reinterpret_cast<SRWLOCK*>(&g_static_lock);
      taken = TryAcquireSRWLockExclusive(raw) != FALSE;
      if (taken)
        ReleaseSRWLockExclusive(raw);
    });
    other.join();
    EXPECT_FALSE(taken);
  }
  SRWLOCK* raw = reinterpret_cast<SRWLOCK*>(&g_static_lock);
  ASSERT_TRUE(TryAcquireSRWLockExclusive(raw));
  ReleaseSRWLockExclusive(raw);
}

}  // namespace
}  // namespace base
