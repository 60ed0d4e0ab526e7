#include <windows.h>

#include <shlobj.h>

#include <vector>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/win/windows_version.h"

// The start of the module this code is linked into (the linker defines it for every image).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace {

// FOLDERID_ApplicationShortcuts.
constexpr KNOWNFOLDERID kApplicationShortcutsFolderId = {
    0xA3918781, 0xE5F2, 0x4890, {0xB3, 0xD9, 0xA7, 0xE5, 0x43, 0x32, 0x32, 0x8C}};

// The file name of a loaded module. A path that does not fit the buffer is truncated by the system without an
// error result, so the buffer grows until the name fits rather than handing out a cut path.
bool GetModulePath(HMODULE module, FilePath* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return false;
    if (length < buffer.size()) {
      *path = FilePath(StringPiece16(buffer.data(), length));
      return true;
    }
    if (buffer.size() >= 32768)
      return false;
    buffer.resize(buffer.size() * 2);
  }
}

// A folder of the Windows and system folder calls, which answer the needed size when the buffer is too small.
bool GetSystemFolder(UINT (WINAPI *get_folder)(LPWSTR, UINT), FilePath* path) {
  wchar_t buffer[MAX_PATH];
  const UINT length = get_folder(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return false;
  *path = FilePath(StringPiece16(buffer, length));
  return true;
}

// A shell folder of the current user, as it is now (not its default location).
bool GetShellFolder(int csidl, FilePath* path) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return false;
  *path = FilePath(buffer);
  return true;
}

bool GetKnownFolder(REFKNOWNFOLDERID folder_id, FilePath* path) {
  wchar_t* folder = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(folder_id, 0, nullptr, &folder);
  if (SUCCEEDED(hr))
    *path = FilePath(folder);
  ::CoTaskMemFree(folder);  // also after a failure, which may hand out a string
  return SUCCEEDED(hr);
}

}  // namespace

bool PathProviderWin(int key, FilePath* result) {
  switch (key) {
    case kExeFile:
      return GetModulePath(nullptr, result);
    case kModuleFile:
      return GetModulePath(reinterpret_cast<HMODULE>(&__ImageBase), result);
    case kSourceRoot:
      if (!PathService::Get(kExeDir, result))
        return false;
      *result = result->DirName().DirName();
      return true;
    case kUserDesktop:
      return GetShellFolder(CSIDL_DESKTOPDIRECTORY, result);
    case kWindowsDir:
      return GetSystemFolder(&::GetWindowsDirectoryW, result);
    case kSystemDir:
      return GetSystemFolder(&::GetSystemDirectoryW, result);
    case kProgramFilesX86:
      if (win::OSInfo::GetInstance()->architecture() != win::OSInfo::X86_ARCHITECTURE)
        return GetShellFolder(CSIDL_PROGRAM_FILESX86, result);
      [[fallthrough]];  // a 32-bit system has one Program Files folder
    case kProgramFiles:
    case kProgramFiles6432:
      return GetShellFolder(CSIDL_PROGRAM_FILES, result);
    case kInternetCache:
      return GetShellFolder(CSIDL_INTERNET_CACHE, result);
    case kCommonStartMenu:
      return GetShellFolder(CSIDL_COMMON_PROGRAMS, result);
    case kStartMenu:
      return GetShellFolder(CSIDL_PROGRAMS, result);
    case kAppData:
      return GetShellFolder(CSIDL_APPDATA, result);
    case kLocalAppData:
      return GetShellFolder(CSIDL_LOCAL_APPDATA, result);
    case kCommonAppData:
      return GetShellFolder(CSIDL_COMMON_APPDATA, result);
    case kAppShortcuts:
      return win::GetVersion() >= win::VERSION_WIN8 && GetKnownFolder(kApplicationShortcutsFolderId, result);
    case kCommonDesktop:
      return GetShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, result);
    case kUserQuickLaunch:
      if (!PathService::Get(kAppData, result))
        return false;
      *result = result->Append(L"Microsoft").Append(L"Internet Explorer").Append(L"Quick Launch");
      return true;
    case kTaskbarPins:
      if (!PathService::Get(kUserQuickLaunch, result))
        return false;
      *result = result->Append(L"User Pinned").Append(L"TaskBar");
      return true;
    case kWindowsFonts:
      return GetShellFolder(CSIDL_FONTS, result);
    default:
      return false;
  }
}

}  // namespace base
