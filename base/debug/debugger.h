#ifndef BASE_DEBUG_DEBUGGER_H_
#define BASE_DEBUG_DEBUGGER_H_

namespace base {
namespace debug {

// Executes a breakpoint trap: the end of every failed check. The crash handler turns the trap into a crash
// report; without one the process ends with the breakpoint's exception code. Never returns.
[[noreturn]] void BreakDebugger();

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_DEBUGGER_H_
