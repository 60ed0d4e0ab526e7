// A DLL with its own copy of the path service, loaded at run time by the path-service tests: its module file
// is the DLL while its executable is the loading program.
#include <windows.h>

#include <cwchar>

#include "base/path_service.h"

extern "C" __declspec(dllexport) bool TestDllGetPath(int key, wchar_t* buffer, size_t size) {
  base::FilePath path;
  if (!base::PathService::Get(key, &path) || path.value().size() >= size)
    return false;
  wcscpy(buffer, path.value().c_str());
  return true;
}
