#include "base/debug/debugger.h"

#include <intrin.h>
#include <windows.h>

namespace base {
namespace debug {

void BreakDebugger() {
  __debugbreak();
  // A debugger or filter that resumes after the trap must not bring a failed check back to life.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(EXCEPTION_BREAKPOINT));
  __builtin_unreachable();
}

}  // namespace debug
}  // namespace base
