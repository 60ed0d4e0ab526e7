#include "base/memory/ref_counted.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace base {
namespace {

// Counts destructions, so a test sees exactly when (and how often) the last release destroyed it.
class Counted : public RefCountedThreadSafe<Counted> {
 public:
  explicit Counted(std::atomic<int>* destroyed) : destroyed_(destroyed) {}

 private:
  friend class RefCountedThreadSafe<Counted>;
  ~Counted() { destroyed_->fetch_add(1); }
  std::atomic<int>* destroyed_;
};

// Runs body(index) on `count` threads and waits for all of them. The threads spin at the start line until
// all of them are running, so that their bodies overlap instead of running one after another.
template <typename Body>
void RunOnThreads(int count, Body body) {
  HANDLE all_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      if (ready.fetch_add(1) + 1 == count)
        SetEvent(all_ready);
      while (!go.load(std::memory_order_acquire))
        YieldProcessor();
      body(i);
    });
  }
  WaitForSingleObject(all_ready, INFINITE);
  go.store(true, std::memory_order_release);
  for (std::thread& thread : threads)
    thread.join();
  CloseHandle(all_ready);
}

constexpr int kThreads = 8;
constexpr int kPerThread = 1000000;

// Called through pointers the compiler cannot see through, so that a million calls stay a million separate
// read-modify-write operations instead of being folded into one addition.
void AddRefOnce(const Counted* object) {
  object->AddRef();
}
void ReleaseOnce(const Counted* object) {
  object->Release();
}
void (*volatile g_add_ref)(const Counted*) = &AddRefOnce;
void (*volatile g_release)(const Counted*) = &ReleaseOnce;

TEST(RefCountedThreadSafeTest, CountsEveryIncrementFromEightThreads) {
  std::atomic<int> destroyed{0};
  Counted* object = new Counted(&destroyed);
  object->AddRef();
  ASSERT_TRUE(object->HasOneRef());

  RunOnThreads(kThreads, [object](int) {
    for (int i = 0; i < kPerThread; ++i)
      g_add_ref(object);
  });
  EXPECT_FALSE(object->HasOneRef());

  // A lost increment would bring the count to 0 before the last of these releases and destroy the object
  // early; a lost decrement would leave it above 1.
  RunOnThreads(kThreads, [object](int) {
    for (int i = 0; i < kPerThread; ++i)
      g_release(object);
  });
  EXPECT_EQ(0, destroyed.load());
  EXPECT_TRUE(object->HasOneRef());
  object->Release();
  EXPECT_EQ(1, destroyed.load());
}

TEST(RefCountedThreadSafeTest, InterleavedReferencesNeverReachZero) {
  std::atomic<int> destroyed{0};
  scoped_refptr<Counted> object = MakeRefCounted<Counted>(&destroyed);
  RunOnThreads(kThreads, [&object](int) {
    for (int i = 0; i < kPerThread; ++i) {
      g_add_ref(object.get());
      g_release(object.get());
    }
  });
  EXPECT_EQ(0, destroyed.load());
  EXPECT_TRUE(object->HasOneRef());
  object = nullptr;
  EXPECT_EQ(1, destroyed.load());
}

TEST(RefCountedThreadSafeTest, LastReleaseOnAnotherThreadDestroysThere) {
  std::atomic<int> destroyed{0};
  scoped_refptr<Counted> object = MakeRefCounted<Counted>(&destroyed);
  std::thread other([moved = std::move(object)]() mutable { moved = nullptr; });
  other.join();
  EXPECT_FALSE(object);
  EXPECT_EQ(1, destroyed.load());
}

TEST(ScopedRefptrTest, SelfAssignmentKeepsTheObject) {
  std::atomic<int> destroyed{0};
  scoped_refptr<Counted> object = MakeRefCounted<Counted>(&destroyed);
  scoped_refptr<Counted>& alias = object;
  object = alias;
  object = alias.get();
  ASSERT_TRUE(object);
  EXPECT_TRUE(object->HasOneRef());
  EXPECT_EQ(0, destroyed.load());
}

TEST(ScopedRefptrTest, ReleaseHandsTheReferenceOver) {
  std::atomic<int> destroyed{0};
  scoped_refptr<Counted> object = MakeRefCounted<Counted>(&destroyed);
  Counted* raw = object.release();
  EXPECT_FALSE(object);
  EXPECT_TRUE(raw->HasOneRef());
  raw->Release();
  EXPECT_EQ(1, destroyed.load());
}

// Custom traits replace the delete of the last release (task runners destroy themselves on their thread).
class Deferred;
struct DeferredTraits {
  static void Destruct(const Deferred* object);
};
class Deferred : public RefCountedThreadSafe<Deferred, DeferredTraits> {
 public:
  int destructs = 0;
};
void DeferredTraits::Destruct(const Deferred* object) {
  ++const_cast<Deferred*>(object)->destructs;
}

TEST(RefCountedThreadSafeTest, LastReleaseGoesThroughTheTraits) {
  Deferred object;  // never deleted by the count: the traits only record the call
  {
    scoped_refptr<Deferred> first(&object);
    scoped_refptr<Deferred> second = first;
  }
  EXPECT_EQ(1, object.destructs);
}

}  // namespace
}  // namespace base
