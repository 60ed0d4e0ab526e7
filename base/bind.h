// Bind: makes a callback from a function, a method or another callback and some leading arguments; the
// remaining parameters become the callback's own.
//
//   base::Closure task = base::Bind(&Foo::Save, weak_factory_.GetWeakPtr(), path);  // skipped once Foo is gone
//   base::Closure stop = base::Bind(&Foo::Stop, base::Unretained(foo));              // caller keeps foo alive
//   base::Callback<void(int)> done = base::Bind(&Foo::OnDone, scoped_refptr<Foo>(foo));  // kept alive
//
// Bound arguments are copied (or moved) into the callback and destroyed with its last copy. A method's
// receiver must be a counted object (raw or scoped_refptr), a weak pointer (the method must return void),
// or wrapped in Unretained() or Owned() (base/bind_helpers.h).
#ifndef BASE_BIND_H_
#define BASE_BIND_H_

#include <utility>

#include "base/bind_helpers.h"
#include "base/bind_internal.h"
#include "base/callback.h"

namespace base {

template <typename Functor, typename... Args>
Callback<typename internal::BindTraits<Functor, Args...>::UnboundRunType> Bind(Functor&& functor,
                                                                              Args&&... args) {
  using Traits = internal::BindTraits<Functor, Args...>;
  using State = typename Traits::State;
  return Callback<typename Traits::UnboundRunType>(
      new State(std::forward<Functor>(functor), std::forward<Args>(args)...), &Traits::InvokerType::Run);
}

}  // namespace base

#endif  // BASE_BIND_H_
