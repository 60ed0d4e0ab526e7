// A condition variable bound to one Lock. The caller holds the lock around every wait; a wait releases it
// while sleeping and holds it again when it returns. Wake-ups may be spurious: wait in a loop on the
// condition.
#ifndef BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_
#define BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_

#include <windows.h>

#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {

class ConditionVariable {
 public:
  // `user_lock` must outlive the condition variable.
  explicit ConditionVariable(Lock* user_lock);
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  void Wait();
  // Sleeps at most `max_time`: a negative time does not sleep, a time beyond the 32-bit millisecond range
  // sleeps without a limit.
  void TimedWait(const TimeDelta& max_time);

  // Wakes one waiter, or all of them.
  void Signal();
  void Broadcast();

 private:
  CONDITION_VARIABLE cv_ = CONDITION_VARIABLE_INIT;
  SRWLOCK* const srw_lock_;
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_
