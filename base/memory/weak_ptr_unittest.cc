#include "base/memory/weak_ptr.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/callback.h"

namespace base {
namespace {

class Target {
 public:
  Target() : factory_(this) {}
  WeakPtr<Target> GetWeakPtr() { return factory_.GetWeakPtr(); }
  WeakPtrFactory<Target>& factory() { return factory_; }
  void Hit() { ++hits; }
  int hits = 0;

 private:
  WeakPtrFactory<Target> factory_;
};

class DerivedTarget : public Target {};

TEST(WeakReferenceOwnerTest, TwoReferencesShareOneFlag) {
  WeakReferenceOwner owner;
  EXPECT_FALSE(owner.HasRefs());
  WeakReference first = owner.GetRef();
  WeakReference second = owner.GetRef();
  EXPECT_TRUE(owner.HasRefs());
  EXPECT_TRUE(first.IsValid());
  EXPECT_TRUE(second.IsValid());
  // One flag: invalidating it reaches both.
  owner.Invalidate();
  EXPECT_FALSE(first.IsValid());
  EXPECT_FALSE(second.IsValid());
}

TEST(WeakReferenceOwnerTest, NewFlagOnceEveryReferenceIsGone) {
  WeakReferenceOwner owner;
  { WeakReference dropped = owner.GetRef(); }
  EXPECT_FALSE(owner.HasRefs());
  WeakReference fresh = owner.GetRef();
  EXPECT_TRUE(fresh.IsValid());
  EXPECT_TRUE(owner.HasRefs());
}

TEST(WeakReferenceOwnerTest, InvalidateLeavesOldReferencesNullAndNewOnesWorking) {
  Target target;
  WeakPtr<Target> old = target.GetWeakPtr();
  WeakPtr<Target> copy = old;
  target.factory().InvalidateWeakPtrs();
  EXPECT_EQ(nullptr, old.get());
  EXPECT_EQ(nullptr, copy.get());
  EXPECT_FALSE(target.factory().HasWeakPtrs());  // the invalidated flag is no longer the owner's
  WeakPtr<Target> renewed = target.GetWeakPtr();
  EXPECT_EQ(&target, renewed.get());
  EXPECT_EQ(nullptr, old.get());
}

TEST(WeakReferenceTest, EmptyReferenceIsInvalid) {
  WeakReference none;
  EXPECT_FALSE(none.IsValid());
  WeakPtr<Target> null_pointer;
  EXPECT_FALSE(null_pointer);
  EXPECT_EQ(nullptr, null_pointer.get());
}

TEST(WeakPtrTest, OwnerDestructionInvalidatesEveryReference) {
  auto target = std::make_unique<DerivedTarget>();
  WeakPtr<Target> as_base = target->GetWeakPtr();
  WeakPtr<Target> second = as_base;
  ASSERT_EQ(target.get(), as_base.get());
  target.reset();
  EXPECT_EQ(nullptr, as_base.get());
  EXPECT_EQ(nullptr, second.get());
  EXPECT_FALSE(second);
}

TEST(WeakPtrTest, ResetDropsOnlyThisReference) {
  Target target;
  WeakPtr<Target> first = target.GetWeakPtr();
  WeakPtr<Target> second = first;
  first.reset();
  EXPECT_EQ(nullptr, first.get());
  EXPECT_EQ(&target, second.get());
  EXPECT_TRUE(target.factory().HasWeakPtrs());
  second.reset();
  EXPECT_FALSE(target.factory().HasWeakPtrs());
}

// The owner lives on this thread; workers hold copies, copy and drop them concurrently (the flag's count is
// changed from every thread), and after the owner is destroyed here each worker sees its copies null and its
// weak-bound closure does nothing.
TEST(WeakPtrTest, InvalidatedAcrossThreads) {
  constexpr int kWorkers = 8;
  auto target = std::make_unique<Target>();
  WeakPtr<Target> weak = target->GetWeakPtr();
  Closure hit = Bind(&Target::Hit, weak);

  HANDLE copied = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE destroyed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> ready{0};
  std::vector<int> valid_before(kWorkers), valid_after(kWorkers, -1);
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      std::vector<WeakPtr<Target>> copies;
      for (int i = 0; i < 20000; ++i) {
        copies.push_back(weak);
        if (i % 2)
          copies.pop_back();
      }
      Closure my_hit = hit;
      // Only a count of live references is checked here: dereferencing belongs to the owner's thread.
      valid_before[w] = static_cast<int>(copies.size());
      if (ready.fetch_add(1) + 1 == kWorkers)
        SetEvent(copied);
      WaitForSingleObject(destroyed, INFINITE);
      int still_valid = 0;
      for (const WeakPtr<Target>& copy : copies)
        still_valid += copy.get() != nullptr;
      valid_after[w] = still_valid;
      my_hit.Run();  // must not touch the destroyed target
    });
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(copied, INFINITE));
  EXPECT_TRUE(target->factory().HasWeakPtrs());
  hit.Run();
  EXPECT_EQ(1, target->hits);
  target.reset();
  SetEvent(destroyed);
  for (std::thread& worker : workers)
    worker.join();
  CloseHandle(copied);
  CloseHandle(destroyed);
  for (int w = 0; w < kWorkers; ++w) {
    EXPECT_EQ(10000, valid_before[w]);
    EXPECT_EQ(0, valid_after[w]);
  }
  EXPECT_EQ(nullptr, weak.get());
}

// References dropped on other threads are all counted: the owner sees none left afterwards.
TEST(WeakPtrTest, CopiesDroppedOnOtherThreadsBalanceTheCount) {
  Target target;
  {
    WeakPtr<Target> weak = target.GetWeakPtr();
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&] {
        WaitForSingleObject(start, INFINITE);
        for (int i = 0; i < 100000; ++i) {
          WeakPtr<Target> copy = weak;
          WeakPtr<Target> second(copy);
        }
      });
    }
    SetEvent(start);
    for (std::thread& thread : threads)
      thread.join();
    CloseHandle(start);
    EXPECT_TRUE(target.factory().HasWeakPtrs());
  }
  EXPECT_FALSE(target.factory().HasWeakPtrs());
}

}  // namespace
}  // namespace base
