// The machinery behind base::Bind: what kind of functor is bound, how its bound arguments are stored, and
// the invoke function that unpacks them. Users include base/bind.h.
#ifndef BASE_BIND_INTERNAL_H_
#define BASE_BIND_INTERNAL_H_

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "base/bind_helpers.h"
#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"

namespace base {
namespace internal {

// A list of types, for splitting a signature into its bound and unbound parameters.
template <typename... Types>
struct TypeList {};

template <size_t N, typename List, typename = void>
struct DropTypes;
template <typename... Types>
struct DropTypes<0, TypeList<Types...>> {
  using Type = TypeList<Types...>;
};
template <size_t N, typename First, typename... Rest>
struct DropTypes<N, TypeList<First, Rest...>, std::enable_if_t<(N > 0)>> {
  using Type = typename DropTypes<N - 1, TypeList<Rest...>>::Type;
};

template <typename R, typename List>
struct MakeRunType;
template <typename R, typename... Args>
struct MakeRunType<R, TypeList<Args...>> {
  using Type = R(Args...);
};

template <typename RunType>
struct RunTypeTraits;
template <typename R, typename... Args>
struct RunTypeTraits<R(Args...)> {
  using ReturnType = R;
  using Parameters = TypeList<Args...>;
  static constexpr size_t kArity = sizeof...(Args);
};

template <typename T>
struct IsWeakPtr : std::false_type {};
template <typename T>
struct IsWeakPtr<WeakPtr<T>> : std::true_type {};

template <typename List>
struct FirstIsWeakPtr : std::false_type {};
template <typename First, typename... Rest>
struct FirstIsWeakPtr<TypeList<First, Rest...>> : IsWeakPtr<First> {};

template <typename T>
concept RefCountedType = requires(const T* object) {
  object->AddRef();
  object->Release();
};

// How each kind of functor is called. RunType is its signature with the receiver of a method as the first
// parameter.
template <typename Functor, typename = void>
struct FunctorTraits;

// Free functions.
template <typename R, typename... Args>
struct FunctorTraits<R (*)(Args...)> {
  using RunType = R(Args...);
  static constexpr bool kIsMethod = false;
  template <typename... CallArgs>
  static R Invoke(R (*function)(Args...), CallArgs&&... args) {
    return function(std::forward<CallArgs>(args)...);
  }
};

// Methods; the receiver arrives as a raw pointer.
template <typename R, typename Class, typename... Args>
struct FunctorTraits<R (Class::*)(Args...)> {
  using RunType = R(Class*, Args...);
  static constexpr bool kIsMethod = true;
  template <typename... CallArgs>
  static R Invoke(R (Class::*method)(Args...), Class* receiver, CallArgs&&... args) {
    return (receiver->*method)(std::forward<CallArgs>(args)...);
  }
};
template <typename R, typename Class, typename... Args>
struct FunctorTraits<R (Class::*)(Args...) const> {
  using RunType = R(const Class*, Args...);
  static constexpr bool kIsMethod = true;
  template <typename... CallArgs>
  static R Invoke(R (Class::*method)(Args...) const, const Class* receiver, CallArgs&&... args) {
    return (receiver->*method)(std::forward<CallArgs>(args)...);
  }
};

// Another callback: binding more arguments to it makes a callback with fewer parameters.
template <typename R, typename... Args>
struct FunctorTraits<Callback<R(Args...)>> {
  using RunType = R(Args...);
  static constexpr bool kIsMethod = false;
  template <typename... CallArgs>
  static R Invoke(const Callback<R(Args...)>& callback, CallArgs&&... args) {
    return callback.Run(std::forward<CallArgs>(args)...);
  }
};

// A function object with one call operator (a lambda); it is stored by value like a bound argument.
template <typename Functor>
struct FunctorTraits<Functor, std::void_t<decltype(&Functor::operator())>> {
 private:
  using OperatorTraits = FunctorTraits<decltype(&Functor::operator())>;
  using OperatorRunType = typename OperatorTraits::RunType;

  template <typename RunType>
  struct DropReceiver;
  template <typename R, typename Receiver, typename... Args>
  struct DropReceiver<R(Receiver, Args...)> {
    using Type = R(Args...);
  };

