#include "base/synchronization/condition_variable.h"

#include "base/synchronization/wait_duration.h"

namespace base {

ConditionVariable::ConditionVariable(Lock* user_lock) : srw_lock_(&user_lock->srw_lock_) {
  InitializeConditionVariable(&cv_);
}

void ConditionVariable::Wait() {
  SleepConditionVariableSRW(&cv_, srw_lock_, INFINITE, 0);
}

void ConditionVariable::TimedWait(const TimeDelta& max_time) {
  SleepConditionVariableSRW(&cv_, srw_lock_, WaitMillisecondsFor(max_time), 0);
}

void ConditionVariable::Signal() {
  WakeConditionVariable(&cv_);
}

void ConditionVariable::Broadcast() {
  WakeAllConditionVariable(&cv_);
}

}  // namespace base
