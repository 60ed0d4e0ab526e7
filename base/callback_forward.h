// Declares the callback types without their definitions, for headers that only pass callbacks along.
#ifndef BASE_CALLBACK_FORWARD_H_
#define BASE_CALLBACK_FORWARD_H_

namespace base {

template <typename Signature>
class Callback;

// A callback that takes nothing and returns nothing: the unit of work that task runners post.
using Closure = Callback<void()>;

}  // namespace base

#endif  // BASE_CALLBACK_FORWARD_H_
