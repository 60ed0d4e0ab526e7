// The dependency that native_library_test_dll.dll loads by name; the tests copy it beside that DLL as
// "zorvi_beside_dependency.dll".
#include <windows.h>

extern "C" __declspec(dllexport) int NativeLibraryDependencyValue() {
  return 7;
}
