// The library loads most system DLLs at the first call into them (see zorvi_delay_load). A DLL named without a
// path is looked for in the program's folder first, and an installer runs from a downloads folder, where a page
// may have dropped a file under a system DLL's name: the library takes each such DLL from the system folder
// only. Linked into the library itself, so that this hook, not the runtime's empty default, is the one used.
#include <windows.h>

#include <delayimp.h>

#include <string>

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary)
    return nullptr;
  // By name, so that the common controls still come in the version the host's manifest asks for.
  HMODULE module = LoadLibraryExA(info->szDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    // Windows 7 without the update that brought the search flags: the full path.
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
      module = LoadLibraryExA((std::string(folder, length) + "\\" + info->szDll).c_str(), nullptr, 0);
  }
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace

// Declared with C linkage by delayimp.h.
PfnDliHook __pfnDliNotifyHook2 = &LoadFromSystemFolder;
