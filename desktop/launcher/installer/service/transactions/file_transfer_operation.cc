#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"
#include "desktop/launcher/installer/service/transactions/held_file_retry.h"

namespace zorvi::installer {

namespace {

// Creates the destination's folder, or moves a file already at the destination aside, as a sub-operation.
bool PrepareDestination(const base::FilePath& destination, OperationList* sub_operations) {
  const base::FilePath folder = destination.DirName();
  if (!base::DirectoryExists(folder))
    return ExecuteOperation(sub_operations, std::make_unique<CreateFolderOperation>(folder));
  if (base::PathExists(destination))
    return ExecuteOperation(sub_operations, std::make_unique<DeleteFileOperation>(destination, false));
  return true;
}

// Clears the source's read-only attribute; true when it was set and is now cleared. A failure is only logged.
bool ClearReadOnly(const base::FilePath& source) {
  const DWORD attributes = GetFileAttributesW(source.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  if (!SetFileAttributesW(source.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    LOG(ERROR) << "Couldn't clear RO attribute of " << source.value();
    return false;
  }
  return true;
}

// Sets the read-only attribute that ClearReadOnly cleared again (nothing when the path is gone).
void RestoreReadOnly(const base::FilePath& source) {
  const DWORD attributes = GetFileAttributesW(source.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesW(source.value().c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

// Whether every entry of the tree `from` has its counterpart in the tree `to`: a folder for a folder, and, with
// `compare_files`, the same bytes for a file (else just a file).
bool HasCounterparts(const base::FilePath& from, const base::FilePath& to, bool compare_files) {
  base::FileEnumerator entries(from, true, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    base::FilePath counterpart = to;
    if (!from.AppendRelativePath(entry, &counterpart))
      return false;
    if (entries.GetInfo().IsDirectory() ? !base::DirectoryExists(counterpart)
        : compare_files                 ? !base::ContentsEqual(entry, counterpart)
                                        : !base::PathExists(counterpart) || base::DirectoryExists(counterpart)) {
      return false;
    }
  }
  return true;
}

// Whether `copy` holds the same bytes as `original`: for folders, every file of the tree, and every folder, and
// nothing more (an entry of the copy alone would stay behind at commit as if it had been moved).
bool IsWholeCopy(const base::FilePath& original, const base::FilePath& copy) {
  if (!base::DirectoryExists(original))
    return base::ContentsEqual(original, copy);
  return base::DirectoryExists(copy) && HasCounterparts(original, copy, true) && HasCounterparts(copy, original, false);
}

}  // namespace

// LOG and VLOG, written from the operation's own file.
#define TRANSFER_LOG(severity) LAZY_STREAM(Line(::logging::LOG_##severity).stream(), LOG_IS_ON(severity))
#define TRANSFER_VLOG(verbose_level) LAZY_STREAM(Line(-(verbose_level)).stream(), (verbose_level) <= VlogLevel())

FileTransferOperation::FileTransferOperation(Transfer transfer,
                                             const base::FilePath& source,
                                             const base::FilePath& destination,
                                             const base::Location& made_at)
    : transfer_(transfer), source_(source), destination_(destination), made_at_(made_at) {}

FileTransferOperation::~FileTransferOperation() = default;

logging::LogMessage FileTransferOperation::Line(int severity) const {
  return logging::LogMessage(made_at_.file_name(), made_at_.line_number(), severity);
}

int FileTransferOperation::VlogLevel() const {
  return logging::GetVlogLevelHelper(made_at_.file_name(), strlen(made_at_.file_name()) + 1);
}

bool FileTransferOperation::Do(OperationList* sub_operations) {
  if (!PrepareDestination(destination_, sub_operations))
    return false;
  TRANSFER_VLOG(1) << (transfer_ == Transfer::kMove ? "Moving " : "Copying ") << source_.value() << " to "
                   << destination_.value();
  cleared_read_only_ = ClearReadOnly(source_);
  if (IsFaultInjected(this, destination_.value()) || !TransferFile(sub_operations)) {
    TRANSFER_LOG(ERROR) << "File copy failed";
    return false;
  }
  TRANSFER_VLOG(1) << "File copied successfully";
  done_ = true;
  return true;
}

// PrepareDestination cleared the destination's place, so a copy never replaces a file: one that came there
// meanwhile stays and fails the copy, and the rollback deletes only what the copy made. A replacing copy would
// also truncate the new file, after which some file systems write it out at once, so that its deletion waits on
// the disk.
bool FileTransferOperation::TransferFile(OperationList* sub_operations) {
  // A scanner that holds either file for a moment is waited for.
  if (transfer_ == Transfer::kCopy)
    return RetryWhileHeld([this] { return base::CopyFileToNewPath(source_, destination_); });
  // Within a volume the move is one rename.
  if (RetryWhileHeld([this] {
        return ::MoveFileExW(source_.value().c_str(), destination_.value().c_str(), MOVEFILE_REPLACE_EXISTING) !=
               FALSE;
      })) {
    return true;
  }
  return GetLastError() == ERROR_NOT_SAME_DEVICE && CopyAcrossVolumes(sub_operations);
}

// The system's move to another volume copies and then deletes the source, so that the source is gone before the
// transaction is final, or, when the deletion fails, the copy stays behind. Here the copy is checked byte for
// byte, and the source then leaves its place as a deletion that keeps it aside on its own volume until the commit.
bool FileTransferOperation::CopyAcrossVolumes(OperationList* sub_operations) {
  TRANSFER_VLOG(1) << "Copying to another volume";
  copied_across_volumes_ = true;
  const bool copied = base::DirectoryExists(source_)
                          ? base::CopyDirectory(source_, destination_, true)
                          : RetryWhileHeld([this] { return base::CopyFileToNewPath(source_, destination_); });
  if (!copied || IsFaultInjected(this, destination_.value() + L"|copied") || !IsWholeCopy(source_, destination_)) {
    TRANSFER_LOG(ERROR) << "The copy of " << source_.value() << " on the other volume is not whole";
    return false;
  }
  auto keep_aside = std::make_unique<DeleteFileOperation>(source_, false);
  const DeleteFileOperation* kept = keep_aside.get();
  if (!ExecuteOperation(sub_operations, std::move(keep_aside)))
    return false;
  // The source is kept as it was, so that a rollback brings it back so, and a commit removes it so.
  if (cleared_read_only_) {
    RestoreReadOnly(kept->temporary_path());
    cleared_read_only_ = false;
  }
  return true;
}

// Undoes the transfer itself (a move to another volume by removing its copy) and sets the source's read-only
// attribute again; the sub-operations' own rollbacks bring back the source kept aside by such a move and what was
// in the destination's place. A file that cannot go back (the source's place is taken or the file is running)
// stays at the destination, where restoring the file that was set aside from there will not replace it. A copy
// that cannot be removed (it is held) stays too.
void FileTransferOperation::Rollback() {
  bool undone = true;
  if (copied_across_volumes_)
    undone = base::DeleteFile(destination_, true);
  else if (done_)
    undone = transfer_ == Transfer::kMove ? base::MoveUnsafe(destination_, source_)
                                          : base::DeleteFile(destination_, false);
  // The clearing is part of the change: an undone transfer leaves the source as it was.
  if (cleared_read_only_)
    RestoreReadOnly(source_);
  if (undone)
    return;
  if (transfer_ == Transfer::kCopy)
    TRANSFER_LOG(ERROR) << "Could not remove " << destination_.value();
  else if (copied_across_volumes_)
    TRANSFER_LOG(ERROR) << "Could not remove the copy " << destination_.value();
  else
    TRANSFER_LOG(ERROR) << "Could not move " << destination_.value() << " back to " << source_.value();
}

}  // namespace zorvi::installer
