// Prints what the taskbar functions do in this process, for tests that run it under other Windows versions:
// "version=", "can_pin=", and with "pin PATH" / "unpin PATH" the result of pinning / unpinning that link.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/win/shortcut.h"
#include "base/win/windows_version.h"

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 100;
  std::printf("version=%d\n", static_cast<int>(base::win::GetVersion()));
  std::printf("can_pin=%d\n", base::win::CanPinShortcutToTaskbar() ? 1 : 0);
  if (argc == 3) {
    const std::wstring verb = argv[1];
    const base::FilePath link(argv[2]);
    if (verb == L"pin")
      std::printf("pin=%d\n", base::win::TaskbarPinShortcutLink(link) ? 1 : 0);
    else if (verb == L"unpin")
      std::printf("unpin=%d\n", base::win::TaskbarUnpinShortcutLink(link) ? 1 : 0);
  }
  CoUninitialize();
  return 0;
}
