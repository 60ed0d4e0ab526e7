// A DLL whose image carries the two sections that mark an instrumented module, and one section with a name
// of exactly 8 characters, for the image and instrumentation tests.
#include <windows.h>

#include "base/win/module_checks.h"

__attribute__((section(".thunks"), used)) const char kThunksSection[16] = "thunks";
__attribute__((section(".syzygy"), used)) const char kSyzygySection[16] = "syzygy";
__attribute__((section(".eightch"), used)) const char kEightCharacterSection[16] = "eight";

extern "C" __declspec(dllexport) bool TestDllIsModuleInstrumented() {
  return base::win::IsModuleInstrumented();
}
