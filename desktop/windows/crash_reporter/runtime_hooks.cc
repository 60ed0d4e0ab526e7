#include "desktop/windows/crash_reporter/runtime_hooks.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace zorvi {
namespace installer {
namespace {

using InvalidParameterSetter = InvalidParameterHandler(__cdecl*)(InvalidParameterHandler);
using PureCallSetter = PureCallHandler(__cdecl*)(PureCallHandler);

template <typename Function>
Function RuntimeFunction(const char* name) {
  HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
  return runtime ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(runtime, name))) : nullptr;
}

// The handler this module's own pure virtual calls go to.
std::atomic<PureCallHandler> g_pure_call_handler{nullptr};

}  // namespace

bool RuntimeHasInvalidParameterSetter() {
  return RuntimeFunction<InvalidParameterSetter>("_set_invalid_parameter_handler") != nullptr;
}

bool RuntimeHasPureCallSetter() {
  return RuntimeFunction<PureCallSetter>("_set_purecall_handler") != nullptr;
}

InvalidParameterHandler SetInvalidParameterHandler(InvalidParameterHandler handler) {
  auto setter = RuntimeFunction<InvalidParameterSetter>("_set_invalid_parameter_handler");
  return setter ? setter(handler) : nullptr;
}

PureCallHandler SetPureCallHandler(PureCallHandler handler) {
  PureCallHandler previous = g_pure_call_handler.exchange(handler);
  if (auto setter = RuntimeFunction<PureCallSetter>("_set_purecall_handler"))
    previous = setter(handler);  // the runtime's view wins: someone else may have set it there
  return previous;
}

void CallRuntimeInvalidParameterReport(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                       unsigned int line, uintptr_t reserved) {
  auto report = RuntimeFunction<InvalidParameterHandler>("_invalid_parameter");
  if (!report)
    return;
  // The runtime's report calls the handler set in it, which may be the hook that called this: taken out first,
  // or the report comes back to the hook until the stack runs out.
  SetInvalidParameterHandler(nullptr);
  report(expression, function, file, line, reserved);
}

}  // namespace installer
}  // namespace zorvi

// A pure virtual call of this module: the installed pure-call handler reports it; when there is none, or it
// returns, the process ends as the runtime would end it.
extern "C" void __cxa_pure_virtual() {
  if (zorvi::installer::PureCallHandler handler = zorvi::installer::g_pure_call_handler.load())
    handler();
  std::abort();
}
