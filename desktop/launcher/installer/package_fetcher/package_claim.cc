#include "desktop/launcher/installer/package_fetcher/package_claim.h"

#include <windows.h>

#include <atomic>
#include <set>
#include <string_view>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/time/time.h"

namespace zorvi::installer {

namespace {

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

}  // namespace zorvi::installer
