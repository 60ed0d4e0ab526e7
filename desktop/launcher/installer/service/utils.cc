#include "desktop/launcher/installer/service/utils.h"

#include <windows.h>

#define SECURITY_WIN32
#include <security.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/shortcut.h"
#include "desktop/common/product/product_info.h"

namespace zorvi::installer {

namespace {

// Paths of 248 characters or more cannot hold a folder with files below the system's path limit.
constexpr size_t kMaxValidPathLength = 247;
constexpr wchar_t kForbiddenCharacters[] = L"?\"<>*|:";
// Device names that the system claims whatever the folder or extension.
constexpr const char* kReservedNames[] = {"con",  "aux",  "com1", "com2", "com3", "com4",
                                          "lpt1", "lpt2", "lpt3", "prn",  "nul"};
// Both user-name calls are limited to a name of UNLEN (256) characters and its terminator.
constexpr DWORD kUserNameBufferSize = 257;
// {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
constexpr KNOWNFOLDERID kUserProgramFilesFolderId = {
    0x5cd7aee2, 0x2219, 0x4a67, {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}};

bool IsAsciiLetter(wchar_t character) {
  return (character >= L'A' && character <= L'Z') || (character >= L'a' && character <= L'z');
}

bool IsSeparator(wchar_t character) {
  return character == L'\\' || character == L'/';
}

bool IsValidComponent(std::wstring_view component) {
  for (wchar_t character : component) {
    // A NUL would cut the path short in every system call: refused with the control characters.
    if (character < 32 || std::wstring_view(kForbiddenCharacters).find(character) != std::wstring_view::npos)
      return false;
  }
  if (!component.empty() && component.back() == L'.')
    return false;
  const std::wstring_view stem = component.substr(0, component.find(L'.'));
  if (stem.size() == 3 || stem.size() == 4) {
    for (const char* reserved : kReservedNames) {
      if (base::LowerCaseEqualsASCII(stem, reserved))
        return false;
    }
  }
  return true;
}

// Splits off the next component of `rest` up to a separator; false at the end.
bool NextComponent(std::wstring_view* rest, std::wstring_view* component) {
  if (rest->empty())
    return false;
  const size_t end = std::find_if(rest->begin(), rest->end(), IsSeparator) - rest->begin();
  *component = rest->substr(0, end);
  rest->remove_prefix(std::min(end + 1, rest->size()));
  return true;
}

// Whether the shortcut's resolved target is `target`, by path ignoring case or by identity.
bool IsShortcutTarget(const base::FilePath& resolved, const base::FilePath& target,
                      const BY_HANDLE_FILE_INFORMATION* target_identity) {
  if (base::FilePath::CompareIgnoreCase(resolved.value(), target.value()) == 0)
    return true;
  BY_HANDLE_FILE_INFORMATION identity;
  return target_identity && GetFileIdentity(resolved, &identity) && IsSameFileIdentity(identity, *target_identity);
}

// `path` without the "\\?\" prefix of long paths: "\\?\C:\x" as "C:\x", "\\?\UNC\server\share" as
// "\\server\share"; other forms as they are.
std::wstring WithoutLongPathPrefix(const std::wstring& path) {
  constexpr std::wstring_view kPrefix = L"\\\\?\\";
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  if (path.compare(0, kUncPrefix.size(), kUncPrefix) == 0)
    return L"\\\\" + path.substr(kUncPrefix.size());
  if (path.compare(0, kPrefix.size(), kPrefix) == 0 && path.size() >= kPrefix.size() + 2 &&
      IsAsciiLetter(path[kPrefix.size()]) && path[kPrefix.size() + 1] == L':') {
    return path.substr(kPrefix.size());
  }
  return path;
}

// The length of a full path's volume root: "C:\" or "\\server\share\"; 0 when it has neither.
size_t RootLength(std::wstring_view path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]))
    return 3;
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
    return 0;
  size_t end = 2;
  for (int part = 0; part < 2; ++part) {
    const size_t separator = path.find_first_of(L"\\/", end);
    if (separator == end || separator == std::wstring_view::npos)
      return part == 1 && end < path.size() ? path.size() : 0;
    end = separator + 1;
  }
  return end;
}

}  // namespace

