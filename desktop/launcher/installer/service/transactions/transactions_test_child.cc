// A program the transaction tests keep running from their file tree, so that its executable is in use: it
// waits until the event named by its argument is signalled, or ten minutes pass should a test die: longer than
// any test may run (a torture seed takes over two minutes on a loaded machine, and its running executable must
// still be running at the end).
#include <windows.h>

#include <shellapi.h>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2)
    return 2;
  const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
  if (!event)
    return 3;
  const DWORD result = WaitForSingleObject(event, 600000);
  CloseHandle(event);
  return result == WAIT_OBJECT_0 ? 0 : 1;
}
