// PrefStore: a source of preference values, looked up by dotted path, that tells its observers about changes
// and about the end of its initial read. Reference-counted because file work on other threads may hold it.
#ifndef COMPONENTS_PREFS_PREF_STORE_H_
#define COMPONENTS_PREFS_PREF_STORE_H_

#include <string>

#include "base/memory/ref_counted.h"

namespace base {
class Value;
}

class PrefStore : public base::RefCountedThreadSafe<PrefStore> {
 public:
  class Observer {
   public:
    // The value at `key` was set or removed.
    virtual void OnPrefValueChanged(const std::string& key) = 0;
    // The initial read has ended; false when the store could not be initialized.
    virtual void OnInitializationCompleted(bool succeeded) = 0;

   protected:
    virtual ~Observer() = default;
  };

  PrefStore(const PrefStore&) = delete;
  PrefStore& operator=(const PrefStore&) = delete;

  // Adding an observer twice keeps one entry. Observers added during a notification get it in the same pass.
  virtual void AddObserver(Observer* observer) = 0;
  virtual void RemoveObserver(Observer* observer) = 0;
  virtual bool HasObservers() const = 0;
  virtual bool IsInitializationComplete() const = 0;
  // The value at the dotted path `key`; `result` may be null to test for presence. The value stays owned by
  // the store.
  virtual bool GetValue(const std::string& key, const base::Value** result) const = 0;

 protected:
  friend class base::RefCountedThreadSafe<PrefStore>;

  PrefStore() = default;
  virtual ~PrefStore() = default;
};

#endif  // COMPONENTS_PREFS_PREF_STORE_H_