bool IsDeviceName(std::wstring_view component) {
  std::wstring_view stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ')
    stem.remove_suffix(1);
  if (stem.size() == 3) {
    return base::LowerCaseEqualsASCII(stem, "con") || base::LowerCaseEqualsASCII(stem, "prn") ||
           base::LowerCaseEqualsASCII(stem, "aux") || base::LowerCaseEqualsASCII(stem, "nul");
  }
  // The console's input and output buffers open in any folder too, whatever extension follows.
  if (base::LowerCaseEqualsASCII(stem, "conin$") || base::LowerCaseEqualsASCII(stem, "conout$"))
    return true;
  if (stem.size() != 4)
    return false;
  const std::wstring_view port = stem.substr(0, 3);
  const wchar_t digit = stem[3];
  return (base::LowerCaseEqualsASCII(port, "com") || base::LowerCaseEqualsASCII(port, "lpt")) &&
         ((digit >= L'1' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' || digit == L'\u00b3');
}

bool IsPlainFileName(std::wstring_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), IsSeparator) && IsValidComponent(name);
}

bool IsValidPath(const base::FilePath& path) {
  std::wstring_view rest = path.value();
  if (rest.empty() || rest.size() > kMaxValidPathLength)
    return false;
  if (rest.size() >= 2 && rest[1] == L':' && IsAsciiLetter(rest[0])) {
    rest.remove_prefix(2);
  } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    // A share: server and share names, each ended by a separator.
    rest.remove_prefix(2);
    for (int part = 0; part < 2; ++part) {
      const size_t end = std::find_if(rest.begin(), rest.end(), IsSeparator) - rest.begin();
      if (end == 0 || end == rest.size() || !IsValidComponent(rest.substr(0, end)))
        return false;
      rest.remove_prefix(end + 1);
    }
  }
  std::wstring_view component;
  while (NextComponent(&rest, &component)) {
    if (!IsValidComponent(component))
      return false;
  }
  return true;
}

bool GetFileIdentity(base::FilePath path, BY_HANDLE_FILE_INFORMATION* identity) {
  // No access is asked for: the identity is readable whoever may read the contents; folders need backup
  // semantics to be opened at all.
  base::File file(path, base::FileFlags::Open | base::FileFlags::BackupSemantics | base::FileFlags::ShareDelete);
  return file.IsValid() && GetFileInformationByHandle(file.GetPlatformFile(), identity);
}

