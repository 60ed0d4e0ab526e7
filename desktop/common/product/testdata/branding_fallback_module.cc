// Stands in for the test-automation module that may carry the branding resource beside the installer. Its code
// must never run inside the installer: when it does, it leaves "module_code_ran" in its own folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH)
    return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return TRUE;
  wchar_t* name = wcsrchr(path, L'\\');
  if (!name || name + 16 >= path + MAX_PATH)
    return TRUE;
  lstrcpyW(name + 1, L"module_code_ran");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE)
    CloseHandle(marker);
  return TRUE;
}
