// Crashes on purpose, with user32 loaded (as every window-owning installer process has it), so that the
// harness test can see how a crashing test process ends.
#include <windows.h>

int main() {
  MessageBeep(MB_OK);  // keeps user32 imported and loaded
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}
