// The C runtime's failure hooks, reached the way this toolchain allows. The runtime DLL's setters for the
// invalid-parameter and pure-call handlers are looked up at run time (the import library's stand-ins are
// never called by anything, and some runtime builds export neither). Pure virtual calls of this module's own
// code never reach the runtime DLL: the compiler sends them to __cxa_pure_virtual, which this file defines
// so that they end in the installed pure-call handler too.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_RUNTIME_HOOKS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_RUNTIME_HOOKS_H_

#include <cstdint>

namespace zorvi {
namespace installer {

using InvalidParameterHandler = void (*)(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                         unsigned int line, uintptr_t reserved);
using PureCallHandler = void (*)();

// Whether the runtime DLL exports the setter (and so whether the hook reaches the runtime at all).
bool RuntimeHasInvalidParameterSetter();
bool RuntimeHasPureCallSetter();

// Install a handler and return the one it replaces. Without the runtime's setter the invalid-parameter hook
// is not installed (null comes back); the pure-call handler is always kept for this module's own pure calls.
InvalidParameterHandler SetInvalidParameterHandler(InvalidParameterHandler handler);
PureCallHandler SetPureCallHandler(PureCallHandler handler);

// The runtime's own report of an invalid parameter, when it exports one, made with no handler set in the runtime
// (it is taken out first); nothing otherwise.
void CallRuntimeInvalidParameterReport(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                       unsigned int line, uintptr_t reserved);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_RUNTIME_HOOKS_H_