 public:
  using RunType = typename DropReceiver<OperatorRunType>::Type;
  static constexpr bool kIsMethod = false;
  template <typename... CallArgs>
  static decltype(auto) Invoke(const Functor& functor, CallArgs&&... args) {
    return functor(std::forward<CallArgs>(args)...);
  }
};

// How a bound argument is stored: by value, except that a raw pointer as a method's receiver must say how
// it lives. A counted object is kept alive by the callback; any other object needs Unretained() (the caller
// guarantees its life), Owned() or a weak pointer.
template <bool kIsReceiver, typename Arg>
struct BoundStorage {
  using Type = std::decay_t<Arg>;
};
template <typename Arg>
  requires std::is_pointer_v<std::decay_t<Arg>>
struct BoundStorage<true, Arg> {
  using Pointee = std::remove_pointer_t<std::decay_t<Arg>>;
  static_assert(RefCountedType<Pointee>,
                "a raw receiver pointer must be a counted object; wrap others in base::Unretained()");
  using Type = scoped_refptr<Pointee>;
};

// The typed heap record of one bound call.
template <typename Functor, typename... BoundArgs>
class BindState final : public BindStateBase {
 public:
  template <typename ForwardFunctor, typename... ForwardArgs>
  explicit BindState(ForwardFunctor&& functor, ForwardArgs&&... bound_args)
      : BindStateBase(&Destroy),
        functor_(std::forward<ForwardFunctor>(functor)),
        bound_args_(std::forward<ForwardArgs>(bound_args)...) {}

  Functor functor_;
  std::tuple<BoundArgs...> bound_args_;

 private:
  ~BindState() = default;
  // Frees the record and, with it, the bound functor and arguments.
  static void Destroy(const BindStateBase* self) { delete static_cast<const BindState*>(self); }
};

// Calls the functor; a method bound to a weak pointer is skipped once the pointer is null.
template <bool kIsWeakCall, typename R>
struct InvokeHelper {
  template <typename Traits, typename Functor, typename... Args>
  static R MakeCall(const Functor& functor, Args&&... args) {
    return Traits::Invoke(functor, std::forward<Args>(args)...);
  }
};
template <typename R>
struct InvokeHelper<true, R> {
  static_assert(std::is_void_v<R>, "a method bound to a weak pointer cannot return a value");
  template <typename Traits, typename Functor, typename Receiver, typename... Args>
  static void MakeCall(const Functor& functor, const Receiver& weak_receiver, Args&&... args) {
    auto* receiver = weak_receiver.get();
    if (!receiver)
      return;
    Traits::Invoke(functor, receiver, std::forward<Args>(args)...);
  }
};

// The invoke function stored in the callback: unpacks the record, then calls with the bound arguments
// followed by the arguments of the run.
template <typename State, typename Functor, typename R, typename BoundList, typename UnboundList>
struct Invoker;
template <typename State, typename Functor, typename R, typename... BoundArgs, typename... UnboundArgs>
struct Invoker<State, Functor, R, TypeList<BoundArgs...>, TypeList<UnboundArgs...>> {
  using Traits = FunctorTraits<Functor>;
  static constexpr bool kIsWeakCall = Traits::kIsMethod && FirstIsWeakPtr<TypeList<BoundArgs...>>::value;

  static R Run(BindStateBase* base, UnboundArgs&&... unbound_args) {
    State* state = static_cast<State*>(base);
    return RunImpl(state, std::index_sequence_for<BoundArgs...>(), std::forward<UnboundArgs>(unbound_args)...);
  }

  template <size_t... Indices>
  static R RunImpl(State* state, std::index_sequence<Indices...>, UnboundArgs&&... unbound_args) {
    return InvokeHelper<kIsWeakCall, R>::template MakeCall<Traits>(
        state->functor_, Unwrap(std::get<Indices>(state->bound_args_))...,
        std::forward<UnboundArgs>(unbound_args)...);
  }
};

// Stored types of Bind(functor, args...) and the callback it makes.
template <typename Functor, typename... Args>
struct BindTraits {
  using StoredFunctor = std::decay_t<Functor>;
  using Traits = FunctorTraits<StoredFunctor>;
  using RunType = typename Traits::RunType;
  using ReturnType = typename RunTypeTraits<RunType>::ReturnType;
  static_assert(sizeof...(Args) <= RunTypeTraits<RunType>::kArity, "too many arguments bound");
  using UnboundParameters = typename DropTypes<sizeof...(Args), typename RunTypeTraits<RunType>::Parameters>::Type;
  using UnboundRunType = typename MakeRunType<ReturnType, UnboundParameters>::Type;

  template <size_t... Indices>
  static auto StoredArgs(std::index_sequence<Indices...>)
      -> TypeList<typename BoundStorage<Traits::kIsMethod && Indices == 0, Args>::Type...>;
  using StoredArgList = decltype(StoredArgs(std::index_sequence_for<Args...>()));

  template <typename List>
  struct MakeState;
  template <typename... Stored>
  struct MakeState<TypeList<Stored...>> {
    using Type = BindState<StoredFunctor, Stored...>;
  };
  using State = typename MakeState<StoredArgList>::Type;
  using InvokerType = Invoker<State, StoredFunctor, ReturnType, StoredArgList, UnboundParameters>;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_BIND_INTERNAL_H_
