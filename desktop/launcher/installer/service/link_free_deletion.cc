#include "desktop/launcher/installer/service/link_free_deletion.h"

#include <windows.h>

#include <winternl.h>

#include <cstdint>
#include <string>
#include <utility>

#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

namespace {

// The native open's options: the entry itself where it is a link, opened as a backup program would, synchronously.
constexpr ULONG kOpenOptions = 0x00200000 /* FILE_OPEN_REPARSE_POINT */ | 0x00004000 /* FILE_OPEN_FOR_BACKUP_INTENT */ |
                               0x00000020 /* FILE_SYNCHRONOUS_IO_NONALERT */;
constexpr ULONG kFileOpen = 1;
// Others may read and write what is being deleted, but not rename, replace or delete it.
constexpr DWORD kHoldingShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);

// Opens `name`, one component, inside the folder open as `parent`: the relative open cannot be led elsewhere by
// a folder renamed or replaced on the way to it.
base::win::ScopedHandle OpenBelow(HANDLE parent, const std::wstring& name, DWORD access) {
  // Looked up once: a walk opens every entry of a tree.
  static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  static const auto create = reinterpret_cast<NtCreateFileFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
  static const auto to_error = reinterpret_cast<NtStatusToErrorFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  if (!create || !to_error || name.empty() || name.size() > 32767) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return base::win::ScopedHandle();
  }
  UNICODE_STRING native_name;
  native_name.Buffer = const_cast<wchar_t*>(name.c_str());
  native_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  native_name.MaximumLength = native_name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &native_name, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK status_block = {};
  HANDLE handle = nullptr;
  const NTSTATUS status =
      create(&handle, access, &attributes, &status_block, nullptr, 0, kHoldingShare, kFileOpen, kOpenOptions, nullptr, 0);
  if (status < 0) {
    SetLastError(to_error(status));
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(handle);
}

// Whether the handle is open on a link (any reparse point) itself.
bool IsLinkHandle(HANDLE object) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  return !GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof(tag)) ||
         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void CallCheckedPathUseHook(const base::FilePath& path) {
  if (const CheckedPathUseHook hook = GetCheckedPathUseHook())
    hook(path);
}

void Fail(std::string* problem, const base::FilePath& path, const std::string& why) {
  if (problem->empty())
    *problem = path.AsUTF8() + " " + why;
}

// An entry of a folder as its listing gave it.
struct ListedEntry {
  std::wstring name;
  DWORD attributes = 0;
  int64_t file_id = 0;
};

bool ListFolder(HANDLE folder, std::vector<ListedEntry>* entries) {
  alignas(LONGLONG) BYTE buffer[16384];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer))) {
    kind = FileIdBothDirectoryInfo;
    for (size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..")
        entries->push_back({std::move(name), entry->FileAttributes, entry->FileId.QuadPart});
      if (entry->NextEntryOffset == 0)
        break;
      offset += entry->NextEntryOffset;
    }
  }
  return GetLastError() == ERROR_NO_MORE_FILES;
}

int64_t FileIdOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return static_cast<int64_t>((uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow);
}

}  // namespace

