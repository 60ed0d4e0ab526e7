// The installer's host executable: loads zorvi.dll from its own folder and runs RunInstaller. Installer
// processes judge each other by the exit code, so success must be 0.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Exit codes of the host itself; 0 and 1 are the entry's result.
enum HostExitCode : int {
  kInstallerSucceeded = 0,
  kInstallerFailed = 1,
  kLibraryNotLoaded = 2,
  kEntryNotFound = 3,
};

std::wstring OwnFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path.substr(0, path.find_last_of(L'\\') + 1);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Only the library beside the executable is acceptable: never one found on the search path.
  const std::wstring library_path = OwnFolder() + L"zorvi.dll";
  HMODULE library = LoadLibraryExW(library_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library) {
    fprintf(stderr, "Cannot load %ls (error %lu)\n", library_path.c_str(), GetLastError());
    return kLibraryNotLoaded;
  }
  using RunInstallerFunction = bool (*)();
  auto run_installer = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "RunInstaller")));
  if (!run_installer) {
    fprintf(stderr, "%ls has no entry RunInstaller\n", library_path.c_str());
    return kEntryNotFound;
  }
  return run_installer() ? kInstallerSucceeded : kInstallerFailed;
}
