#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/transactions/nested_access_grant.h"

namespace zorvi::installer {

namespace {

// What moving the file away and deleting it later need.
constexpr DWORD kDeleteAccess = DELETE | FILE_GENERIC_WRITE;
// Short temporary names tried in one folder within one second, for files whose usual one is too long.
constexpr int kShortNamesPerSecond = 1000;
// A file held for a moment by another opener (a scanner looks at every renamed file) is let go within these
// attempts.
constexpr int kMoveBackAttempts = 5;
constexpr DWORD kMoveBackRetryDelayMs = 100;

// The errors of a move that another opener may cause for a moment; any other is there to stay.
bool MayPass(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// "~<seconds in base 36>.old", then "~<seconds in base 36>.<n>": at most 11 characters, which fit beside the
// longest folder the system lets be created (247 characters), whatever the file's own name. The seconds are taken
// modulo 36^6 to keep six digits; a name in use is passed over anyway.
std::wstring ShortTemporaryName(int64_t seconds, int n) {
  seconds %= int64_t{36} * 36 * 36 * 36 * 36 * 36;
  std::wstring digits;
  do {
    digits.insert(digits.begin(), L"0123456789abcdefghijklmnopqrstuvwxyz"[seconds % 36]);
    seconds /= 36;
  } while (seconds > 0);
  return L"~" + digits + (n == 0 ? L".old" : L"." + std::to_wstring(n));
}

}  // namespace

DeleteFileOperation::DeleteFileOperation(const base::FilePath& path,
                                         bool check_in_use,
                                         const base::FilePath& empty_parents_root)
    : path_(path), check_in_use_(check_in_use), empty_parents_root_(empty_parents_root) {}

DeleteFileOperation::~DeleteFileOperation() {
  if (grant_)
    grant_->Forget();
  if (!moved_)
    return;
  VLOG(1) << "Actual removal of " << temporary_path_.value();
  // Only administrators may leave a deletion for the next restart: a per-user installation keeps the copy.
  if (!base::DeleteFile(temporary_path_, true) && !base::DeleteFileAfterReboot(temporary_path_))
    PLOG(ERROR) << "Could not remove " << temporary_path_.value() << " now or at the next restart";
  if (empty_parents_root_.empty())
    return;
  // A folder that is not empty refuses to go, which ends the walk; so does reaching the root.
  base::FilePath folder = path_.DirName();
  while (base::IsSameOrInsideFolder(folder, empty_parents_root_) &&
         !base::IsSameOrInsideFolder(empty_parents_root_, folder) && RemoveDirectoryW(folder.value().c_str())) {
    folder = folder.DirName();
  }
}

bool DeleteFileOperation::Do(OperationList* /*sub_operations*/) {
  VLOG(1) << "Preparing file " << path_.value() << " for removal";
  if (!base::PathExists(path_)) {
    VLOG(1) << "File does not exist. Nothing to do";
    return true;
  }
  const int64_t seconds = base::Time::Now().ToTimeT();
  temporary_path_ = path_.AddExtension(L"." + std::to_wstring(seconds) + L".old");
  // Beside a file at one of the longest paths that name would be refused, and the file could never be deleted:
  // a short name in the same folder keeps the move a rename. Other such files of the folder set aside in the same
  // second have taken the first ones.
  if (temporary_path_.value().length() >= MAX_PATH) {
    temporary_path_ = path_.DirName().Append(ShortTemporaryName(seconds, 0));
    for (int i = 1; i < kShortNamesPerSecond && base::PathExists(temporary_path_); ++i)
      temporary_path_ = path_.DirName().Append(ShortTemporaryName(seconds, i));
  }
  if (temporary_path_.value().length() >= MAX_PATH) {
    LOG(ERROR) << "No temporary name fits beside " << path_.value();
    return false;
  }
  if (base::PathExists(temporary_path_)) {
    LOG(ERROR) << "Temporary file with name" << temporary_path_.value() << "already exists";
    return false;
  }
  if (!HasWriteAccess(path_.value(), SE_FILE_OBJECT, kDeleteAccess)) {
    grant_ = NestedAccessGrant::Grant(path_.value(), SE_FILE_OBJECT, kDeleteAccess);
    if (!grant_) {
      LOG(ERROR) << "Cannot obtain proper permissions on the file";
      return false;
    }
  }
  if (IsFaultInjected(this, path_.value()) || !base::MoveUnsafe(path_, temporary_path_)) {
    LOG(ERROR) << "File removal failed";
    return false;
  }
  VLOG(1) << "File moved successfully to " << temporary_path_.value();
  if (check_in_use_ && IsInUse()) {
    LOG(ERROR) << "File removal failed";
    // A file that could not go back is still this deletion's: the rollback that follows the failure tries again,
    // and nothing removes it under its temporary name.
    moved_ = !MoveBack();
    return false;
  }
  moved_ = true;
  return true;
}

bool DeleteFileOperation::IsInUse() const {
  const std::wstring extension = path_.Extension();
  if (base::FilePath::CompareIgnoreCase(extension, L".exe") != 0 &&
      base::FilePath::CompareIgnoreCase(extension, L".dll") != 0) {
    return false;
  }
  const base::win::ScopedHandle file(CreateFileW(temporary_path_.value().c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Attempt to open the file for writing failed";
    return true;
  }
  return false;
}

bool DeleteFileOperation::MoveBack() {
  const int64_t seam = GetMoveBackRetryDelaySeam();
  const DWORD delay = seam >= 0 ? static_cast<DWORD>(seam) : kMoveBackRetryDelayMs;
  for (int attempt = 1;; ++attempt) {
    // Whatever stands at the path now came later (a moved file whose own rollback failed) and is never replaced.
    if (IsFaultInjected(this, temporary_path_.value()))
      SetLastError(ERROR_SHARING_VIOLATION);
    else if (::MoveFileExW(temporary_path_.value().c_str(), path_.value().c_str(), 0))
      return true;
    if (attempt == kMoveBackAttempts || !MayPass(GetLastError())) {
      PLOG(ERROR) << "Could not move " << temporary_path_.value() << " back to " << path_.value();
      return false;
    }
    Sleep(delay);
  }
}

void DeleteFileOperation::Rollback() {
  if (moved_) {
    // Once the file is back there is nothing left to remove at commit; if it cannot be moved back it stays
    // under its temporary name rather than being deleted with the transaction, and the file that took its name
    // stays too.
    if (!MoveBack()) {
      // The old access list belongs to the file kept aside, not to the one at the path.
      if (grant_)
        grant_->Forget();
    }
    moved_ = false;
  }
  grant_.reset();
}

}  // namespace zorvi::installer
