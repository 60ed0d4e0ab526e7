// A list of observer pointers that stays consistent while it is being notified: an observer removed during a
// notification is skipped from then on, and the list is compacted when the outermost notification ends.
// Whether observers added during a notification are reached by it is fixed when the list is made.
//
//   base::ObserverList<Observer> observers_;
//   observers_.ForEach([&](Observer* observer) { observer->OnChanged(value); });
//
// Not thread-safe: one thread owns the list and notifies it.
#ifndef BASE_OBSERVER_LIST_H_
#define BASE_OBSERVER_LIST_H_

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/logging.h"

namespace base {

template <class ObserverType>
class ObserverList {
 public:
  enum NotificationType {
    // Observers added during a notification are reached in the same pass.
    NOTIFY_ALL,
    // Only the observers present when the notification began are reached.
    NOTIFY_EXISTING_ONLY,
  };

  explicit ObserverList(NotificationType type = NOTIFY_ALL) : type_(type) {}
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;
  ~ObserverList() { DCHECK_EQ(0, notify_depth_) << "observer list destroyed while it notifies"; }

  // Adding an observer that is already listed does nothing.
  void AddObserver(ObserverType* observer) {
    DCHECK(observer);
    if (!observer || HasObserver(observer))
      return;
    observers_.push_back(observer);
  }

  // During a notification the entry only turns null (the running pass keeps its positions); otherwise it is
  // erased. Removing an observer that is not listed does nothing.
  void RemoveObserver(const ObserverType* observer) {
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (it == observers_.end() || !observer)
      return;
    if (notify_depth_ > 0)
      *it = nullptr;
    else
      observers_.erase(it);
  }

  bool HasObserver(const ObserverType* observer) const {
    return observer && std::find(observers_.begin(), observers_.end(), observer) != observers_.end();
  }

  void Clear() {
    if (notify_depth_ > 0)
      std::fill(observers_.begin(), observers_.end(), nullptr);
    else
      observers_.clear();
  }

  // False when no observer is listed (entries removed during a running notification may still count).
  bool might_have_observers() const { return !observers_.empty(); }

  // Calls `notify(observer)` for every listed observer, in the order they were added. `notify` may add and
  // remove observers and notify the list again.
  template <typename Notify>
  void ForEach(Notify&& notify) {
    ++notify_depth_;
    const size_t end_when_started = observers_.size();
    for (size_t i = 0; i < observers_.size(); ++i) {
      if (type_ == NOTIFY_EXISTING_ONLY && i >= end_when_started)
        break;
      // Indexed, not iterated: an observer added by `notify` may reallocate the vector.
      if (ObserverType* observer = observers_[i])
        notify(observer);
    }
    if (--notify_depth_ == 0)
      Compact();
  }

 private:
  void Compact() { observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr), observers_.end()); }

  std::vector<ObserverType*> observers_;
  int notify_depth_ = 0;
  const NotificationType type_;
};

}  // namespace base

#endif  // BASE_OBSERVER_LIST_H_
