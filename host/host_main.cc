// The installer's host executable: loads zorvi.dll and runs RunInstaller. Installer processes judge each other by
// the exit code, so success must be 0.
//
// Where the library comes from. The host never loads code from a folder that users other than the one running
// it (and the system and administrators) may write into, since anyone who can put a file there could run code
// as this user, or elevated:
// - zorvi.dll beside the executable (an installation, an unpacked package) only when neither the folder nor the
//   file grants such writes;
// - otherwise the copy of the library the host carries as a resource: the installer that is downloaded and run
//   alone (in the Downloads folder, a shared folder, the download folder's probes) writes it into a new folder of
//   its own under the user's temporary folder, made with an access list for the user, the system and the
//   administrators only, and loads it from there. A loaded library's file cannot be deleted while its process
//   runs: the library starts the host again in its removal role as the process ends, which loads no library,
//   waits for that process to end, deletes its copy and folder through the handles it inherited, then every
//   earlier copy no running process holds. Each start removes such copies too. A probe, which only prints one
//   value, unloads its copy once it has and deletes it itself: the process that started it deletes the probe's
//   program as soon as it ends, which a removal helper started from that program would still be running.
// Either file is held open against writes and deletion from the check to the load.
#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "base/win/scoped_local_memory.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/roles/probe_command_line.h"
#include "writable_by_others.h"

