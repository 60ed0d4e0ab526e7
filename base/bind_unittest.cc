#include "base/bind.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"

namespace base {
namespace {

int Add(int a, int b) {
  return a + b;
}

std::string Join(const std::string& a, const std::string& b, int times) {
  std::string result;
  for (int i = 0; i < times; ++i)
    result += a + b;
  return result;
}

// Records its copies and destructions, and the thread that destroyed the last of them.
struct Tracker {
  std::atomic<int> alive{0};
  std::atomic<int> destroyed{0};
  std::atomic<DWORD> last_destroying_thread{0};
};

class Tracked {
 public:
  explicit Tracked(Tracker* tracker) : tracker_(tracker) { ++tracker_->alive; }
  Tracked(const Tracked& other) : tracker_(other.tracker_) { ++tracker_->alive; }
  ~Tracked() {
    --tracker_->alive;
    ++tracker_->destroyed;
    tracker_->last_destroying_thread = GetCurrentThreadId();
  }
  Tracker* tracker() const { return tracker_; }

 private:
  Tracker* tracker_;
};

int CountAlive(const Tracked& tracked) {
  return tracked.tracker()->alive;
}

class Receiver {
 public:
  Receiver() : weak_factory_(this) {}
  void Set(int value) { value_ = value; }
  void Append(const std::string& text, int number) {
    ++appends;
    log_ += text + std::to_string(number) + ";";
  }
  static inline int appends = 0;
  int Get() const { return value_; }
  int Scale(int factor) { return value_ * factor; }
  WeakPtr<Receiver> GetWeakPtr() { return weak_factory_.GetWeakPtr(); }
  void Invalidate() { weak_factory_.InvalidateWeakPtrs(); }
  const std::string& log() const { return log_; }

 private:
  int value_ = 0;
  std::string log_;
  WeakPtrFactory<Receiver> weak_factory_;
};

class CountedReceiver : public RefCountedThreadSafe<CountedReceiver> {
 public:
  explicit CountedReceiver(bool* destroyed) : destroyed_(destroyed) {}
  void Increment() { ++count_; }
  int count() const { return count_; }

 private:
  friend class RefCountedThreadSafe<CountedReceiver>;
  ~CountedReceiver() { *destroyed_ = true; }
  bool* destroyed_;
  int count_ = 0;
};

class OwnedObject {
 public:
  explicit OwnedObject(int* deletions) : deletions_(deletions) {}
  ~OwnedObject() { ++*deletions_; }
  int Value() const { return 7; }

