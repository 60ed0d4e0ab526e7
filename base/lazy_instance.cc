#include "base/lazy_instance.h"

#include <windows.h>

#include "base/at_exit.h"

namespace base {
namespace internal {

bool NeedsLazyInstance(LazyInstanceState* state) {
  uintptr_t expected = 0;
  if (state->compare_exchange_strong(expected, kLazyInstanceStateCreating, std::memory_order_acquire,
                                     std::memory_order_acquire)) {
    return true;
  }
  WaitForInstance(state);
  return false;
}

void CompleteLazyInstance(LazyInstanceState* state, uintptr_t new_instance, void* lazy_instance,
                          void (*destructor)(void*)) {
  // Release: whoever reads the address also sees the finished object.
  state->store(new_instance, std::memory_order_release);
  if (destructor)
    AtExitManager::RegisterCallback(destructor, lazy_instance);
}

uintptr_t WaitForInstance(LazyInstanceState* state) {
  uintptr_t value;
  while ((value = state->load(std::memory_order_acquire)) == kLazyInstanceStateCreating)
    Sleep(0);
  return value;
}

}  // namespace internal
}  // namespace base
