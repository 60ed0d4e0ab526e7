// Loads each named DLL one way and prints where it came from, one line per name: "NAME: PATH" or
// "NAME: error CODE". The tests run a copy of it from a folder holding files under system DLLs' names.
//   system    base::win::LoadSystemLibrary
//   by-name   LoadLibraryW with the bare name, as the system searches for it by default
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/win/native_library.h"

int main(int argc, char** argv) {
  const bool system = argc > 1 && strcmp(argv[1], "system") == 0;
  if (argc < 3 || (!system && strcmp(argv[1], "by-name") != 0)) {
    fprintf(stderr, "usage: native_library_test_child system|by-name NAME...\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    // DLL names are ASCII.
    const std::wstring name(argv[i], argv[i] + strlen(argv[i]));
    HMODULE module = system ? base::win::LoadSystemLibrary(name.c_str()) : LoadLibraryW(name.c_str());
    wchar_t path[MAX_PATH] = {};
    if (!module)
      printf("%s: error %lu\n", argv[i], GetLastError());
    else if (GetModuleFileNameW(module, path, MAX_PATH))
      printf("%s: %ls\n", argv[i], path);
    else
      printf("%s: no file name\n", argv[i]);
  }
  return 0;
}
