#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/link_free_deletion.h"
#include "desktop/launcher/installer/service/transactions/held_file_retry.h"
#include "desktop/launcher/installer/service/transactions/nested_access_grant.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

namespace {

// What moving the file away and deleting it later need.
constexpr DWORD kDeleteAccess = DELETE | FILE_GENERIC_WRITE;
// What setting an entry aside, putting it back and deleting it through its handle need. Others may read and
// write it meanwhile, but not rename or remove it.
constexpr DWORD kEntryAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kEntrySharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
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

// Whether `text` is not empty and all digits, or, with `base36`, all digits and letters.
bool IsNumber(std::wstring_view text, bool base36) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [base36](wchar_t c) {
           return (c >= L'0' && c <= L'9') || (base36 && ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')));
         });
}

// The entry at `path` itself (a link is opened as the link), while a passing reader lets it.
base::win::ScopedHandle OpenEntry(const base::FilePath& path) {
  HANDLE entry = INVALID_HANDLE_VALUE;
  RetryWhileHeld([&] {
    entry = CreateFileW(path.value().c_str(), kEntryAccess, kEntrySharing, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return entry != INVALID_HANDLE_VALUE;
  });
  return base::win::ScopedHandle(entry);
}

// Deletes the entry the handle holds, read-only or not; a folder (not a link to one) with everything in it, each
// entry opened as itself below `path`, the folder's present name, which the handle keeps.
bool DeleteTreeThroughHandle(HANDLE entry, const base::FilePath& path) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof(basic)))
    return false;
  bool emptied = true;
  if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    base::FileEnumerator children(path, false, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath child = children.Next(); !child.empty(); child = children.Next()) {
      const base::win::ScopedHandle held = OpenEntry(child);
      emptied = held.IsValid() && DeleteTreeThroughHandle(held.Get(), child) && emptied;
    }
  }
  return emptied && DeleteThroughHandle(entry);
}

}  // namespace

DeleteFileOperation::DeleteFileOperation(const base::FilePath& path,
                                         bool check_in_use,
                                         const base::FilePath& empty_parents_root)
    : path_(path), check_in_use_(check_in_use), empty_parents_root_(empty_parents_root) {}

