// Stands for the browser's executable and its launcher in test packages: it appends its command line as one
// line to "<own path>.commands.txt" and ends, or, given --stay-alive=EVENT, stays running until that event is
// set (at most two minutes), as a running browser would. It ends with the number in "<own path>.exit_code" when
// that file exists, else with 0; ending with 0 as a package's installer, it first sets the success event its
// --handover-success-event names, as the real one does on success. Test programs only; never shipped.
#include <windows.h>

#include <cstdlib>
#include <string>

int main() {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 3;
  const std::wstring record = std::wstring(own) + L".commands.txt";
  HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 3;
  const std::wstring command_line = std::wstring(GetCommandLineW()) + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, command_line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string line(size > 0 ? size - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, command_line.c_str(), -1, line.data(), size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  int exit_code = 0;
  HANDLE code_file = CreateFileW((std::wstring(own) + L".exit_code").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (code_file != INVALID_HANDLE_VALUE) {
    char digits[16] = {};
    DWORD read = 0;
    ReadFile(code_file, digits, sizeof(digits) - 1, &read, nullptr);
    CloseHandle(code_file);
    exit_code = atoi(digits);
  }
  const std::wstring all = GetCommandLineW();
  // The handle's bytes in memory order, as hexadecimal digits.
  const std::wstring success_prefix = L"--handover-success-event=";
  const size_t success_at = all.find(success_prefix);
  if (exit_code == 0 && success_at != std::wstring::npos) {
    unsigned long long value = 0;
    for (int i = 0; i < 8; ++i) {
      const std::wstring digits = all.substr(success_at + success_prefix.size() + 2 * i, 2);
      value |= static_cast<unsigned long long>(wcstoul(digits.c_str(), nullptr, 16)) << (8 * i);
    }
    if (!SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value))))
      return 3;
  }
  const std::wstring switch_prefix = L"--stay-alive=";
  const size_t at = all.find(switch_prefix);
  if (at == std::wstring::npos)
    return exit_code;
  const std::wstring name = all.substr(at + switch_prefix.size(), all.find(L' ', at) - at - switch_prefix.size());
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (!event)
    return 3;
  WaitForSingleObject(event, 120 * 1000);
  CloseHandle(event);
  return exit_code;
}
