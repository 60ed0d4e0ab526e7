#include "base/lazy_instance.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/at_exit.h"
#include "base/memory/singleton.h"

namespace base {
namespace {

constexpr int kRacers = 16;

// Construction waits until every racer has arrived at the gate, so the other fifteen are inside the
// creation protocol (or just about to enter it) while this one builds.
std::atomic<int> g_constructions{0};
std::atomic<int> g_destructions{0};
std::atomic<int> g_arrived{0};
HANDLE g_all_arrived = nullptr;

struct SlowObject {
  SlowObject() {
    ++g_constructions;
    WaitForSingleObject(g_all_arrived, INFINITE);
    ready = 12345;
  }
  ~SlowObject() { ++g_destructions; }
  int ready = 0;
};

void ResetCounters() {
  g_constructions = 0;
  g_destructions = 0;
  g_arrived = 0;
  if (!g_all_arrived)
    g_all_arrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(g_all_arrived);
}

// Starts the racers together (spinning at the start line until all of them run, so that they really
// overlap); each calls get() and reports the address and what it saw in the object.
template <typename GetFunction>
void Race(GetFunction get, std::vector<void*>* addresses, std::vector<int>* values) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  addresses->assign(kRacers, nullptr);
  values->assign(kRacers, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRacers; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (!go.load(std::memory_order_acquire))
        YieldProcessor();
      if (g_arrived.fetch_add(1) + 1 == kRacers)
        SetEvent(g_all_arrived);
      SlowObject* object = get();
      (*addresses)[i] = object;
      (*values)[i] = object->ready;
    });
  }
  while (ready.load() < kRacers)
    YieldProcessor();
  go.store(true, std::memory_order_release);
  for (std::thread& thread : threads)
    thread.join();
}

constinit LazyInstance<SlowObject> g_lazy;
constinit LazyInstance<SlowObject>::Leaky g_leaky;

TEST(LazyInstanceTest, SixteenRacersGetOneInstance) {
  ResetCounters();
  AtExitManager manager;
  EXPECT_FALSE(g_lazy.IsCreated());
  std::vector<void*> addresses;
  std::vector<int> values;
  Race([] { return g_lazy.Pointer(); }, &addresses, &values);
  EXPECT_EQ(1, g_constructions.load());
  for (int i = 0; i < kRacers; ++i) {
    EXPECT_EQ(addresses[0], addresses[i]);
    EXPECT_EQ(12345, values[i]) << "a racer saw the object before its construction finished";
  }
  EXPECT_EQ(addresses[0], &g_lazy.Get());
  EXPECT_EQ(1, g_constructions.load());
}

TEST(LazyInstanceTest, DestroyedAtExitAndMadeAgainAfterwards) {
  ResetCounters();
  SetEvent(g_all_arrived);
  {
    AtExitManager manager;
    g_lazy.Get();
    g_leaky.Get();
    EXPECT_EQ(2, g_constructions.load());
  }
  EXPECT_EQ(1, g_destructions.load());  // the leaky one stays
  EXPECT_FALSE(g_lazy.IsCreated());
  EXPECT_TRUE(g_leaky.IsCreated());
  AtExitManager manager;
  EXPECT_EQ(12345, g_lazy->ready);
  EXPECT_EQ(3, g_constructions.load());
}

TEST(LazyInstanceTest, ProtocolWinnerAndWaiter) {
  internal::LazyInstanceState state{0};
  ASSERT_TRUE(internal::NeedsLazyInstance(&state));
  EXPECT_EQ(internal::kLazyInstanceStateCreating, state.load());
  int object = 0;
  std::atomic<uintptr_t> seen{0};
  std::atomic<bool> waiter_needed{true};
  std::thread waiter([&] {
    waiter_needed = internal::NeedsLazyInstance(&state);
    seen = state.load();
  });
  internal::CompleteLazyInstance(&state, reinterpret_cast<uintptr_t>(&object), nullptr, nullptr);
  waiter.join();
  EXPECT_FALSE(waiter_needed.load());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&object), seen.load());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&object), internal::WaitForInstance(&state));
}

// Many rounds of sixteen threads on a fresh state word: each round has exactly one winner, and every loser
// returns only after the winner published its address.
TEST(LazyInstanceTest, ExactlyOneWinnerInEveryRound) {
  constexpr int kRounds = 200;
  std::vector<internal::LazyInstanceState> states(kRounds);
  std::vector<std::atomic<int>> winners(kRounds);
  std::vector<std::atomic<int>> early(kRounds);
  std::atomic<int> round_ready{0};
  std::atomic<int> round{-1};
  std::vector<std::thread> threads;
  for (int t = 0; t < kRacers; ++t) {
    threads.emplace_back([&] {
      for (int r = 0; r < kRounds; ++r) {
        round_ready.fetch_add(1);
        while (round.load(std::memory_order_acquire) < r)
          SwitchToThread();
        if (internal::NeedsLazyInstance(&states[r])) {
          winners[r].fetch_add(1);
          internal::CompleteLazyInstance(&states[r], reinterpret_cast<uintptr_t>(&winners[r]), nullptr, nullptr);
        } else if (states[r].load() != reinterpret_cast<uintptr_t>(&winners[r])) {
          early[r].fetch_add(1);
        }
      }
    });
  }
  for (int r = 0; r < kRounds; ++r) {
    while (round_ready.load() < kRacers * (r + 1))
      SwitchToThread();
    round.store(r, std::memory_order_release);
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int r = 0; r < kRounds; ++r) {
    EXPECT_EQ(1, winners[r].load()) << "round " << r;
    EXPECT_EQ(0, early[r].load()) << "round " << r;
  }
}

TEST(SingletonTest, SixteenRacersGetOneInstance) {
  ResetCounters();
  AtExitManager manager;
  std::vector<void*> addresses;
  std::vector<int> values;
  Race([] { return Singleton<SlowObject>::get(); }, &addresses, &values);
  EXPECT_EQ(1, g_constructions.load());
  for (int i = 0; i < kRacers; ++i) {
    EXPECT_EQ(addresses[0], addresses[i]);
    EXPECT_EQ(12345, values[i]);
  }
}

struct LeakyTag {};

TEST(SingletonTest, DefaultIsDeletedAtExitLeakyIsNot) {
  ResetCounters();
  SetEvent(g_all_arrived);
  {
    AtExitManager manager;
    Singleton<SlowObject>::get();
    Singleton<SlowObject, LeakySingletonTraits<SlowObject>, LeakyTag>::get();
  }
  EXPECT_EQ(2, g_constructions.load());
  EXPECT_EQ(1, g_destructions.load());
}

}  // namespace
}  // namespace base
