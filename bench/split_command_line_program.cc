// A second reference of the entry benchmark: a windowed program that only splits its command line the way every
// installer process does first (CommandLineToArgvW, which loads the shell and the windowing system).
#include <windows.h>

#include <shellapi.h>

#include "base/win/scoped_local_memory.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  const base::win::ScopedLocalMemory<wchar_t*> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  return count > 0 ? 0 : 1;
}