namespace {

// Exit codes of the host itself; 0 and 1 are the entry's result.
enum HostExitCode : int {
  kInstallerSucceeded = 0,
  kInstallerFailed = 1,
  kLibraryNotLoaded = 2,
  kEntryNotFound = 3,
};

constexpr wchar_t kLibraryName[] = L"zorvi.dll";
constexpr wchar_t kCarriedLibraryResource[] = L"LIBRARY";
constexpr wchar_t kPrivateFolderPrefix[] = L"Zorvi library ";

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedFile = std::unique_ptr<void, HandleCloser>;

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

// Opens `path` for reading, sharing `share` (never deletion or renaming); null when it cannot be.
ScopedFile OpenForReading(const std::wstring& path, DWORD share) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  return ScopedFile(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// Opens `path` for reading while nobody may write, rename or delete it; null when it cannot be.
ScopedFile OpenHeldAgainstWrites(const std::wstring& path) {
  return OpenForReading(path, FILE_SHARE_READ);
}

// Whether the object's owner or access list lets someone other than the user, the system, the administrators or
// the system's installer service write into it, replace it or change who may. Unreadable counts as writable.
bool OthersMayWrite(HANDLE object, const host::SidBytes& user_sid) {
  std::vector<BYTE> descriptor = host::ReadOwnerAndAccessList(object);
  return descriptor.empty() || host::OthersMayWrite(descriptor.data(), user_sid);
}

// The library beside the executable, held open, when its folder and itself admit no other writer.
ScopedFile OpenLibraryBesideUs(const std::wstring& folder, const host::SidBytes& user_sid) {
  ScopedFile library = OpenHeldAgainstWrites(folder + kLibraryName);
  if (!library)
    return nullptr;
  HANDLE folder_handle = CreateFileW(folder.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                     FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder_handle == INVALID_HANDLE_VALUE)
    return nullptr;
  ScopedFile folder_holder(folder_handle);
  if (OthersMayWrite(folder_handle, user_sid) || OthersMayWrite(library.get(), user_sid)) {
    fprintf(stderr, "Not loading %ls%ls: other users may write there\n", folder.c_str(), kLibraryName);
    return nullptr;
  }
  return library;
}

// Opens `path` itself, never what a link there leads to, for deletion; null for a link or when it cannot be.
ScopedFile OpenForDeletion(const std::wstring& path, DWORD flags) {
  HANDLE handle = CreateFileW(path.c_str(), DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
  ScopedFile opened(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
  BY_HANDLE_FILE_INFORMATION info = {};
  if (opened && (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))
    opened.reset();
  return opened;
}

// The volume and index of an open file, which name it whatever its path; zero when they cannot be read.
ULONGLONG FileIndex(HANDLE file, DWORD* volume) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info))
    return 0;
  *volume = info.dwVolumeSerialNumber;
  return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// Removes the copies that earlier runs left in `temp` (a copy still mapped by a running host stays).
void RemoveEarlierCopies(const std::wstring& temp) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((temp + kPrivateFolderPrefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    const std::wstring folder = temp + found.cFileName + L"\\";
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && DeleteFileW((folder + kLibraryName).c_str()))
      RemoveDirectoryW(folder.c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// `sid` as SDDL text, for the private folder's access list; empty when it cannot be spelt.
std::wstring SidText(const host::SidBytes& sid) {
  wchar_t* text = nullptr;
  if (sid.empty() || !ConvertSidToStringSidW(const_cast<BYTE*>(sid.data()), &text))
    return std::wstring();
  const base::win::ScopedLocalMemory<wchar_t> text_holder(text);
  return text;
}

// Writes the carried library into a new private folder under the user's temporary folder and returns its path
// with the file held open, its contents checked against the resource; empty when it cannot be done. *folder_held
// receives the folder as made, open for deletion. The security library loads here, on first use: the library
// beside the host is judged without it.
std::wstring WriteCarriedLibrary(const host::SidBytes& user, ScopedFile* held, ScopedFile* folder_held) {
  HRSRC resource = FindResourceW(nullptr, kCarriedLibraryResource, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = resource ? SizeofResource(nullptr, resource) : 0;
  wchar_t temp_buffer[MAX_PATH + 1];
  const DWORD temp_length = GetTempPathW(MAX_PATH + 1, temp_buffer);
  const std::wstring user_sid = bytes && size > 0 ? SidText(user) : std::wstring();
  if (user_sid.empty() || temp_length == 0 || temp_length > MAX_PATH)
    return std::wstring();
  const std::wstring temp(temp_buffer, temp_length);
  RemoveEarlierCopies(temp);

  // Protected from inheritance, so that nothing the temporary folder grants reaches the copy.
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + user_sid + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &attributes.lpSecurityDescriptor, nullptr)) {
    return std::wstring();
  }
  const base::win::ScopedLocalMemory<> descriptor_holder(attributes.lpSecurityDescriptor);
  // A name taken already (by anyone) is never reused: only a folder this process made is private.
  std::wstring folder;
  for (int attempt = 0; folder.empty() && attempt < 100; ++attempt) {
    const std::wstring candidate = temp + kPrivateFolderPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetTickCount64() + static_cast<ULONGLONG>(attempt)) + L"\\";
    if (CreateDirectoryW(candidate.c_str(), &attributes))
      folder = candidate;
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
      return std::wstring();
  }
  *folder_held = folder.empty() ? nullptr : OpenForDeletion(folder, FILE_FLAG_BACKUP_SEMANTICS);
  const std::wstring path = folder + kLibraryName;
  HANDLE file = !*folder_held ? INVALID_HANDLE_VALUE
                              : CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0,
                                            nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::wstring();
  DWORD written = 0;
  const bool complete = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  // Another host starting now clears the copies it can delete. The hold below shares no writing, so it can only
  // be opened once the writer is closed: a reader sharing no deletion spans that moment.
  ScopedFile bridge = complete ? OpenForReading(path, FILE_SHARE_READ | FILE_SHARE_WRITE) : nullptr;
  CloseHandle(file);
  *held = bridge ? OpenHeldAgainstWrites(path) : nullptr;
  bridge.reset();
  // What is loaded is what the host carries, whatever happened between the write and the hold.
  std::string check(size + 1, '\0');
  DWORD read = 0;
  if (!*held || !ReadFile(held->get(), check.data(), size + 1, &read, nullptr) || read != size ||
      std::memcmp(check.data(), bytes, size) != 0) {
    held->reset();
    return std::wstring();
  }
  return path;
}

// The removal role's handles, "<process>,<file>,<folder>", when the command line is the program and
// "--remove-carried-library=" with them, as the library writes it; else null.
const wchar_t* RemovalArgument() {
  const wchar_t* rest = GetCommandLineW();
  if (*rest == L'"') {
    rest = std::wcschr(rest + 1, L'"');
    if (!rest)
      return nullptr;
    ++rest;
  } else {
    while (*rest && *rest != L' ' && *rest != L'\t')
      ++rest;
  }
  while (*rest == L' ' || *rest == L'\t')
    ++rest;
  std::wstring prefix = L"--";
  for (const char* c = zorvi::installer::kRemoveCarriedLibrarySwitch; *c; ++c)
    prefix += static_cast<wchar_t>(*c);
  prefix += L'=';
  return std::wcsncmp(rest, prefix.c_str(), prefix.size()) == 0 ? rest + prefix.size() : nullptr;
}

// Deletes the file or empty folder `handle` was opened for, retrying for about two seconds: the system may unmap
// an ended process's library a moment after its end is signalled.
bool DeleteThroughHandle(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)))
      return true;
    Sleep(20);
  }
  return false;
}

