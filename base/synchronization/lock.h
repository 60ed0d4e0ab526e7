// A non-recursive mutual-exclusion lock and its scoped holder.
#ifndef BASE_SYNCHRONIZATION_LOCK_H_
#define BASE_SYNCHRONIZATION_LOCK_H_

#include <windows.h>

namespace base {

// A slim reader/writer lock used only in exclusive mode. It needs no clean-up, so a Lock with static storage
// is usable from the start of the process and never destroyed too early.
class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire() { AcquireSRWLockExclusive(&srw_lock_); }
  void Release() { ReleaseSRWLockExclusive(&srw_lock_); }

 private:
  friend class ConditionVariable;  // sleeps on the lock itself

  SRWLOCK srw_lock_ = SRWLOCK_INIT;
};

// Holds a Lock for the lifetime of the scope.
class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~AutoLock() { lock_.Release(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  Lock& lock_;
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_LOCK_H_
