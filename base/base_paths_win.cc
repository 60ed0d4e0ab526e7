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
  FilePath cur;
  switch (key) {
    case kExeFile:
      if (!GetModulePath(nullptr, &cur))
        return false;
      break;
    case kModuleFile:
      if (!GetModulePath(reinterpret_cast<HMODULE>(&__ImageBase), &cur))
        return false;
      break;
    case kSourceRoot:
      if (!PathService::Get(kExeDir, &cur))
        return false;
      cur = cur.DirName().DirName();
      break;
    case kUserDesktop:
      if (!GetShellFolder(CSIDL_DESKTOPDIRECTORY, &cur))
        return false;
      break;
    case kWindowsDir:
      if (!GetSystemFolder(&::GetWindowsDirectoryW, &cur))
        return false;
      break;
    case kSystemDir:
      if (!GetSystemFolder(&::GetSystemDirectoryW, &cur))
        return false;
      break;
    case kProgramFilesX86:
      if (win::OSInfo::GetInstance()->architecture() != win::OSInfo::X86_ARCHITECTURE) {
        if (!GetShellFolder(CSIDL_PROGRAM_FILESX86, &cur))
          return false;
        break;
      }
      [[fallthrough]];  // a 32-bit system has one Program Files folder
    case kProgramFiles:
    case kProgramFiles6432:
      if (!GetShellFolder(CSIDL_PROGRAM_FILES, &cur))
        return false;
      break;
    case kInternetCache:
      if (!GetShellFolder(CSIDL_INTERNET_CACHE, &cur))
        return false;
      break;
    case kCommonStartMenu:
      if (!GetShellFolder(CSIDL_COMMON_PROGRAMS, &cur))
        return false;
      break;
    case kStartMenu:
      if (!GetShellFolder(CSIDL_PROGRAMS, &cur))
        return false;
      break;
    case kAppData:
      if (!GetShellFolder(CSIDL_APPDATA, &cur))
        return false;
      break;
    case kLocalAppData:
      if (!GetShellFolder(CSIDL_LOCAL_APPDATA, &cur))
        return false;
      break;
    case kCommonAppData:
      if (!GetShellFolder(CSIDL_COMMON_APPDATA, &cur))
        return false;
      break;
    case kAppShortcuts:
      if (win::GetVersion() < win::VERSION_WIN8 || !GetKnownFolder(kApplicationShortcutsFolderId, &cur))
        return false;
      break;
    case kCommonDesktop:
      if (!GetShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, &cur))
        return false;
      break;
    case kUserQuickLaunch:
      if (!PathService::Get(kAppData, &cur))
        return false;
      cur = cur.Append(L"Microsoft").Append(L"Internet Explorer").Append(L"Quick Launch");
      break;
    case kTaskbarPins:
      if (!PathService::Get(kUserQuickLaunch, &cur))
        return false;
      cur = cur.Append(L"User Pinned").Append(L"TaskBar");
      break;
    case kWindowsFonts:
      if (!GetShellFolder(CSIDL_FONTS, &cur))
        return false;
      break;
    default:
      return false;
  }
  *result = cur;
  return true;
}

}  // namespace base