bool IsSameFileIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool PathNamesLink(const base::FilePath& path) {
  const DWORD attributes = GetFileAttributesW(path.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

base::FilePath GetResolvedPath(const base::FilePath& path) {
  const base::File file(path, base::FileFlags::Open | base::FileFlags::BackupSemantics | base::FileFlags::ShareDelete);
  if (!file.IsValid())
    return base::FilePath();
  std::wstring resolved(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file.GetPlatformFile(), resolved.data(), MAX_PATH, FILE_NAME_NORMALIZED);
  if (length >= MAX_PATH) {
    resolved.resize(length);
    length = GetFinalPathNameByHandleW(file.GetPlatformFile(), resolved.data(), length, FILE_NAME_NORMALIZED);
  }
  if (length == 0 || length >= resolved.size())
    return base::FilePath();
  resolved.resize(length);
  return base::FilePath(WithoutLongPathPrefix(resolved));
}

LinkFreePath::LinkFreePath() = default;
LinkFreePath::LinkFreePath(bool for_listing)
    : access_(for_listing ? FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY : FILE_READ_ATTRIBUTES) {}
LinkFreePath::~LinkFreePath() = default;

bool LinkFreePath::Hold(const base::FilePath& path, bool hold_path, std::string* problem) {
  std::wstring full(MAX_PATH, L'\0');
  const DWORD length = GetFullPathNameW(path.value().c_str(), MAX_PATH, full.data(), nullptr);
  if (length == 0 || length >= MAX_PATH) {
    *problem = "it cannot be made a full path";
    return false;
  }
  full.resize(length);
  full = WithoutLongPathPrefix(full);
  const size_t root = RootLength(full);
  if (root == 0) {
    *problem = "it names no volume";
    return false;
  }
  std::wstring current = full.substr(0, root);
  std::wstring_view rest = std::wstring_view(full).substr(root);
  std::wstring_view component;
  while (NextComponent(&rest, &component)) {
    if (component.empty())
      continue;
    if (!current.empty() && !IsSeparator(current.back()))
      current += L'\\';
    current += component;
    // The attributes name the link itself wherever the system keeps it; the handle's, on Windows, name what was
    // opened, in case the folder was replaced in between.
    const DWORD attributes = GetFileAttributesW(current.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;  // nothing below exists either
      *problem = base::WideToUTF8(current) + " cannot be examined (error " + std::to_string(error) + ")";
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      *problem = base::WideToUTF8(current) + " is a link (a reparse point)";
      return false;
    }
    const bool is_path = rest.find_first_not_of(L"\\/") == std::wstring_view::npos;
    if (is_path && !hold_path)
      return true;
    base::win::ScopedHandle handle(CreateFileW(current.c_str(), access_,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!handle.IsValid() || !GetFileInformationByHandle(handle.Get(), &information)) {
      *problem = base::WideToUTF8(current) + " cannot be held (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      *problem = base::WideToUTF8(current) + " is a link (a reparse point)";
      return false;
    }
    held_.push_back(std::move(handle));
  }
  return true;
}

bool TestShortcut(const base::FilePath& shortcut, const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_identity) {
  VLOG(1) << "Testing shortcut " << shortcut.value();
  if (shortcut.empty() || !base::PathExists(shortcut))
    return false;
  base::FilePath resolved;
  return base::win::ResolveShortcut(shortcut, &resolved, nullptr) &&
         IsShortcutTarget(resolved, target, target_identity);
}

base::FilePath FindTaskbarPin(base::FilePath target, const BY_HANDLE_FILE_INFORMATION* target_identity) {
  base::FilePath pins;
  if (!base::PathService::Get(base::kTaskbarPins, &pins) || !base::DirectoryExists(pins)) {
    LOG(ERROR) << "Couldn't find path to taskbar pins.";
    return base::FilePath();
  }
  base::FileEnumerator shortcuts(pins, false, base::FileEnumerator::FILES, L"*.lnk");
  for (base::FilePath shortcut = shortcuts.Next(); !shortcut.empty(); shortcut = shortcuts.Next()) {
    base::FilePath resolved;
    if (!base::win::ResolveShortcut(shortcut, &resolved, nullptr)) {
      LOG(ERROR) << "Couldn't resolve shortcut at " << shortcut.value();
      continue;
    }
    if (IsShortcutTarget(resolved, target, target_identity))
      return shortcut;
  }
  return base::FilePath();
}

bool GetCurrentUserName(bool domain_form, std::wstring* name) {
  if (!domain_form) {
    wchar_t buffer[kUserNameBufferSize];
    DWORD size = kUserNameBufferSize;
    if (!GetUserNameW(buffer, &size)) {
      LOG(ERROR) << "GetUserName failed, error " << GetLastError();
      return false;
    }
    name->assign(buffer);
    return true;
  }
  // The first call only asks for the size, which includes the terminator; one more is given for safety.
  ULONG size = 0;
  if (GetUserNameExW(NameSamCompatible, nullptr, &size) || GetLastError() != ERROR_MORE_DATA) {
    LOG(ERROR) << "GetUserNameEx gave no size, error " << GetLastError();
    return false;
  }
  std::vector<wchar_t> buffer(size + 1);
  size = static_cast<ULONG>(buffer.size());
  if (!GetUserNameExW(NameSamCompatible, buffer.data(), &size)) {
    LOG(ERROR) << "GetUserNameEx failed, error " << GetLastError();
    return false;
  }
  name->assign(buffer.data());
  return true;
}

std::wstring GetInstallerKernelObjectName(const std::wstring& name, const std::wstring& base, bool global) {
  std::wstring object_name = base + L"/" + name;
  std::replace(object_name.begin(), object_name.end(), L'\\', L'/');
  return (global ? L"Global\\" : L"Local\\") + object_name;
}

std::string GetLauncherExeName() {
  return GetBrandingFileNameBase() + ".exe";
}

std::string GetStreamDisplayName() {
  const char* word = GetStreamDisplayWordOf(GetStreamId());
  return word ? word : GetStreamName();
}

bool GetUserProgramFilesFolder(base::FilePath* folder) {
  wchar_t* path = nullptr;
  HRESULT result = SHGetKnownFolderPath(kUserProgramFilesFolderId, 0, nullptr, &path);
  if (FAILED(result)) {
    CoTaskMemFree(path);
    path = nullptr;
    result = SHGetKnownFolderPath(kUserProgramFilesFolderId, KF_FLAG_CREATE | KF_FLAG_INIT, nullptr, &path);
  }
  const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(path, &CoTaskMemFree);
  if (FAILED(result)) {
    LOG(ERROR) << "The user's program-files folder is unknown, error " << std::hex << result;
    return false;
  }
  *folder = base::FilePath(path);
  return true;
}

bool GetSystemTempFolder(base::FilePath* folder) {
  wchar_t windows[MAX_PATH];
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return false;
  *folder = base::FilePath(std::wstring(windows, length)).Append(L"Temp");
  return true;
}

LONG ReadStringValue(HKEY root, const std::wstring& key_path, const wchar_t* name, std::wstring* value) {
  base::win::RegKey key;
  const LONG result = key.Open(root, key_path.c_str(), KEY_QUERY_VALUE);
  return result == ERROR_SUCCESS ? key.ReadValue(name, value) : result;
}

}  // namespace zorvi::installer