DeleteFileOperation::~DeleteFileOperation() {
  if (grant_)
    grant_->Forget();
  if (moved_) {
    VLOG(1) << "Actual removal of " << temporary_path_.value();
    // Only administrators may leave a deletion for the next restart: a per-user installation keeps the copy.
    if (!DeleteSetAside() && !base::DeleteFileAfterReboot(temporary_path_))
      PLOG(ERROR) << "Could not remove " << temporary_path_.value() << " now or at the next restart";
  }
  entry_.Close();
  // A folder that is not empty refuses to go, which ends the walk; so does reaching the root.
  if (moved_)
    folders_.ReleaseRemovingEmpty();
  folders_.Release();
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
  // The installation's own files: their path is held from the root down before anything is looked at there.
  if (!empty_parents_root_.empty() && base::IsSameOrInsideFolder(path_.DirName(), empty_parents_root_)) {
    std::string problem;
    if (!folders_.Hold(empty_parents_root_, path_.DirName(), &problem)) {
      LOG(ERROR) << "Refused to remove " << path_.value() << ": " << problem;
      return false;
    }
  }
  // Inside the root, the entry is pinned (opened as itself, not to be renamed or removed) before a grant names it,
  // so that the grant reaches that entry and never what a link in its place would lead to.
  base::win::ScopedHandle pinned;
  BY_HANDLE_FILE_INFORMATION pinned_identity = {};
  if (folders_.held()) {
    pinned.Set(CreateFileW(path_.value().c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, kEntrySharing, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!pinned.IsValid() || !GetFileInformationByHandle(pinned.Get(), &pinned_identity)) {
      PLOG(ERROR) << "Cannot open " << path_.value();
      LOG(ERROR) << "File removal failed";
      return false;
    }
  }
  // The installation makes no links: one in its place was put there by someone else and is left alone, with what it
  // leads to (where the system follows it, a rename or deletion by its name would reach that).
  if ((pinned_identity.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || PathNamesLink(path_)) {
    LOG(ERROR) << "Refused to remove " << path_.value() << ": it is a link (a reparse point)";
    return false;
  }
  if (!HasWriteAccess(path_.value(), SE_FILE_OBJECT, kDeleteAccess)) {
    grant_ = NestedAccessGrant::Grant(path_.value(), SE_FILE_OBJECT, kDeleteAccess);
    if (!grant_) {
      LOG(ERROR) << "Cannot obtain proper permissions on the file";
      return false;
    }
  }
  if (folders_.held()) {
    // The pin shares no deletion, not even with this handle: it goes first, and the entry must be the one pinned.
    pinned.Close();
    entry_ = OpenEntry(path_);
    BY_HANDLE_FILE_INFORMATION identity;
    if (!entry_.IsValid() || !GetFileInformationByHandle(entry_.Get(), &identity)) {
      PLOG(ERROR) << "Cannot open " << path_.value();
      LOG(ERROR) << "File removal failed";
      return false;
    }
    if (!IsSameFileIdentity(identity, pinned_identity)) {
      LOG(ERROR) << path_.value() << " was replaced meanwhile";
      LOG(ERROR) << "File removal failed";
      return false;
    }
  }
  if (IsFaultInjected(this, path_.value()) || !SetAside()) {
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

// static
bool DeleteFileOperation::IsTemporaryName(const std::wstring& name) {
  const std::wstring_view view(name);
  const size_t last_dot = view.rfind(L'.');
  if (last_dot == std::wstring_view::npos)
    return false;
  const std::wstring_view last = view.substr(last_dot + 1);
  // "~<seconds in base 36>.old" or "~<seconds in base 36>.<n>".
  if (view.starts_with(L'~') && (last == L"old" || IsNumber(last, false)) &&
      IsNumber(view.substr(1, last_dot - 1), true)) {
    return true;
  }
  // "<name>.<seconds>.old".
  const size_t dot = last_dot == 0 ? std::wstring_view::npos : view.rfind(L'.', last_dot - 1);
  return last == L"old" && dot != std::wstring_view::npos && dot > 0 &&
         IsNumber(view.substr(dot + 1, last_dot - dot - 1), false);
}

bool DeleteFileOperation::SetAside() {
  if (!entry_.IsValid())
    return RetryWhileHeld([this] { return base::MoveUnsafe(path_, temporary_path_); });
  return RetryWhileHeld([this] { return base::RenameThroughHandle(entry_.Get(), temporary_path_, false); });
}

bool DeleteFileOperation::DeleteSetAside() {
  if (!entry_.IsValid())
    return base::DeleteFile(temporary_path_, true);
  // The entry goes once its last handle closes.
  const bool deleted = DeleteTreeThroughHandle(entry_.Get(), temporary_path_);
  entry_.Close();
  return deleted;
}

bool DeleteFileOperation::IsInUse() const {
  const std::wstring extension = path_.Extension();
  if (base::FilePath::CompareIgnoreCase(extension, L".exe") != 0 &&
      base::FilePath::CompareIgnoreCase(extension, L".dll") != 0) {
    return false;
  }
  // A scanner or indexer that reads the renamed file lets it go within moments; a program keeps it.
  HANDLE opened = INVALID_HANDLE_VALUE;
  RetryWhileHeld([&] {
    opened = CreateFileW(temporary_path_.value().c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return opened != INVALID_HANDLE_VALUE;
  });
  const base::win::ScopedHandle file(opened);
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
    else if (entry_.IsValid() ? base::RenameThroughHandle(entry_.Get(), path_, false)
                              : ::MoveFileExW(temporary_path_.value().c_str(), path_.value().c_str(), 0) != FALSE)
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
  entry_.Close();
  folders_.Release();
}

}  // namespace zorvi::installer