 private:
  int* deletions_;
};

TEST(BindTest, FreeFunctionWithAllOrSomeArgumentsBound) {
  Callback<int()> all = Bind(&Add, 2, 3);
  EXPECT_EQ(5, all.Run());
  Callback<int(int)> some = Bind(&Add, 40);
  EXPECT_EQ(42, some.Run(2));
  EXPECT_EQ(39, some.Run(-1));
  Callback<int(int, int)> none = Bind(&Add);
  EXPECT_EQ(-7, none.Run(-3, -4));
}

TEST(BindTest, BoundArgumentsAreCopiesTakenAtBindTime) {
  std::string text = "ab";
  Callback<std::string(int)> joined = Bind(&Join, text, std::string("-"));
  text = "changed";
  EXPECT_EQ("ab-ab-ab-", joined.Run(3));
  EXPECT_EQ("", joined.Run(0));
}

TEST(BindTest, UnretainedMethodCallsTheObject) {
  Receiver receiver;
  Callback<void(int)> set = Bind(&Receiver::Set, Unretained(&receiver));
  set.Run(17);
  EXPECT_EQ(17, receiver.Get());
  Callback<int()> get = Bind(&Receiver::Get, Unretained(&receiver));
  EXPECT_EQ(17, get.Run());
  Callback<int()> scaled = Bind(&Receiver::Scale, Unretained(&receiver), 3);
  EXPECT_EQ(51, scaled.Run());
  Closure append = Bind(&Receiver::Append, Unretained(&receiver), std::string("x"), 4);
  append.Run();
  append.Run();
  EXPECT_EQ("x4;x4;", receiver.log());
}

TEST(BindTest, WeakReceiverWithArgumentsIsSkippedAfterInvalidation) {
  Receiver receiver;
  Closure append = Bind(&Receiver::Append, receiver.GetWeakPtr(), std::string("w"), 1);
  Callback<void(int)> partial = Bind(&Receiver::Append, receiver.GetWeakPtr(), std::string("p"));
  append.Run();
  partial.Run(2);
  EXPECT_EQ("w1;p2;", receiver.log());
  receiver.Invalidate();
  append.Run();
  partial.Run(3);
  EXPECT_EQ("w1;p2;", receiver.log());
}

TEST(BindTest, WeakReceiverClosureOutlivesTheObject) {
  Receiver::appends = 0;
  auto receiver = std::make_unique<Receiver>();
  Closure append = Bind(&Receiver::Append, receiver->GetWeakPtr(), std::string("gone"), 0);
  append.Run();
  EXPECT_EQ(1, Receiver::appends);
  receiver.reset();
  append.Run();  // would call into the freed object if the weak pointer were ignored
  EXPECT_EQ(1, Receiver::appends);
}

TEST(BindTest, CountedReceiverIsKeptAliveByTheCallback) {
  bool destroyed = false;
  CountedReceiver* raw = new CountedReceiver(&destroyed);
  Closure from_raw = Bind(&CountedReceiver::Increment, raw);  // takes a reference
  Closure from_ref;
  {
    scoped_refptr<CountedReceiver> ref(raw);
    from_ref = Bind(&CountedReceiver::Increment, ref);
  }
  EXPECT_FALSE(destroyed);
  from_raw.Run();
  from_ref.Run();
  EXPECT_EQ(2, raw->count());
  from_raw.Reset();
  EXPECT_FALSE(destroyed);
  Callback<int()> count = Bind(&CountedReceiver::count, scoped_refptr<CountedReceiver>(raw));
  from_ref.Reset();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(2, count.Run());
  count.Reset();
  EXPECT_TRUE(destroyed);
}

TEST(BindTest, OwnedObjectIsDeletedWithTheLastCopy) {
  int deletions = 0;
  Callback<int()> value = Bind(&OwnedObject::Value, Owned(new OwnedObject(&deletions)));
  Callback<int()> copy = value;
  EXPECT_EQ(7, value.Run());
  value.Reset();
  EXPECT_EQ(0, deletions);
  EXPECT_EQ(7, copy.Run());
  copy.Reset();
  EXPECT_EQ(1, deletions);
}

int TakeUnique(std::unique_ptr<int> value, int add) {
  return *value + add;
}

TEST(BindTest, PassedValueIsHandedOverOnRun) {
  Callback<int(int)> take = Bind(&TakeUnique, Passed(std::make_unique<int>(40)));
  EXPECT_EQ(42, take.Run(2));
}

TEST(BindDeathTest, PassedValueCannotBeTakenTwice) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  Callback<int(int)> take = Bind(&TakeUnique, Passed(std::make_unique<int>(1)));
  take.Run(0);
  EXPECT_EXIT(take.Run(0), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "");
}

TEST(BindTest, UnboundMoveOnlyArgumentsPassThrough) {
  Callback<int(std::unique_ptr<int>, int)> take = Bind(&TakeUnique);
  EXPECT_EQ(10, take.Run(std::make_unique<int>(3), 7));
}

TEST(BindTest, BindingACallbackMakesOneWithFewerParameters) {
  Callback<int(int, int)> add = Bind(&Add);
  Callback<int(int)> add_five = Bind(add, 5);
  EXPECT_EQ(6, add_five.Run(1));
  EXPECT_EQ(11, Bind(add_five, 6).Run());
  Receiver receiver;
  Closure set_later = Bind(Bind(&Receiver::Set, Unretained(&receiver)), 12);
  EXPECT_EQ(0, receiver.Get());
  set_later.Run();
  EXPECT_EQ(12, receiver.Get());
}

TEST(BindTest, FunctionObjectsAreStoredByValue) {
  int base = 100;
  Callback<int(int)> offset = Bind([base](int value) { return base + value; });
  base = 0;
  EXPECT_EQ(105, offset.Run(5));
}

TEST(BindTest, ConstMethodsAndWeakReceiversWithBoundArguments) {
  Receiver receiver;
  receiver.Set(9);
  EXPECT_EQ(9, Bind(&Receiver::Get, Unretained(&receiver)).Run());
  Closure set = Bind(&Receiver::Set, receiver.GetWeakPtr(), 4);
  set.Run();
  EXPECT_EQ(4, receiver.Get());
}

TEST(BindTest, BoundValuesAreDestroyedOnceWithTheLastCopyOnItsThread) {
  Tracker tracker;
  Callback<int()> alive = Bind(&CountAlive, Tracked(&tracker));
  EXPECT_EQ(1, tracker.alive.load());  // temporaries are gone: only the stored copy remains
  EXPECT_EQ(1, alive.Run());

  // Copies travel to eight threads, which drop them; the main thread's copy is reset last on a ninth thread.
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([start, copy = alive]() mutable {
      WaitForSingleObject(start, INFINITE);
      for (int i = 0; i < 10000; ++i) {
        Callback<int()> another = copy;
        Callback<int()> moved = std::move(another);
      }
      copy.Reset();
    });
  }
  SetEvent(start);
  for (std::thread& thread : threads)
    thread.join();
  CloseHandle(start);
  EXPECT_EQ(1, tracker.alive.load());
  int destroyed_before = tracker.destroyed.load();

  DWORD resetting_thread = 0;
  std::thread last([&] {
    resetting_thread = GetCurrentThreadId();
    alive.Reset();
  });
  last.join();
  EXPECT_TRUE(alive.is_null());
  EXPECT_EQ(0, tracker.alive.load());
  EXPECT_EQ(destroyed_before + 1, tracker.destroyed.load());
  EXPECT_EQ(resetting_thread, tracker.last_destroying_thread.load());
}

}  // namespace
}  // namespace base
