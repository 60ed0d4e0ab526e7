// A DLL that, like many, loads another DLL by name while it initialises: "zorvi_beside_dependency.dll",
// which the tests put beside it. Loading fails when the dependency is not found.
#include <windows.h>

namespace {
HMODULE g_dependency = nullptr;
}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_dependency = LoadLibraryW(L"zorvi_beside_dependency.dll");
    return g_dependency != nullptr;
  }
  if (reason == DLL_PROCESS_DETACH && g_dependency)
    FreeLibrary(g_dependency);
  return TRUE;
}

extern "C" __declspec(dllexport) int NativeLibraryTestValue() {
  return 42;
}