base::win::ScopedHandle OpenLinkFreeFolder(const base::FilePath& path, LinkFreePath* above, std::string* problem) {
  if (!above->Hold(path, false, problem))
    return base::win::ScopedHandle();
  base::win::ScopedHandle folder(CreateFileW(path.value().c_str(), kFolderAccess, kHoldingShare, nullptr,
                                             OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!folder.IsValid() || !GetFileInformationByHandle(folder.Get(), &information) ||
      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *problem = path.AsUTF8() + " cannot be opened as a folder (error " + std::to_string(GetLastError()) + ")";
    return base::win::ScopedHandle();
  }
  if (IsLinkHandle(folder.Get()) || PathNamesLink(path)) {
    *problem = path.AsUTF8() + " is a link (a reparse point)";
    return base::win::ScopedHandle();
  }
  return folder;
}

base::win::ScopedHandle OpenInsideFolder(HANDLE folder, const base::FilePath& folder_path,
                                         const std::vector<std::wstring>& components,
                                         std::vector<base::win::ScopedHandle>* held, std::string* problem) {
  HANDLE parent = folder;
  base::FilePath path = folder_path;
  for (size_t i = 0; i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    path = path.Append(components[i]);
    base::win::ScopedHandle entry = OpenBelow(parent, components[i], last ? kDeleteAccess : kFolderAccess);
    BY_HANDLE_FILE_INFORMATION information;
    if (!entry.IsValid() || !GetFileInformationByHandle(entry.Get(), &information)) {
      Fail(problem, path, "cannot be opened (error " + std::to_string(GetLastError()) + ")");
      return base::win::ScopedHandle();
    }
    if (IsLinkHandle(entry.Get()) || PathNamesLink(path)) {
      Fail(problem, path, "is a link (a reparse point)");
      SetLastError(kPathThroughLinkError);
      return base::win::ScopedHandle();
    }
    if (last)
      return entry;
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      Fail(problem, path, "is no folder");
      SetLastError(ERROR_DIRECTORY);
      return base::win::ScopedHandle();
    }
    held->push_back(std::move(entry));
    parent = held->back().Get();
  }
  Fail(problem, path, "names no entry inside the folder");
  SetLastError(ERROR_INVALID_NAME);
  return base::win::ScopedHandle();
}

bool DeleteThroughHandle(HANDLE object) {
  FILE_BASIC_INFO basic = {};
  if (!GetFileInformationByHandleEx(object, FileBasicInfo, &basic, sizeof(basic)))
    return false;
  if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
    // No attribute left is said as "normal" alone: none at all would mean no change.
    FILE_BASIC_INFO writable = {};
    const DWORD attributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    writable.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(object, FileBasicInfo, &writable, sizeof(writable)))
      return false;
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(object, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool DeleteOpenFolder(HANDLE folder) {
  // Opened for deletion only now: a folder that is some process's current folder cannot be, yet can be emptied.
  const base::win::ScopedHandle deletable(ReOpenFile(folder, kDeleteAccess, kHoldingShare | FILE_SHARE_DELETE,
                                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  return deletable.IsValid() && DeleteThroughHandle(deletable.Get());
}

bool DeleteFolderContents(HANDLE folder, const base::FilePath& path, std::string* problem) {
  std::vector<ListedEntry> entries;
  if (!ListFolder(folder, &entries)) {
    Fail(problem, path, "cannot be listed (error " + std::to_string(GetLastError()) + ")");
    return false;
  }
  bool all = true;
  for (const ListedEntry& listed : entries) {
    const base::FilePath entry_path = path.Append(listed.name);
    CallCheckedPathUseHook(entry_path);
    const bool link = (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool is_folder = !link && (listed.attributes & FILE_ATTRIBUTE_DIRECTORY);
    base::win::ScopedHandle entry = OpenBelow(folder, listed.name, kDeleteAccess | (is_folder ? kFolderAccess : 0));
    BY_HANDLE_FILE_INFORMATION information;
    if (!entry.IsValid() || !GetFileInformationByHandle(entry.Get(), &information)) {
      Fail(problem, entry_path, "cannot be opened (error " + std::to_string(GetLastError()) + ")");
      all = false;
      continue;
    }
    // What was listed is what was opened: the same object, a link as itself. Where a link cannot be opened as
    // itself, it stays.
    const bool opened_folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (FileIdOf(information) != listed.file_id || IsLinkHandle(entry.Get()) != link ||
        (!link && opened_folder != is_folder)) {
      Fail(problem, entry_path, "changed while the folder was deleted, or is a link that cannot be opened as itself");
      all = false;
      continue;
    }
    if (is_folder && !DeleteFolderContents(entry.Get(), entry_path, problem))
      all = false;
    else if (!DeleteThroughHandle(entry.Get())) {
      Fail(problem, entry_path, "cannot be deleted (error " + std::to_string(GetLastError()) + ")");
      all = false;
    }
  }
  return all;
}

}  // namespace zorvi::installer
