// Unpacks the package's 7z archive into the unpack folder with the LZMA SDK's 7z reader: every entry becomes a
// folder or a file (with its modification time when the archive stores one), each folder is created once, and
// the progress in entries goes to the fetcher's delegate. The files of a decoded block are written by several
// threads (taken in archive order) while the next entries are checked; the files before a failure stay on disk.
//
// Results: 0 on success; kUnpackFailed when no archive is open, the archive cannot be read as 7z, an entry
// cannot be decoded, has no name or names a place outside the unpack folder (a device too); otherwise the
// Windows error of the failed file call.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

extern "C" {
#include "7zTypes.h"
}

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

class PackageFetcherDelegate;
class ParallelFileWriter;

class LzmaUtil {
 public:
  static constexpr DWORD kUnpackFailed = 6;

  LzmaUtil();
  LzmaUtil(const LzmaUtil&) = delete;
  LzmaUtil& operator=(const LzmaUtil&) = delete;
  ~LzmaUtil();

  // Closes an archive already open, then opens `archive` for reading: 0, or the Windows error.
  DWORD OpenArchive(const base::FilePath& archive);
  void CloseArchive();

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
  // Creates `path`, writes `size` bytes and, when given, its last-write time. Safe on several threads at once.
  DWORD WriteEntry(const base::FilePath& path, const uint8_t* data, size_t size, const FILETIME* last_write);

  base::win::ScopedHandle archive_;
  std::set<std::wstring> created_folders_;
  PackageFetcherDelegate* delegate_ = nullptr;
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
