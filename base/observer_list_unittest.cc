#include "base/observer_list.h"

#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

class Observer {
 public:
  Observer(std::string name, std::vector<std::string>* calls) : name_(std::move(name)), calls_(calls) {}
  virtual ~Observer() = default;

  void Notify() {
    calls_->push_back(name_);
    if (on_notify)
      on_notify();
  }

  std::function<void()> on_notify;

 private:
  std::string name_;
  std::vector<std::string>* calls_;
};

void NotifyAll(ObserverList<Observer>* list) {
  list->ForEach([](Observer* observer) { observer->Notify(); });
}

TEST(ObserverListTest, AddingTwiceRegistersOnce) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  Observer b("b", &calls);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&a);
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), calls);
}

TEST(ObserverListTest, RemovingOutsideANotificationErases) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  Observer b("b", &calls);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.RemoveObserver(&a);
  list.RemoveObserver(&a);  // not listed any more: nothing happens
  EXPECT_FALSE(list.HasObserver(&a));
  EXPECT_TRUE(list.HasObserver(&b));
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"b"}), calls);
  list.RemoveObserver(&b);
  EXPECT_FALSE(list.might_have_observers());
}

TEST(ObserverListTest, ObserverRemovedDuringNotificationIsSkippedAndOthersStillRun) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  Observer b("b", &calls);
  Observer c("c", &calls);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&c);
  // a removes b (not yet reached) and itself.
  a.on_notify = [&] {
    list.RemoveObserver(&b);
    list.RemoveObserver(&a);
  };
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a", "c"}), calls);
  // Compacted once the notification ended: only c is left.
  EXPECT_FALSE(list.HasObserver(&a));
  EXPECT_FALSE(list.HasObserver(&b));
  calls.clear();
  a.on_notify = nullptr;
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"c"}), calls);
}

TEST(ObserverListTest, NotifyAllReachesObserversAddedDuringTheNotification) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  Observer b("b", &calls);
  ObserverList<Observer> list(ObserverList<Observer>::NOTIFY_ALL);
  list.AddObserver(&a);
  a.on_notify = [&] { list.AddObserver(&b); };
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), calls);
}

TEST(ObserverListTest, ExistingOnlyLeavesObserversAddedDuringTheNotificationForTheNextOne) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  Observer b("b", &calls);
  ObserverList<Observer> list(ObserverList<Observer>::NOTIFY_EXISTING_ONLY);
  list.AddObserver(&a);
  a.on_notify = [&] { list.AddObserver(&b); };
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a"}), calls);
  calls.clear();
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), calls);
}

TEST(ObserverListTest, NestedNotificationCompactsOnlyWhenTheOutermostEnds) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  Observer b("b", &calls);
  Observer c("c", &calls);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&c);
  bool nested = false;
  b.on_notify = [&] {
    if (nested)
      return;
    nested = true;
    // The inner pass removes a; the outer pass, already past a, must still reach c at its old position.
    list.RemoveObserver(&a);
    NotifyAll(&list);
  };
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "b", "c", "c"}), calls);
  calls.clear();
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"b", "c"}), calls);
}

TEST(ObserverListTest, ClearDuringNotificationStopsTheRest) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  Observer b("b", &calls);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  a.on_notify = [&] { list.Clear(); };
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a"}), calls);
  EXPECT_FALSE(list.might_have_observers());
}

TEST(ObserverListTest, ObserverReAddedAfterRemovalDuringNotificationIsListedOnce) {
  std::vector<std::string> calls;
  Observer a("a", &calls);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  bool moved = false;
  a.on_notify = [&] {
    if (moved)
      return;
    moved = true;
    list.RemoveObserver(&a);
    list.AddObserver(&a);
  };
  NotifyAll(&list);
  // Reached once more in the same pass (notify-all), then listed once.
  EXPECT_EQ((std::vector<std::string>{"a", "a"}), calls);
  a.on_notify = nullptr;
  calls.clear();
  NotifyAll(&list);
  EXPECT_EQ((std::vector<std::string>{"a"}), calls);
}

}  // namespace
}  // namespace base
