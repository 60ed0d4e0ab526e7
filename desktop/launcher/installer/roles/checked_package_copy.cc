#include "desktop/launcher/installer/roles/checked_package_copy.h"

#include <windows.h>

#include <sddl.h>

#include <string>
#include <utility>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/win/scoped_local_memory.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/package_fetcher/lzma_util.h"
#include "desktop/launcher/installer/package_fetcher/package_check.h"
#include "desktop/launcher/installer/package_fetcher/payload_reader.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kCopyFolderPrefix[] = L"Zorvi package ";
constexpr wchar_t kCopiedPackageName[] = L"package.exe";
constexpr wchar_t kCopiedArchiveName[] = L"package.7z";
constexpr wchar_t kUnpackedFolderName[] = L"package";
// Protected from inheritance: nothing the parent folder grants reaches the copy. The owner is the creating
// token's default owner, the administrators for an elevated token.
constexpr wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Others may read a file opened so, but neither write, rename nor delete it while it is open.
constexpr uint32_t kOthersOnlyRead = base::FileFlags::Open | base::FileFlags::Read | base::FileFlags::ExclusiveWrite;
// Data the user's run wrote beside its unpacked package, which the package's installer reads from its folder.
constexpr const wchar_t* kRunFiles[] = {kServerTrackingDataFileName, kInstallerPrefsIncludeFileName,
                                        kPrefDefaultOverridesFileName};
// Each of them is a few kilobytes; anything far larger is not one.
constexpr DWORD kMaximumRunFileSize = 1 << 20;

// Reads the user's run file `path` when it is a plain file with no other name: not a link, through which the
// user's run would have this process read what only administrators may read.
bool ReadPlainUserFile(const base::FilePath& path, std::string* contents) {
  base::win::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file.IsValid() || !GetFileInformationByHandle(file.Get(), &info))
    return false;
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks != 1 || info.nFileSizeHigh != 0 || info.nFileSizeLow > kMaximumRunFileSize) {
    LOG(ERROR) << "Not copying " << path.value() << ": not a plain file of its own";
    return false;
  }
  contents->resize(info.nFileSizeLow);
  DWORD read = 0;
  return contents->empty() ||
         (ReadFile(file.Get(), contents->data(), info.nFileSizeLow, &read, nullptr) && read == info.nFileSizeLow);
}

}  // namespace

CheckedPackageCopy::CheckedPackageCopy() = default;

CheckedPackageCopy::~CheckedPackageCopy() {
  held_files_.clear();
  folder_handle_.Close();
  if (folder_.empty())
    return;
  // What ran from the copy may be unmapped a moment after its process ended: about two seconds at most.
  for (int attempt = 0; !base::DeleteFile(folder_, true); ++attempt) {
    if (attempt == 100) {
      LOG(WARNING) << "Could not remove the package copy " << folder_.value();
      return;
    }
    Sleep(20);
  }
}

bool CheckedPackageCopy::Make(const base::FilePath& user_folder) {
  const base::FilePath package = PackageFileOf(user_folder);
  LOG(INFO) << "Copying the package " << package.value() << " into a folder of administrators";
  if (!CreatePrivateFolder()) {
    PLOG(ERROR) << "Could not make a folder for the package copy";
    return false;
  }
  if (!UnpackCheckedCopy(package))
    return false;
  CopyRunFiles(user_folder);
  return true;
}

base::FilePath CheckedPackageCopy::installer() const {
  return folder_.Append(kUnpackedFolderName).Append(kPackageInstallerFileName);
}

bool CheckedPackageCopy::CreatePrivateFolder() {
  base::FilePath temp;
  if (!base::PathService::Get(base::kTempDir, &temp))
    return false;
  base::win::ScopedLocalMemory<> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1, descriptor.Receive(),
                                                            nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
  // A name taken already (by anyone) is never reused: only a folder this process made is its own.
  for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
    const base::FilePath candidate = temp.Append(kCopyFolderPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                 std::to_wstring(GetTickCount64() + static_cast<ULONGLONG>(attempt)));
    if (CreateDirectoryW(candidate.value().c_str(), &attributes))
      folder_ = candidate;
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  // Freed before the folder is opened: the caller logs the open's error, which a later free could change.
  descriptor.Close();
  if (folder_.empty())
    return false;
  folder_handle_.Set(CreateFileW(folder_.value().c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr));
  return folder_handle_.IsValid();
}

bool CheckedPackageCopy::UnpackCheckedCopy(const base::FilePath& package) {
  if (const PackageFileUseHook hook = GetPackageFileUseHook())
    hook(package);
  const base::FilePath copy = folder_.Append(kCopiedPackageName);
  if (!base::CopyFile(package, copy)) {
    PLOG(ERROR) << "Could not copy the package " << package.value();
    return false;
  }
  // Every check and the archive read through this one handle, which only lets others read the copy.
  base::MemoryMappedFile mapped;
  mapped.Initialize(base::File(copy, kOthersOnlyRead));
  base::FilePath own_executable;
  if (!base::PathService::Get(base::kExeFile, &own_executable))
    own_executable.clear();
  PackageProbeAnswers answers;
  if (const char* failure = CheckHeldPackage(mapped, copy, nullptr, own_executable, &answers)) {
    LOG(ERROR) << "Refusing the package " << package.value() << ": " << failure;
    return false;
  }
  PayloadReader reader(&mapped);
  if (!reader.ReadPayload() || !reader.is_full_package()) {
    LOG(ERROR) << "Refusing the package " << package.value() << ": it carries no archive";
    return false;
  }
  const base::FilePath archive_path = folder_.Append(kCopiedArchiveName);
  base::File archive(archive_path, base::FileFlags::CreateAlways | base::FileFlags::Read | base::FileFlags::Write |
                                       base::FileFlags::ExclusiveWrite);
  if (!archive.IsValid() || !reader.WritePayloadToFile(&archive)) {
    LOG(ERROR) << "Could not write the archive of the package copy";
    return false;
  }
  LzmaUtil lzma;
  lzma.set_files_to_hold({kPackageInstallerFileName, kPackageLibraryFileName});
  const bool unpacked =
      lzma.OpenArchive(std::move(archive)) == 0 && lzma.UnPack(folder_.Append(kUnpackedFolderName)) == 0;
  held_files_ = lzma.TakeHeldFiles();
  lzma.CloseArchive();
  base::DeleteFile(archive_path, false);
  if (!unpacked || held_files_.size() != 2) {
    LOG(ERROR) << "Could not unpack the package copy";
    return false;
  }
  return true;
}

void CheckedPackageCopy::CopyRunFiles(const base::FilePath& user_folder) {
  for (const wchar_t* name : kRunFiles) {
    const base::FilePath source = user_folder.Append(name);
    std::string contents;
    if (!base::PathExists(source) || !ReadPlainUserFile(source, &contents))
      continue;
    const base::FilePath target = folder_.Append(kUnpackedFolderName).Append(name);
    const int size = static_cast<int>(contents.size());
    if (base::WriteFile(target, contents.data(), size) != size)
      LOG(WARNING) << "Could not copy " << source.value();
  }
}

base::FilePath PackageFileOf(const base::FilePath& folder) {
  const base::FilePath download = folder.AddExtension(L"exe");
  base::FilePath own_executable;
  if (base::PathExists(download) || !base::PathService::Get(base::kExeFile, &own_executable))
    return download;
  return own_executable;
}

}  // namespace zorvi::installer
