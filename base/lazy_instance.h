// Objects made on first use, exactly once, without a lock: LazyInstance<T> keeps the object in static
// storage and constructs it when first asked for; concurrent first callers wait until it is published.
// A plain LazyInstance is destroyed by the AtExitManager (and may be made again afterwards); a
// LazyInstance<T>::Leaky lives until the process ends.
//
//   constinit base::LazyInstance<Registry>::Leaky g_registry;
//   g_registry.Get().Add(...);
//
// The state word behind every lazily made object: 0 not made, 1 being made by some thread, any other value
// the object's address.
#ifndef BASE_LAZY_INSTANCE_H_
#define BASE_LAZY_INSTANCE_H_

#include <atomic>
#include <cstdint>
#include <new>

namespace base {
namespace internal {

using LazyInstanceState = std::atomic<uintptr_t>;
constexpr uintptr_t kLazyInstanceStateCreating = 1;

// True when the caller won the right to make the object (the state went from 0 to 1): it must make it and
// call CompleteLazyInstance. Otherwise waits while another thread makes it and returns false; the state then
// holds the address.
bool NeedsLazyInstance(LazyInstanceState* state);

// Publishes the new object's address. With a destructor, registers destructor(lazy_instance) with the
// AtExitManager.
void CompleteLazyInstance(LazyInstanceState* state, uintptr_t new_instance, void* lazy_instance,
                          void (*destructor)(void*));

// The published address; yields while the object is being made.
uintptr_t WaitForInstance(LazyInstanceState* state);

// The object behind the state word, made by create() on first use (with destructor(destructor_arg)
// registered at exit when a destructor is given).
template <typename Type, typename CreateFunction>
Type* GetOrCreateLazyInstance(LazyInstanceState* state, CreateFunction create, void (*destructor)(void*),
                              void* destructor_arg) {
  if (state->load(std::memory_order_acquire) <= kLazyInstanceStateCreating && NeedsLazyInstance(state)) {
    Type* instance = create();
    CompleteLazyInstance(state, reinterpret_cast<uintptr_t>(instance), destructor_arg, destructor);
    return instance;
  }
  return reinterpret_cast<Type*>(state->load(std::memory_order_acquire));
}

// Destroys the object behind the state word and clears the word, so that the next use makes a new one.
template <typename Type, typename DeleteFunction>
void DestroyLazyInstance(LazyInstanceState* state, DeleteFunction destroy) {
  destroy(reinterpret_cast<Type*>(state->load(std::memory_order_acquire)));
  state->store(0, std::memory_order_release);
}

}  // namespace internal

template <typename Type>
struct DefaultLazyInstanceTraits {
  static constexpr bool kRegisterOnExit = true;
  static Type* New(void* storage) { return new (storage) Type(); }
  static void Delete(Type* instance) { instance->~Type(); }
};

template <typename Type>
struct LeakyLazyInstanceTraits {
  static constexpr bool kRegisterOnExit = false;
  static Type* New(void* storage) { return new (storage) Type(); }
  static void Delete(Type*) {}
};

// Must have static storage duration and be constant-initialized, so that it is usable before any dynamic
// initializer runs.
template <typename Type, typename Traits = DefaultLazyInstanceTraits<Type>>
class LazyInstance {
 public:
  using Leaky = LazyInstance<Type, LeakyLazyInstanceTraits<Type>>;

  constexpr LazyInstance() = default;
  LazyInstance(const LazyInstance&) = delete;
  LazyInstance& operator=(const LazyInstance&) = delete;

  Type& Get() { return *Pointer(); }
  Type* operator->() { return Pointer(); }
  Type& operator*() { return *Pointer(); }

  Type* Pointer() {
    return internal::GetOrCreateLazyInstance<Type>(
        &state_, [this] { return Traits::New(storage_); }, Traits::kRegisterOnExit ? &OnExit : nullptr, this);
  }

  // Whether the object exists now (it may be made or destroyed right after on other threads).
  bool IsCreated() const { return state_.load(std::memory_order_acquire) > internal::kLazyInstanceStateCreating; }

 private:
  static void OnExit(void* lazy_instance) {
    internal::DestroyLazyInstance<Type>(&static_cast<LazyInstance*>(lazy_instance)->state_, &Traits::Delete);
  }

  internal::LazyInstanceState state_{0};
  alignas(Type) unsigned char storage_[sizeof(Type)] = {};
};

}  // namespace base

#endif  // BASE_LAZY_INSTANCE_H_
