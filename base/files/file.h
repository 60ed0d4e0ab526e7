// File: one open Win32 file handle with positioned reads and writes. Failure is reported by value: -1 from
// the I/O calls, an invalid File with a FileError after a failed open.
#ifndef BASE_FILES_FILE_H_
#define BASE_FILES_FILE_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

// The values reach callers and never change.
enum class FileError : int32_t {
  Ok = 0,
  Failed = -1,
  InUse = -2,
  Exists = -3,
  NotFound = -4,
  AccessDenied = -5,  // also a path that references its parent
  TooManyOpened = -6,
  NoMemory = -7,
  NoSpace = -8,
  NotADirectory = -9,
  InvalidRequest = -10,
  Io = -16,
};

// Bits given to File::Initialize.
struct FileFlags {
  enum : uint32_t {
    Open = 0x1,             // open existing
    Create = 0x2,           // create new
    OpenAlways = 0x4,       // open always
    CreateAlways = 0x8,     // create always
    OpenTruncated = 0x10,   // truncate existing; wins over the four above
    Read = 0x20,
    Write = 0x40,
    Append = 0x80,          // append-data access only, in place of Write
    ExclusiveRead = 0x100,  // read sharing is on unless this is given
    ExclusiveWrite = 0x200,
    Async = 0x400,          // overlapped handle
    Temporary = 0x800,
    Hidden = 0x1000,
    DeleteOnClose = 0x2000,
    WriteAttributes = 0x4000,
    ShareDelete = 0x8000,
    Delete = 0x10000,           // delete access: the handle may rename or delete its file
    BackupSemantics = 0x20000,  // needed to open folders
    Execute = 0x40000,
    SequentialScan = 0x80000,
  };
};

class File {
 public:
  struct Info {
    int64_t size = 0;
    bool is_directory = false;
    Time last_modified;
    Time last_accessed;
    Time creation_time;
  };

  // Invalid, with error details Failed.
  File();
  File(const FilePath& path, uint32_t flags);
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens `path`. A path with a parent reference is refused with AccessDenied without touching the disk;
  // flags without a disposition open nothing. After a failed open the thread's last error is the open's.
  void Initialize(const FilePath& path, uint32_t flags);

  bool IsValid() const { return handle_.IsValid(); }
  HANDLE GetPlatformFile() const { return handle_.Get(); }
  FileError error_details() const { return error_details_; }
  // Whether the open made the file.
  bool created() const { return created_; }
  bool async() const { return async_; }

  // One read at `offset`: the bytes read, 0 at or past the end, -1 on failure or for a negative size.
  int Read(int64_t offset, char* data, int size);
  // One write at `offset`: the bytes written, -1 on failure or for a negative size.
  int Write(int64_t offset, const char* data, int size);
  // The size in bytes, or -1.
  int64_t GetLength();
  // Truncates or extends to `length`; the file pointer is left where it was.
  bool SetLength(int64_t length);
  // Flushes the system's buffers, timing it into "PlatformFile.FlushTime".
  bool Flush();
  void Close();

  // The FileError for a Windows error code. Codes outside the table give Failed and are counted in the
  // sparse histogram "PlatformFile.UnknownErrors.Windows". The thread's last error is kept.
  static FileError OsErrorToFileError(DWORD error);

 private:
  // The overlapped record that places one read or write at `offset`.
  static OVERLAPPED OverlappedAt(int64_t offset);
  // For an asynchronous handle, waits for an operation that went pending; otherwise hands back `done`.
  bool FinishIo(BOOL done, OVERLAPPED* overlapped, DWORD* transferred);

  win::ScopedHandle handle_;
  FileError error_details_ = FileError::Failed;
  bool created_ = false;
  bool async_ = false;
};

}  // namespace base

#endif  // BASE_FILES_FILE_H_
