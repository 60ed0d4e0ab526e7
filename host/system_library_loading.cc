// The library loads most system DLLs at the first call into them (see zorvi_delay_load). A DLL named without a
// path is looked for in the program's folder first, and an installer runs from a downloads folder, where a page
// may have dropped a file under a system DLL's name: the library takes each such DLL from the system folder
// only. Linked into the library itself, so that this hook, not the runtime's empty default, is the one used.
#include <windows.h>

#include <delayimp.h>

#include <string>

#include "base/win/native_library.h"

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary)
    return nullptr;
  // The names in the import tables are ASCII.
  const std::string name(info->szDll);
  return reinterpret_cast<FARPROC>(base::win::LoadSystemLibrary(std::wstring(name.begin(), name.end()).c_str()));
}

}  // namespace

// Declared with C linkage by delayimp.h.
PfnDliHook __pfnDliNotifyHook2 = &LoadFromSystemFolder;
