#include "desktop/launcher/installer/roles/carried_library_removal.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/installer_switches.h"

// The start of the module this code is linked into (the linker defines it for every image).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace zorvi::installer {

namespace {

// Opens `path` itself (never what a link there leads to) for deletion; invalid for a link.
base::win::ScopedHandle OpenForDeletion(const base::FilePath& path, DWORD access, DWORD flags) {
  base::win::ScopedHandle handle(CreateFileW(path.value().c_str(), DELETE | SYNCHRONIZE | access,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (handle.IsValid() &&
      (!GetFileInformationByHandle(handle.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
    handle.Close();
  }
  return handle;
}

// Whether `file` begins with this module's headers up to its file header (which holds its build time): the file
// opened is the copy this process loaded, not one put at its path since.
bool HoldsThisModule(HANDLE file) {
  const auto* image = reinterpret_cast<const BYTE*>(&__ImageBase);
  const size_t compared = static_cast<size_t>(__ImageBase.e_lfanew) + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
  if (compared > 4096)
    return false;
  std::vector<BYTE> bytes(compared);
  DWORD read = 0;
  return ReadFile(file, bytes.data(), static_cast<DWORD>(compared), &read, nullptr) && read == compared &&
         std::memcmp(bytes.data(), image, compared) == 0;
}

}  // namespace

CarriedLibraryRemoval::~CarriedLibraryRemoval() {
  base::FilePath executable;
  base::FilePath library;
  if (!base::PathService::Get(base::kModuleFile, &library) || !base::PathService::Get(base::kExeFile, &executable) ||
      base::FilePath::CompareIgnoreCase(library.DirName().value(), executable.DirName().value()) == 0) {
    return;  // the library beside the host, which belongs to its folder
  }
  base::win::ScopedHandle file = OpenForDeletion(library, FILE_READ_DATA, 0);
  base::win::ScopedHandle folder = OpenForDeletion(library.DirName(), 0, FILE_FLAG_BACKUP_SEMANTICS);
  HANDLE process = nullptr;
  if (!file.IsValid() || !HoldsThisModule(file.Get()) || !folder.IsValid() ||
      !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process, SYNCHRONIZE, FALSE,
                       0)) {
    PLOG(WARNING) << "Leaving the library copy " << library.value() << " to a later run";
    return;
  }
  const base::win::ScopedHandle process_holder(process);
  base::CommandLine command_line(executable);
  command_line.AppendSwitchASCII(kRemoveCarriedLibrarySwitch,
                                 std::to_string(reinterpret_cast<uintptr_t>(process)) + "," +
                                     std::to_string(reinterpret_cast<uintptr_t>(file.Get())) + "," +
                                     std::to_string(reinterpret_cast<uintptr_t>(folder.Get())));
  std::vector<HANDLE> inherited = {process, file.Get(), folder.Get()};
  base::LaunchOptions options;
  options.handles_to_inherit = &inherited;
  if (!base::LaunchProcess(command_line, options).IsValid())
    PLOG(WARNING) << "Leaving the library copy " << library.value() << " to a later run";
}

}  // namespace zorvi::installer
