#include "base/win/native_library.h"

#include <string>

#include "base/files/file_util.h"

namespace base {
namespace win {

HMODULE LoadNativeLibrary(const FilePath& path, uint32_t* error) {
  FilePath saved_directory;
  bool changed_directory = false;
  if (GetCurrentDirectory(&saved_directory)) {
    const FilePath library_directory = path.DirName();
    if (!library_directory.empty())
      changed_directory = SetCurrentDirectory(library_directory);
  }
  HMODULE module = LoadLibraryW(path.value().c_str());
  if (!module && error)
    *error = GetLastError();
  if (changed_directory)
    SetCurrentDirectory(saved_directory);
  return module;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER)
    return module;
  // Windows 7 without the update that brought the search flags: the full path, and the DLL's own folder first
  // for what it loads in turn.
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return nullptr;
  return LoadLibraryExW((std::wstring(folder, length) + L"\\" + name).c_str(), nullptr,
                        LOAD_WITH_ALTERED_SEARCH_PATH);
}

ScopedNativeLibrary::ScopedNativeLibrary(const FilePath& path) : module_(LoadNativeLibrary(path, nullptr)) {}

ScopedNativeLibrary::~ScopedNativeLibrary() { Reset(nullptr); }

void* ScopedNativeLibrary::GetFunctionPointer(const char* name) const {
  // A null module would search the executable instead.
  if (!module_)
    return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module_, name));
}

void ScopedNativeLibrary::Reset(HMODULE module) {
  if (module_ && module_ != module)
    FreeLibrary(module_);
  module_ = module;
}

HMODULE ScopedNativeLibrary::Release() {
  HMODULE module = module_;
  module_ = nullptr;
  return module;
}

}  // namespace win
}  // namespace base
