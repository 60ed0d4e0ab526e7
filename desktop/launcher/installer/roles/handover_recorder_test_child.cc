// Stands for a package's installer, or for a program a user plants where an installer process might start one:
// appends "<own path>\t<command line>" as one line to "handovers.txt" in its current folder, which its starter
// chose, so that a run is recorded even where its own folder is gone afterwards. Given --handover-success-event, it
// then sets that event, as a package's installer that succeeded does. Ends with 0. Test programs only.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

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
  // The handle's bytes in memory order, as hexadecimal digits.
  const std::wstring all = GetCommandLineW();
  const std::wstring success_prefix = L"--handover-success-event=";
  const size_t success_at = all.find(success_prefix);
  if (success_at == std::wstring::npos)
    return 0;
  unsigned long long value = 0;
  for (int i = 0; i < 8; ++i) {
    const std::wstring digits = all.substr(success_at + success_prefix.size() + 2 * i, 2);
    value |= static_cast<unsigned long long>(wcstoul(digits.c_str(), nullptr, 16)) << (8 * i);
  }
  return SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value))) ? 0 : 3;
}
