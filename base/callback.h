// Callbacks: copyable, type-erased calls with bound arguments, made by base::Bind (base/bind.h). Copies share
// one reference-counted record of the bound values, so a callback may be copied to and run on any thread; the
// last copy to go destroys the bound values on the thread that drops it.
#ifndef BASE_CALLBACK_H_
#define BASE_CALLBACK_H_

#include <utility>

#include "base/callback_forward.h"
#include "base/callback_internal.h"
#include "base/logging.h"

namespace base {

template <typename R, typename... Args>
class Callback<R(Args...)> : public internal::CallbackBase {
 public:
  using RunType = R(Args...);
  // Arguments travel as references to what Run received, so move-only values can be passed through.
  using PolymorphicInvoke = R (*)(internal::BindStateBase*, Args&&...);

  Callback() = default;
  Callback(internal::BindStateBase* bind_state, PolymorphicInvoke invoke) : CallbackBase(bind_state) {
    polymorphic_invoke_ = reinterpret_cast<InvokeFuncStorage>(invoke);
  }

  bool Equals(const Callback& other) const { return EqualsInternal(other); }

  R Run(Args... args) const {
    CHECK(!is_null()) << "Run of a null callback";
    PolymorphicInvoke invoke = reinterpret_cast<PolymorphicInvoke>(polymorphic_invoke_);
    return invoke(bind_state_, std::forward<Args>(args)...);
  }
};

}  // namespace base

#endif  // BASE_CALLBACK_H_
