// The file utilities: whole-file reads and writes, copy, move, replace and delete (with wildcards and after
// a restart), folders, temporary files and well-known folders. All report failure by value and never log,
// except AppendToFile's verbose messages.
//
// Paths of MAX_PATH (260) characters or more are refused by the copy, move and delete functions, and paths
// that reference a parent folder ("..") by the open, copy, move and whole-file read functions.
//
// <windows.h> turns several of these names into their wide forms (DeleteFile into DeleteFileW, ...): this
// header includes it so that every user sees the same names.
#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "base/files/file.h"
#include "base/files/file_path.h"

namespace base {

// Creates or truncates `path` (no sharing) and writes `size` bytes at once: `size` when all were written,
// else -1 (also for a negative size, which leaves the disk untouched).
int WriteFile(const FilePath& path, const char* data, int size);
// Appends to an existing file with one write; true only when every byte was written.
bool AppendToFile(const FilePath& path, const char* data, int size);
// One read of at most `max_size` bytes from the start of the file: the bytes read, or -1.
int ReadFile(const FilePath& path, char* data, int max_size);

// The whole file into *contents (which is cleared first; may be null to only test readability). With a
// limit, a longer file leaves its first `max_size` bytes in *contents and gives false.
bool ReadFileToString(const FilePath& path, std::string* contents);
bool ReadFileToStringWithMaxSize(const FilePath& path, std::string* contents, size_t max_size);
// Whether both files can be read and hold the same bytes.
bool ContentsEqual(const FilePath& a, const FilePath& b);

// Copies one file over any existing one; the copy is never read-only.
bool CopyFile(const FilePath& from, const FilePath& to);
// Copies one file to a path where nothing is yet, and fails (ERROR_FILE_EXISTS) where something is; the copy is
// never read-only.
bool CopyFileToNewPath(const FilePath& from, const FilePath& to);
// Copies the files of `from` (recursive: the whole tree) to `to`. When recursive and `to` is an existing
// folder, the copy goes into a folder of `to` named like `from`. Refuses to copy a folder into itself.
bool CopyDirectory(const FilePath& from, const FilePath& to, bool recursive);
// CopyDirectory recursive, then, only when the whole copy succeeded, deletes `from`.
bool CopyAndDeleteDirectory(const FilePath& from, const FilePath& to);
// Moves a file or folder, replacing an existing file; a file across volumes too (the system's copy). A folder
// is not moved to another volume: that fails with ERROR_NOT_SAME_DEVICE, and the folder stays.
bool MovePath(const FilePath& from, const FilePath& to);
// MovePath without the parent-reference check. After a failure the thread's last error is the move's.
bool MoveUnsafe(const FilePath& from, const FilePath& to);
// Renames the file or folder open as `object` (with DELETE access) to `to`, over an existing file only with
// `replace_existing`: the object the handle holds moves, wherever its old name leads meanwhile.
bool RenameThroughHandle(HANDLE object, const FilePath& to, bool replace_existing);
// Puts `from` in the place of `to`: a plain move when `to` does not exist, else the system's replace.
// *error (when given) receives the failure.
bool ReplaceFile(const FilePath& from, const FilePath& to, FileError* error);

// Deletes a file, or a folder (with its contents when recursive). A base name with '*' or '?' deletes the
// matching entries of its folder instead. A missing path counts as deleted; read-only entries are deleted
// too. A link to a folder (a junction) is removed itself, never what it points to.
bool DeleteFile(const FilePath& path, bool recursive);
// Schedules `path` (a file or an empty folder) for deletion at the next restart.
bool DeleteFileAfterReboot(const FilePath& path);

// Creates the folder and any missing parents; true when it exists as a folder afterwards.
bool CreateDirectory(const FilePath& path);
bool CreateDirectoryAndGetError(const FilePath& path, FileError* error);

// Creates an empty file with a unique name in `dir` (the temporary folder) and gives its path.
bool CreateTemporaryFileInDir(const FilePath& dir, FilePath* temp_file);
bool CreateTemporaryFile(FilePath* temp_file);

// The user's temporary folder, without trailing separators.
bool GetTempDir(FilePath* path);
// The user's profile folder; else the temporary folder; else "C:\".
FilePath GetHomeDir();
bool GetCurrentDirectory(FilePath* path);
bool SetCurrentDirectory(const FilePath& path);
// The full path form of `path`, or an empty path.
FilePath MakeAbsoluteFilePath(const FilePath& path);

// Whether `path` is `folder` or lies inside it, comparing components without regard to case as the file system
// does: "C:\ab" is not inside "C:\a", "C:\A\b" is. The text alone decides; nothing is looked up on disk.
bool IsSameOrInsideFolder(const FilePath& path, const FilePath& folder);

bool PathExists(const FilePath& path);
bool DirectoryExists(const FilePath& path);
// Whether the path (a file or a folder) opens for writing.
bool PathIsWritable(const FilePath& path);
bool GetFileInfo(const FilePath& path, File::Info* info);
bool GetFileSize(const FilePath& path, int64_t* size);

// A buffered runtime stream on `path` with the given fopen mode, sharing everything; null on failure.
FILE* OpenFile(const FilePath& path, const char* mode);
// Closes a stream from OpenFile (null is allowed); true on success.
bool CloseFile(FILE* file);

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
