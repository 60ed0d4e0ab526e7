#include "desktop/windows/crash_reporter/crash_common.h"

#include <windows.h>

namespace zorvi {
namespace installer {

std::wstring FormatCrashObjectName(const wchar_t* prefix, uint32_t process_id) {
  std::wstring name = prefix + std::to_wstring(process_id);
  return name.size() < kCrashObjectNameSize ? name : std::wstring();
}

std::wstring ReadEnvironmentVariable(const wchar_t* name, size_t buffer_size) {
  // Asked without a buffer, the call answers the size the value needs with its terminator (0: not set).
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0 || needed > buffer_size)
    return std::wstring();
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  // Changed in between so that it no longer fits: read as absent.
  if (length == 0 || length >= needed)
    return std::wstring();
  value.resize(length);
  return value;
}

bool GetOwnExecutablePath(base::FilePath* path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return false;
  *path = base::FilePath(std::wstring(buffer, length));
  return true;
}

}  // namespace installer
}  // namespace zorvi
