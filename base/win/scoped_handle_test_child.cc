// A main executable without the GetHandleVerifier export (it links no verifier of its own), for the tests of
// the verifier that a DLL then makes for itself: disabled, but still checking every close.
//   double        the DLL registers one handle twice; the process goes on
//   failed-close  the DLL closes a handle behind its holder's back; the process stops
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/win/scoped_handle_verifier.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: scoped_handle_test_child double|failed-close DLL_PATH\n");
    return 2;
  }
  printf("main executable exports the verifier: %s\n",
         GetProcAddress(GetModuleHandleW(nullptr), "GetHandleVerifier") ? "yes" : "no");
  HMODULE library = LoadLibraryA(argv[2]);
  if (!library) {
    printf("cannot load %s: %lu\n", argv[2], GetLastError());
    return 3;
  }
  using GetVerifierFunction = base::win::ActiveVerifier* (*)();
  auto get_verifier = reinterpret_cast<GetVerifierFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetHandleVerifier")));
  if (!get_verifier)
    return 4;
  printf("verifier made by the DLL: %s\n", get_verifier()->GetModule() == library ? "yes" : "no");
  fflush(stdout);

  if (strcmp(argv[1], "double") == 0) {
    auto register_twice = reinterpret_cast<void (*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(library, "TestDllRegisterTwiceThenClose")));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    register_twice(event);
    // The holder closed it: closing again must fail.
    printf("double registration passed; handle closed by its holder: %s\n", CloseHandle(event) ? "no" : "yes");
    return 0;
  }
  if (strcmp(argv[1], "failed-close") == 0) {
    auto close_behind = reinterpret_cast<void (*)()>(
        reinterpret_cast<void*>(GetProcAddress(library, "TestDllCloseBehindHoldersBack")));
    close_behind();
    printf("survived a failed close\n");
    return 1;
  }
  return 2;
}
