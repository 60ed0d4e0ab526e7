// Process-wide objects made on the heap on first use, exactly once, without a lock (the same protocol as
// LazyInstance, base/lazy_instance.h): Singleton<T>::get(). By default the object is deleted by the
// AtExitManager, after which the next get() makes a new one; LeakySingletonTraits keep it for the life of
// the process.
//
//   Registry* Registry::GetInstance() { return base::Singleton<Registry>::get(); }
//
// A class with a private constructor befriends Singleton<Registry> (or its traits).
#ifndef BASE_MEMORY_SINGLETON_H_
#define BASE_MEMORY_SINGLETON_H_

#include "base/lazy_instance.h"

namespace base {

template <typename Type>
struct DefaultSingletonTraits {
  static constexpr bool kRegisterAtExit = true;
  static Type* New() { return new Type(); }
  static void Delete(Type* instance) { delete instance; }
};

template <typename Type>
struct LeakySingletonTraits : DefaultSingletonTraits<Type> {
  static constexpr bool kRegisterAtExit = false;
};

// DifferentiatingType gives one type several independent singletons.
template <typename Type, typename Traits = DefaultSingletonTraits<Type>, typename DifferentiatingType = Type>
class Singleton {
 public:
  Singleton() = delete;

  static Type* get() {
    return internal::GetOrCreateLazyInstance<Type>(&instance_, &Traits::New,
                                                   Traits::kRegisterAtExit ? &OnExit : nullptr, nullptr);
  }

 private:
  static void OnExit(void*) { internal::DestroyLazyInstance<Type>(&instance_, &Traits::Delete); }

  static inline internal::LazyInstanceState instance_{0};
};

}  // namespace base

#endif  // BASE_MEMORY_SINGLETON_H_
