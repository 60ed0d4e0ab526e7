#include "base/debug/alias.h"

namespace base {
namespace debug {

__attribute__((noinline)) void DebugAlias(const void* variable) {
  const void* volatile slot = variable;
  (void)slot;
  asm volatile("" : : "r"(variable) : "memory");
}

}  // namespace debug
}  // namespace base
