#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/transactions/nested_access_grant.h"

namespace zorvi::installer {

namespace {

// What moving the file away and deleting it later need.
constexpr DWORD kDeleteAccess = DELETE | FILE_GENERIC_WRITE;
// Short temporary names tried in one folder within one second, for files whose usual one is too long.
constexpr int kShortNamesPerSecond = 1000;

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

DeleteFileOperation::DeleteFileOperation(const base::FilePath& path, bool check_in_use, bool remove_empty_parents)
    : path_(path), check_in_use_(check_in_use), remove_empty_parents_(remove_empty_parents) {}

DeleteFileOperation::~DeleteFileOperation() {
  if (grant_)
    grant_->Forget();
  if (!moved_)
    return;
  VLOG(1) << "Actual removal of " << temporary_path_.value();
  // Only administrators may leave a deletion for the next restart: a per-user installation keeps the copy.
  if (!base::DeleteFile(temporary_path_, true) && !base::DeleteFileAfterReboot(temporary_path_))
    PLOG(ERROR) << "Could not remove " << temporary_path_.value() << " now or at the next restart";
  if (!remove_empty_parents_)
    return;
  // A folder that is not empty refuses to go, which ends the walk.
  for (base::FilePath folder = path_.DirName(); RemoveDirectoryW(folder.value().c_str());) {
    const base::FilePath parent = folder.DirName();
    if (parent == folder)
      break;
    folder = parent;
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
    base::MoveUnsafe(temporary_path_, path_);
    LOG(ERROR) << "File removal failed";
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

void DeleteFileOperation::Rollback() {
  if (moved_) {
    // Once the file is back there is nothing left to remove at commit; if it cannot be moved back it stays
    // under its temporary name rather than being deleted with the transaction. Whatever stands at the path now
    // came later (a moved file whose own rollback failed) and is never replaced: both copies are kept.
    if (!::MoveFileExW(temporary_path_.value().c_str(), path_.value().c_str(), 0)) {
      PLOG(ERROR) << "Could not move " << temporary_path_.value() << " back to " << path_.value();
      // The old access list belongs to the file kept aside, not to the one at the path.
      if (grant_)
        grant_->Forget();
    }
    moved_ = false;
  }
  grant_.reset();
}

}  // namespace zorvi::installer
