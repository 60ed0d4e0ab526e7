#include "base/callback_internal.h"

#include <utility>

namespace base {
namespace internal {

CallbackBase::CallbackBase(BindStateBase* bind_state) : bind_state_(bind_state) {
  if (bind_state_)
    bind_state_->AddRef();
}

CallbackBase::CallbackBase(const CallbackBase& other)
    : bind_state_(other.bind_state_), polymorphic_invoke_(other.polymorphic_invoke_) {
  if (bind_state_)
    bind_state_->AddRef();
}

CallbackBase& CallbackBase::operator=(const CallbackBase& other) {
  // The new reference first: assigning a callback to itself must not free the state in between.
  BindStateBase* old_state = bind_state_;
  if (other.bind_state_)
    other.bind_state_->AddRef();
  bind_state_ = other.bind_state_;
  if (old_state)
    old_state->Release();
  polymorphic_invoke_ = other.polymorphic_invoke_;
  return *this;
}

CallbackBase::CallbackBase(CallbackBase&& other) noexcept
    : bind_state_(std::exchange(other.bind_state_, nullptr)),
      polymorphic_invoke_(std::exchange(other.polymorphic_invoke_, nullptr)) {}

CallbackBase& CallbackBase::operator=(CallbackBase&& other) noexcept {
  if (this == &other)
    return *this;
  BindStateBase* old_state = bind_state_;
  bind_state_ = std::exchange(other.bind_state_, nullptr);
  polymorphic_invoke_ = std::exchange(other.polymorphic_invoke_, nullptr);
  if (old_state)
    old_state->Release();
  return *this;
}

CallbackBase::~CallbackBase() {
  if (bind_state_)
    bind_state_->Release();
}

void CallbackBase::Reset() {
  polymorphic_invoke_ = nullptr;
  // Cleared before the release: a bound value's destructor may look at this callback again.
  BindStateBase* old_state = std::exchange(bind_state_, nullptr);
  if (old_state)
    old_state->Release();
}

bool CallbackBase::EqualsInternal(const CallbackBase& other) const {
  return bind_state_ == other.bind_state_ && polymorphic_invoke_ == other.polymorphic_invoke_;
}

}  // namespace internal
}  // namespace base
