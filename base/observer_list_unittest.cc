#include "base/observer_list.h"

#include <functional>
#include <initializer_list>
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

using Names = std::vector<std::string>;

void NotifyAll(ObserverList<Observer>* list) {
  list->ForEach([](Observer* observer) { observer->Notify(); });
}

class ObserverListTest : public ::testing::Test {
 protected:
  // Adds the observers in the given order.
  static void Add(ObserverList<Observer>* list, std::initializer_list<Observer*> observers) {
    for (Observer* observer : observers)
      list->AddObserver(observer);
  }

  // Notifies `list` once and gives back the names of the observers reached, in order (nested notifications
  // included).
  Names Notify(ObserverList<Observer>* list) {
    calls_.clear();
    NotifyAll(list);
    return calls_;
  }

  Names calls_;
  Observer a_{"a", &calls_};
  Observer b_{"b", &calls_};
  Observer c_{"c", &calls_};
};

TEST_F(ObserverListTest, AddingTwiceRegistersOnce) {
  ObserverList<Observer> list;
  Add(&list, {&a_, &b_, &a_});
  EXPECT_EQ((Names{"a", "b"}), Notify(&list));
}

TEST_F(ObserverListTest, RemovingOutsideANotificationErases) {
  ObserverList<Observer> list;
  Add(&list, {&a_, &b_});
  list.RemoveObserver(&a_);
  list.RemoveObserver(&a_);  // not listed any more: nothing happens
  EXPECT_FALSE(list.HasObserver(&a_));
  EXPECT_TRUE(list.HasObserver(&b_));
  EXPECT_EQ((Names{"b"}), Notify(&list));
  list.RemoveObserver(&b_);
  EXPECT_FALSE(list.might_have_observers());
}

TEST_F(ObserverListTest, ObserverRemovedDuringNotificationIsSkippedAndOthersStillRun) {
  ObserverList<Observer> list;
  Add(&list, {&a_, &b_, &c_});
  // a removes b (not yet reached) and itself.
  a_.on_notify = [&] {
    list.RemoveObserver(&b_);
    list.RemoveObserver(&a_);
  };
  EXPECT_EQ((Names{"a", "c"}), Notify(&list));
  // Compacted once the notification ended: only c is left.
  EXPECT_FALSE(list.HasObserver(&a_));
  EXPECT_FALSE(list.HasObserver(&b_));
  a_.on_notify = nullptr;
  EXPECT_EQ((Names{"c"}), Notify(&list));
}

TEST_F(ObserverListTest, NotifyAllReachesObserversAddedDuringTheNotification) {
  ObserverList<Observer> list(ObserverList<Observer>::NOTIFY_ALL);
  list.AddObserver(&a_);
  a_.on_notify = [&] { list.AddObserver(&b_); };
  EXPECT_EQ((Names{"a", "b"}), Notify(&list));
}

TEST_F(ObserverListTest, ExistingOnlyLeavesObserversAddedDuringTheNotificationForTheNextOne) {
  ObserverList<Observer> list(ObserverList<Observer>::NOTIFY_EXISTING_ONLY);
  list.AddObserver(&a_);
  a_.on_notify = [&] { list.AddObserver(&b_); };
  EXPECT_EQ((Names{"a"}), Notify(&list));
  EXPECT_EQ((Names{"a", "b"}), Notify(&list));
}

TEST_F(ObserverListTest, NestedNotificationCompactsOnlyWhenTheOutermostEnds) {
  ObserverList<Observer> list;
  Add(&list, {&a_, &b_, &c_});
  bool nested = false;
  b_.on_notify = [&] {
    if (nested)
      return;
    nested = true;
    // The inner pass removes a; the outer pass, already past a, must still reach c at its old position.
    list.RemoveObserver(&a_);
    NotifyAll(&list);
  };
  EXPECT_EQ((Names{"a", "b", "b", "c", "c"}), Notify(&list));
  EXPECT_EQ((Names{"b", "c"}), Notify(&list));
}

TEST_F(ObserverListTest, ClearDuringNotificationStopsTheRest) {
  ObserverList<Observer> list;
  Add(&list, {&a_, &b_});
  a_.on_notify = [&] { list.Clear(); };
  EXPECT_EQ((Names{"a"}), Notify(&list));
  EXPECT_FALSE(list.might_have_observers());
}

TEST_F(ObserverListTest, ObserverReAddedAfterRemovalDuringNotificationIsListedOnce) {
  ObserverList<Observer> list;
  list.AddObserver(&a_);
  bool moved = false;
  a_.on_notify = [&] {
    if (moved)
      return;
    moved = true;
    list.RemoveObserver(&a_);
    list.AddObserver(&a_);
  };
  // Reached once more in the same pass (notify-all), then listed once.
  EXPECT_EQ((Names{"a", "a"}), Notify(&list));
  a_.on_notify = nullptr;
  EXPECT_EQ((Names{"a"}), Notify(&list));
}

}  // namespace
}  // namespace base
