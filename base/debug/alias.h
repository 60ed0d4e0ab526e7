#ifndef BASE_DEBUG_ALIAS_H_
#define BASE_DEBUG_ALIAS_H_

namespace base {
namespace debug {

// Makes the compiler keep `variable` (and what it points at) in memory, so that it is visible in a crash dump.
void DebugAlias(const void* variable);

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_ALIAS_H_
