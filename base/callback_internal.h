// The type-erased core of every callback: a counted reference to the heap record of the bound call, and the
// function that unpacks that record and makes the call.
#ifndef BASE_CALLBACK_INTERNAL_H_
#define BASE_CALLBACK_INTERNAL_H_

#include "base/memory/ref_counted.h"

namespace base {
namespace internal {

// The heap record behind a callback: the reference count, then the function that destroys the record with
// its bound values when the count reaches 0. The typed record (BindState in bind_internal.h) adds the bound
// functor and arguments.
class BindStateBase : public RefCountedThreadSafeBase {
 public:
  using DestroyFunction = void (*)(const BindStateBase*);

  void AddRef() const { RefCountedThreadSafeBase::AddRef(); }
  void Release() const {
    if (RefCountedThreadSafeBase::Release())
      destroy_(this);
  }

 protected:
  explicit BindStateBase(DestroyFunction destroy) : destroy_(destroy) {}
  ~BindStateBase() = default;

 private:
  DestroyFunction destroy_;
};

// Holds a bind state and the invoke function; copies share the bind state. Null exactly when it has no bind
// state. The typed Callback<> sets and calls the invoke function.
class CallbackBase {
 public:
  bool is_null() const { return bind_state_ == nullptr; }
  explicit operator bool() const { return !is_null(); }

  // Drops this callback's reference; the last reference destroys the bound values on the resetting thread.
  void Reset();

 protected:
  using InvokeFuncStorage = void (*)();

  CallbackBase() = default;
  // Takes a reference to the state; the invoke function stays null until the typed callback sets it.
  explicit CallbackBase(BindStateBase* bind_state);
  CallbackBase(const CallbackBase& other);
  CallbackBase& operator=(const CallbackBase& other);
  CallbackBase(CallbackBase&& other) noexcept;
  CallbackBase& operator=(CallbackBase&& other) noexcept;
  ~CallbackBase();

  // Same bind state and same invoke function.
  bool EqualsInternal(const CallbackBase& other) const;

  BindStateBase* bind_state_ = nullptr;
  InvokeFuncStorage polymorphic_invoke_ = nullptr;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_CALLBACK_INTERNAL_H_
