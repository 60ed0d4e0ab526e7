// A second reference of the entry benchmark: a windowed program that only splits its command line the way every
// installer process does first (CommandLineToArgvW, which loads the shell and the windowing system).
#include <windows.h>

#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  LocalFree(CommandLineToArgvW(GetCommandLineW(), &count));
  return count > 0 ? 0 : 1;
}
