#include "desktop/launcher/installer/roles/download_folder.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/native_library.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/test_seams.h"

namespace zorvi::installer {

namespace {

using GetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

// The Downloads known folder, asked for as it is and then with creation, which makes it when a profile never had
// one. The function is looked up in the shell's library when it is asked for: a system without it (older than
// Vista) has no such folder, and this candidate fails.
bool GetDownloadsKnownFolder(base::FilePath* folder) {
  const base::win::ScopedNativeLibrary shell32(base::win::LoadSystemLibrary(L"shell32.dll"));
  const auto get_known_folder_path =
      reinterpret_cast<GetKnownFolderPathFunction>(shell32.GetFunctionPointer("SHGetKnownFolderPath"));
  if (!get_known_folder_path)
    return false;
  for (const DWORD flags : {DWORD{0}, DWORD{KF_FLAG_CREATE | KF_FLAG_INIT}}) {
    PWSTR path = nullptr;
    const HRESULT result = get_known_folder_path(FOLDERID_Downloads, flags, nullptr, &path);
    // Freed also after a failure, which may hand out a string.
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(path, &CoTaskMemFree);
    if (SUCCEEDED(result) && path) {
      *folder = base::FilePath(path);
      return true;
    }
  }
  return false;
}

// Only tests refuse a start before it is tried, standing for a machine whose policy forbids running programs from
// that folder.
bool LaunchRefusedForTesting(const base::FilePath& program) {
  const LaunchRefusalHook hook = GetLaunchRefusalHook();
  return hook && hook(program);
}

}  // namespace

bool ChooseDownloadFolder(const std::wstring& subfolder, const base::FilePath& executable, base::FilePath* folder) {
  if (TryDownloadFolderUnderPathKey(subfolder, executable, folder, base::kTempDir))
    return true;
  if (TryDownloadsKnownFolder(subfolder, executable, folder))
    return true;
  if (TryDownloadFolderUnderPathKey(subfolder, executable, folder, base::kHomeDir))
    return true;
  return TryDownloadFolderUnderPathKey(subfolder, executable, folder, base::kExeDir);
}

bool TryDownloadFolder(const std::wstring& subfolder, const base::FilePath& executable, base::FilePath* folder) {
  *folder = folder->Append(subfolder);
  // No log line here: the log file's own folder is made this way before logging starts.
  if (!base::DirectoryExists(*folder) && !base::CreateDirectory(*folder))
    return false;
  if (executable.empty())
    return true;
  if (CanExecuteFromFolder(*folder, executable))
    return true;
  // Leaves a folder that was there with other files in it.
  RemoveDirectoryW(folder->value().c_str());
  return false;
}

bool TryDownloadFolderUnderPathKey(const std::wstring& subfolder, const base::FilePath& executable,
                                   base::FilePath* folder, int path_key) {
  return base::PathService::Get(path_key, folder) && TryDownloadFolder(subfolder, executable, folder);
}

bool TryDownloadsKnownFolder(const std::wstring& subfolder, const base::FilePath& executable,
                             base::FilePath* folder) {
  return GetDownloadsKnownFolder(folder) && TryDownloadFolder(subfolder, executable, folder);
}

bool CanExecuteFromFolder(const base::FilePath& folder, const base::FilePath& executable) {
  const base::FilePath copy = folder.Append(executable.BaseName());
  if (!base::CopyFile(executable, copy)) {
    LOG(WARNING) << "Cannot copy " << executable.value() << " to " << folder.value();
    return false;
  }
  // Held until it has run, with others allowed only to read it: in a folder others may write (a temporary folder
  // someone made before this run, a shared Downloads folder) the copy could otherwise be replaced between the copy
  // and its start, and an elevated run would start what was put there. What is held must be the installer's bytes.
  base::win::ScopedHandle held(CreateFileW(copy.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.IsValid() || !base::ContentsEqual(executable, copy)) {
    LOG(WARNING) << "The copy in " << folder.value() << " is not the installer's own, or cannot be held";
    held.Close();
    base::DeleteFile(copy, false);
    return false;
  }
  base::CommandLine command_line(copy);
  command_line.AppendSwitch(kVersionSwitch);
  // The copy answers on its standard output, which would otherwise be this process's: a tool that runs the
  // installer and reads its output would take the copy's version for the installer's answer. Nothing reads it.
  // Made inheritable by the launch, for the launch only.
  const base::win::ScopedHandle nowhere(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!nowhere.IsValid()) {
    PLOG(WARNING) << "Cannot open the null device for the copy's output";
    held.Close();
    base::DeleteFile(copy, false);
    return false;
  }
  std::vector<HANDLE> inherited = {nowhere.Get()};
  base::LaunchOptions options;
  options.wait = true;
  options.handles_to_inherit = &inherited;
  options.stdin_handle = options.stdout_handle = options.stderr_handle = nowhere.Get();
  const bool started = !LaunchRefusedForTesting(copy) && base::LaunchProcess(command_line, options).IsValid();
  if (!started)
    LOG(WARNING) << "Programs cannot run from " << folder.value();
  held.Close();
  if (!base::DeleteFile(copy, false))
    PLOG(WARNING) << "Cannot delete " << copy.value();
  return started;
}

}  // namespace zorvi::installer
