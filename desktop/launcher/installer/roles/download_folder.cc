#include "desktop/launcher/installer/roles/download_folder.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/stringprintf.h"
#include "base/time/time.h"
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

constexpr wchar_t kPackageNamePrefix[] = L"zorvi_installer_";
constexpr wchar_t kClaimExtension[] = L".lock";
// The files of a package besides its unpack folder and its claim.
constexpr const wchar_t* kPackageFileExtensions[] = {L".exe", L".7z", L".partner.tmp"};
// Digits of the local time in a package name: year, month, day, hour, minute, second.
constexpr size_t kTimeDigits = 14;

bool IsDigits(std::wstring_view text) {
  return !text.empty() && text.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

// The package name (see MakePackageName) that the download folder's entry `entry` belongs to, or empty. Names
// of other forms (the installer's logs, the window's lock, packages of installers that made no claim) are none.
std::wstring PackageNameOf(const std::wstring& entry) {
  const std::wstring_view prefix = kPackageNamePrefix;
  if (entry.compare(0, prefix.size(), prefix) != 0)
    return std::wstring();
  const size_t dot = entry.find(L'.', prefix.size());
  const std::wstring name = entry.substr(0, dot);
  if (dot != std::wstring::npos) {
    const std::wstring_view extension = std::wstring_view(entry).substr(dot);
    bool known = extension == kClaimExtension;
    for (const wchar_t* package_extension : kPackageFileExtensions)
      known = known || extension == package_extension;
    if (!known)
      return std::wstring();
  }
  // <local time>_<process id>_<number>
  const std::wstring_view rest = std::wstring_view(name).substr(prefix.size());
  const size_t first = rest.find(L'_');
  const size_t second = first == std::wstring_view::npos ? first : rest.find(L'_', first + 1);
  if (second == std::wstring_view::npos || first != kTimeDigits || !IsDigits(rest.substr(0, first)) ||
      !IsDigits(rest.substr(first + 1, second - first - 1)) || !IsDigits(rest.substr(second + 1))) {
    return std::wstring();
  }
  return name;
}

}  // namespace

std::wstring MakePackageName() {
  static std::atomic<unsigned> names_made{0};
  base::Time::Exploded now;
  base::Time::Now().LocalExplode(&now);
  return base::StringPrintf(L"%ls%04d%02d%02d%02d%02d%02d_%lu_%u", kPackageNamePrefix, now.year, now.month,
                            now.day_of_month, now.hour, now.minute, now.second, GetCurrentProcessId(),
                            names_made++);
}

base::win::ScopedHandle ClaimPackage(const base::FilePath& package) {
  const base::FilePath claim = package.AddExtension(kClaimExtension);
  // No sharing: nobody can open or delete it while a handle of the run is open, and the last one's close, the
  // system's at the end of a killed process too, deletes it.
  base::win::ScopedHandle handle(CreateFileW(claim.value().c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                                             nullptr));
  if (!handle.IsValid())
    PLOG(ERROR) << "Cannot claim " << claim.value();
  return handle;
}

void RemoveAbandonedPackages(const base::FilePath& download_folder) {
  std::set<std::wstring> names;
  base::FileEnumerator entries(download_folder, false, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               std::wstring(kPackageNamePrefix) + L"*");
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    std::wstring name = PackageNameOf(entry.BaseName().value());
    if (!name.empty())
      names.insert(std::move(name));
  }
  for (const std::wstring& name : names) {
    const base::FilePath package = download_folder.Append(name);
    // A run makes its claim before its other files, so files without a claim have no living owner. A claim that
    // can be deleted is held by nobody: its run ended without its close deleting it (the system stopped).
    const base::FilePath claim = package.AddExtension(kClaimExtension);
    if (!DeleteFileW(claim.value().c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
      VLOG(1) << "Package of a running installer: " << package.value();
      continue;
    }
    LOG(INFO) << "Removing the package of an installer run that ended: " << package.value();
    for (const wchar_t* extension : kPackageFileExtensions) {
      if (!base::DeleteFile(package.AddExtension(extension), false))
        PLOG(WARNING) << "Cannot delete " << package.AddExtension(extension).value();
    }
    if (!base::DeleteFile(package, true))
      PLOG(WARNING) << "Cannot delete " << package.value();
  }
}

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
  if (!base::DeleteFile(copy, false))
    PLOG(WARNING) << "Cannot delete " << copy.value();
  return started;
}

}  // namespace zorvi::installer