// A probe's end (see the top of the file): unloads `library`, the carried copy at `path` whose file had the index
// `index` on `volume`, and deletes it and its `folder` through handles. Nothing of the library runs once the probe
// has printed its value.
void RemoveProbesCopy(HMODULE library, const std::wstring& path, DWORD volume, ULONGLONG index, HANDLE folder) {
  FreeLibrary(library);
  if (GetModuleHandleW(path.c_str())) {
    fprintf(stderr, "Leaving %ls: it is still loaded\n", path.c_str());
    return;
  }
  ScopedFile file = OpenForDeletion(path, 0);
  DWORD opened_volume = 0;
  // A file put in the copy's place since (only its own user can) is left alone.
  if (file && (FileIndex(file.get(), &opened_volume) != index || opened_volume != volume ||
               !DeleteThroughHandle(file.get()))) {
    fprintf(stderr, "Leaving %ls (error %lu)\n", path.c_str(), GetLastError());
    return;
  }
  file.reset();
  if (!DeleteThroughHandle(folder))
    fprintf(stderr, "Leaving the folder of %ls (error %lu)\n", path.c_str(), GetLastError());
}

// Removes the copy of an ended process of the run (see the top of the file). Exit code 0 when it is gone.
int RemoveCarriedLibrary(const wchar_t* handles) {
  unsigned long long values[3] = {};
  if (swscanf(handles, L"%llu,%llu,%llu", &values[0], &values[1], &values[2]) != 3)
    return kInstallerFailed;
  const auto process = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(values[0]));
  const auto file = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(values[1]));
  const auto folder = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(values[2]));
  if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0)
    return kInstallerFailed;
  const bool file_deleted = DeleteThroughHandle(file);
  CloseHandle(file);  // the deletion happens as its last handle closes
  const bool folder_deleted = file_deleted && DeleteThroughHandle(folder);
  CloseHandle(folder);
  wchar_t temp[MAX_PATH + 1];
  const DWORD temp_length = GetTempPathW(MAX_PATH + 1, temp);
  if (temp_length > 0 && temp_length <= MAX_PATH)
    RemoveEarlierCopies(temp);
  return folder_deleted ? kInstallerSucceeded : kInstallerFailed;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (const wchar_t* handles = RemovalArgument())
    return RemoveCarriedLibrary(handles);
  const host::SidBytes user_sid = host::UserSid();
  const std::wstring own_folder = OwnFolder();
  std::wstring library_path = own_folder + kLibraryName;
  ScopedFile held = OpenLibraryBesideUs(own_folder, user_sid);
  ScopedFile copy_folder;
  if (!held)
    library_path = WriteCarriedLibrary(user_sid, &held, &copy_folder);
  // Only the file checked above, by its full path, never one found on the search path.
  HMODULE library =
      held ? LoadLibraryExW(library_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
  if (!library) {
    fprintf(stderr, "Cannot load %ls (error %lu)\n", (own_folder + kLibraryName).c_str(), GetLastError());
    return kLibraryNotLoaded;
  }
  DWORD copy_volume = 0;
  const ULONGLONG copy_index = copy_folder ? FileIndex(held.get(), &copy_volume) : 0;
  if (zorvi::installer::PlainProbeSwitch(GetCommandLineW()).empty() || copy_index == 0)
    copy_folder.reset();  // the library removes its copy (see the top of the file)
  held.reset();
  using RunInstallerFunction = bool (*)();
  auto run_installer = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "RunInstaller")));
  if (!run_installer) {
    fprintf(stderr, "%ls has no entry RunInstaller\n", library_path.c_str());
    return kEntryNotFound;
  }
  const bool succeeded = run_installer();
  if (copy_folder)
    RemoveProbesCopy(library, library_path, copy_volume, copy_index, copy_folder.get());
  return succeeded ? kInstallerSucceeded : kInstallerFailed;
}
