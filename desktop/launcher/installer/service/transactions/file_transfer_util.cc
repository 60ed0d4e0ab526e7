#include "desktop/launcher/installer/service/transactions/file_transfer_util.h"

#include <windows.h>

#include <cstring>
#include <memory>

#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"

namespace zorvi::installer {

namespace {

bool SameFileBytes(const base::FilePath& a, const base::FilePath& b) {
  base::File first(a, base::FileFlags::Open | base::FileFlags::Read | base::FileFlags::SequentialScan);
  base::File second(b, base::FileFlags::Open | base::FileFlags::Read | base::FileFlags::SequentialScan);
  if (!first.IsValid() || !second.IsValid() || first.GetLength() != second.GetLength())
    return false;
  constexpr int kChunk = 1 << 16;
  auto chunks = std::make_unique<char[]>(2 * kChunk);
  for (int64_t offset = 0;; offset += kChunk) {
    const int read = first.Read(offset, chunks.get(), kChunk);
    if (read < 0 || second.Read(offset, chunks.get() + kChunk, kChunk) != read)
      return false;
    if (read == 0)
      return true;
    if (memcmp(chunks.get(), chunks.get() + kChunk, read) != 0)
      return false;
  }
}

}  // namespace

bool PrepareDestination(const base::FilePath& destination, OperationList* sub_operations) {
  const base::FilePath folder = destination.DirName();
  if (!base::DirectoryExists(folder))
    return ExecuteOperation(sub_operations, std::make_unique<CreateFolderOperation>(folder));
  if (base::PathExists(destination))
    return ExecuteOperation(sub_operations, std::make_unique<DeleteFileOperation>(destination, false));
  return true;
}

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

void RestoreReadOnly(const base::FilePath& source) {
  const DWORD attributes = GetFileAttributesW(source.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesW(source.value().c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

bool IsWholeCopy(const base::FilePath& original, const base::FilePath& copy) {
  if (!base::DirectoryExists(original))
    return SameFileBytes(original, copy);
  if (!base::DirectoryExists(copy))
    return false;
  base::FileEnumerator entries(original, true, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    base::FilePath counterpart = copy;
    if (!original.AppendRelativePath(entry, &counterpart))
      return false;
    if (entries.GetInfo().IsDirectory() ? !base::DirectoryExists(counterpart) : !SameFileBytes(entry, counterpart))
      return false;
  }
  return true;
}

bool UndoTransfer(Transfer transfer,
                  const base::FilePath& source,
                  const base::FilePath& destination,
                  const TransferState& state) {
  bool undone = true;
  if (state.copied_across_volumes)
    undone = base::DeleteFile(destination, true);
  else if (state.done)
    undone = transfer == Transfer::kMove ? base::MoveUnsafe(destination, source) : base::DeleteFile(destination, false);
  // The clearing is part of the change: an undone transfer leaves the source as it was.
  if (state.cleared_read_only)
    RestoreReadOnly(source);
  return undone;
}

}  // namespace zorvi::installer
