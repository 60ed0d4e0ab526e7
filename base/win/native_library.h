// Loading DLLs at run time: LoadNativeLibrary, LoadSystemLibrary and ScopedNativeLibrary, which frees the module
// when it goes.
#ifndef BASE_WIN_NATIVE_LIBRARY_H_
#define BASE_WIN_NATIVE_LIBRARY_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"

namespace base {
namespace win {

// Loads the DLL at `path` with its folder as the current directory for the duration of the load, so that
// the DLLs it loads by name are found beside it; the current directory is the caller's again afterwards.
// The process-wide current directory changes meanwhile: no lock guards it. Null on failure, with the
// system's error code in *error when given.
HMODULE LoadNativeLibrary(const FilePath& path, uint32_t* error);

// Loads the system DLL `name` (a file name such as "dbghelp.dll") from the system folder only, its own
// dependencies too. A DLL named without a path is otherwise looked for in the program's folder first, and an
// installer runs from a downloads folder, where a page may have dropped a file under a system DLL's name. By name,
// so that a side-by-side version the program's manifest asks for still applies. Null on failure, with the
// system's error code set.
HMODULE LoadSystemLibrary(const wchar_t* name);

class ScopedNativeLibrary {
 public:
  ScopedNativeLibrary() = default;
  // Takes ownership of `module` (may be null).
  explicit ScopedNativeLibrary(HMODULE module) : module_(module) {}
  explicit ScopedNativeLibrary(const FilePath& path);
  ScopedNativeLibrary(const ScopedNativeLibrary&) = delete;
  ScopedNativeLibrary& operator=(const ScopedNativeLibrary&) = delete;
  ~ScopedNativeLibrary();

  bool is_valid() const { return module_ != nullptr; }
  HMODULE get() const { return module_; }
  // The exported function's address; null when it is not exported or nothing is loaded.
  void* GetFunctionPointer(const char* name) const;
  // Frees the held module and takes `module`.
  void Reset(HMODULE module);
  [[nodiscard]] HMODULE Release();

 private:
  HMODULE module_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_NATIVE_LIBRARY_H_
