// Unpacks the package's 7z archive into the unpack folder with the LZMA SDK's 7z reader: every entry becomes a
// folder or a file (with its modification time when the archive stores one), each folder is created once, and
// the progress in entries goes to the fetcher's delegate. The files of a decoded block are written by several
// threads (taken in archive order) while the next entries are checked; the files before a failure stay on disk.
//
// Files that other processes will run from the unpack folder can be held once written (set_files_to_hold): then
// nobody can change, replace, rename or delete them until the caller lets go, and they are known to hold what the
// archive holds.
//
// Results: 0 on success; kUnpackFailed when no archive is open, the archive cannot be read as 7z, an entry
// cannot be decoded, has no name or names a place outside the unpack folder (a device too); kChangedFile when a
// file to hold reads back otherwise than it was written; otherwise the Windows error of the failed file call.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include "7zTypes.h"
}

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/synchronization/lock.h"

namespace zorvi::installer {

class PackageFetcherDelegate;
class ParallelFileWriter;

class LzmaUtil {
 public:
  static constexpr DWORD kUnpackFailed = 6;
  static constexpr DWORD kChangedFile = ERROR_FILE_INVALID;

  LzmaUtil();
  LzmaUtil(const LzmaUtil&) = delete;
  LzmaUtil& operator=(const LzmaUtil&) = delete;
  ~LzmaUtil();

  // Closes an archive already open, then opens `archive` for reading, with others allowed only to read it: 0, or
  // the Windows error.
  DWORD OpenArchive(const base::FilePath& archive);
  // The same for an archive the caller has open for reading (from wherever its position is): 0, or
  // ERROR_INVALID_HANDLE when it is not open.
  DWORD OpenArchive(base::File archive);
  void CloseArchive();

  // Files that the unpacking writes directly into the target under one of `names` (letter case aside) are opened
  // again once written, with only reading shared, and read back: a file that cannot be opened so, or holds other
  // bytes than the archive's, fails the unpacking. The files stay open until taken or until this unpacker goes.
  void set_files_to_hold(std::vector<std::wstring> names) { files_to_hold_ = std::move(names); }
  // The files held so far, handed over to the caller, who lets go of them by closing them.
  std::vector<base::File> TakeHeldFiles();

  // Unpacks the open archive into `target` (which need not exist yet).
  DWORD UnPack(const base::FilePath& target);

  // Creates `folder` with its missing parents unless this unpacking created it already.
  bool CreateFolder(const base::FilePath& folder);

  // Progress goes here when set; not owned.
  void set_delegate(PackageFetcherDelegate* delegate) { delegate_ = delegate; }

  // Test-only: the function that writes entries, to provoke writes that fall short without an error.
  using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  static void SetWriteFileForTesting(WriteFileFunction write_file);

 private:
  // Whether making `folder` (inside `target`) would make a folder where a file being written is to go.
  bool NamesPendingFile(const base::FilePath& target, const base::FilePath& folder,
                        const ParallelFileWriter& writer) const;
  // Whether `path` (inside `target`) is one of the files to hold.
  bool IsToBeHeld(const base::FilePath& target, const base::FilePath& path) const;
  // Creates `path`, writes `size` bytes and, when given, its last-write time; then holds it when `hold`. Safe on
  // several threads at once.
  DWORD WriteEntry(const base::FilePath& path, const uint8_t* data, size_t size, const FILETIME* last_write,
                   bool hold);
  // Opens the file just written at `path` with only reading shared and keeps it when it holds `size` bytes equal to
  // `data`.
  DWORD HoldWrittenFile(const base::FilePath& path, const uint8_t* data, size_t size);
  // Closes a held file at `path` (an earlier entry of the same place), so that a later entry can replace it.
  void LetGoOf(const base::FilePath& path);

  base::File archive_;
  std::set<std::wstring> created_folders_;
  PackageFetcherDelegate* delegate_ = nullptr;
  std::vector<std::wstring> files_to_hold_;
  base::Lock held_lock_;
  std::vector<std::pair<base::FilePath, base::File>> held_files_;  // under `held_lock_`
};

// The 7z reader's input: its seekable-stream interface over a Windows file handle (not owned).
struct LzmaFileStream {
  explicit LzmaFileStream(HANDLE file);
  ISeekInStream vt;
  HANDLE file;
};

// Origins 0, 1 and 2 are the start, the current position and the end; *position receives the new position.
// SZ_ERROR_PARAM for another origin, SZ_ERROR_FAIL when the system refuses the move.
SRes LzmaFileSeek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin);
// Reads up to *size bytes, fewer only at the end of the file; *size receives the count. SZ_ERROR_READ when a
// read fails.
SRes LzmaFileRead(ISeekInStreamPtr stream, void* buffer, size_t* size);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_
