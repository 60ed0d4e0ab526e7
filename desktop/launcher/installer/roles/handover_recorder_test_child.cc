// Stands for a package's installer, or for a program a user plants where an installer process might start one:
// appends "<own path>\t<command line>" as one line to "handovers.txt" in its current folder, which its starter
// chose, so that a run is recorded even where its own folder is gone afterwards. Given --handover-success-event, it
// then sets that event, as a package's installer that succeeded does. Ends with 0. Test programs only.
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "desktop/launcher/installer/service/inherited_handle.h"

int main() {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 3;
  const std::wstring line = std::wstring(own) + L"\t" + GetCommandLineW() + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string text(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), text.data(), size, nullptr, nullptr);
  HANDLE file = CreateFileW(L"handovers.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 3;
  DWORD written = 0;
  const bool complete = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                        written == text.size();
  CloseHandle(file);
  if (!complete)
    return 3;
  base::CommandLine::Init();
  const std::wstring value =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueNative("handover-success-event");
  if (value.empty())
    return 0;
  HANDLE success = nullptr;
  return zorvi::installer::ParseInheritedHandleSwitchValue(value, &success) && SetEvent(success) ? 0 : 3;
}
