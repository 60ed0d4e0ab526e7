#include "base/files/file.h"

#include <utility>

#include "base/metrics/histogram_base.h"
#include "base/metrics/process_wide_histograms.h"

namespace base {

namespace {

// ERROR_DISK_RESOURCES_EXHAUSTED, which the toolchain's headers lack.
constexpr DWORD kErrorDiskResourcesExhausted = 314;

// The creation disposition of the flags, or 0 when they name none.
DWORD Disposition(uint32_t flags) {
  if (flags & FileFlags::OpenTruncated)
    return TRUNCATE_EXISTING;
  if (flags & FileFlags::CreateAlways)
    return CREATE_ALWAYS;
  if (flags & FileFlags::OpenAlways)
    return OPEN_ALWAYS;
  if (flags & FileFlags::Create)
    return CREATE_NEW;
  if (flags & FileFlags::Open)
    return OPEN_EXISTING;
  return 0;
}

DWORD Access(uint32_t flags) {
  DWORD access = 0;
  if (flags & FileFlags::Read)
    access |= GENERIC_READ;
  if (flags & FileFlags::Append)
    access |= FILE_APPEND_DATA;
  else if (flags & FileFlags::Write)
    access |= GENERIC_WRITE;
  if (flags & FileFlags::WriteAttributes)
    access |= FILE_WRITE_ATTRIBUTES;
  if (flags & FileFlags::Execute)
    access |= GENERIC_EXECUTE;
  if (flags & FileFlags::Delete)
    access |= DELETE;
  return access;
}

DWORD Sharing(uint32_t flags) {
  DWORD sharing = 0;
  if (!(flags & FileFlags::ExclusiveRead))
    sharing |= FILE_SHARE_READ;
  if (!(flags & FileFlags::ExclusiveWrite))
    sharing |= FILE_SHARE_WRITE;
  if (flags & FileFlags::ShareDelete)
    sharing |= FILE_SHARE_DELETE;
  return sharing;
}

DWORD FlagsAndAttributes(uint32_t flags) {
  DWORD attributes = 0;
  if (flags & FileFlags::Async)
    attributes |= FILE_FLAG_OVERLAPPED;
  if (flags & FileFlags::Temporary)
    attributes |= FILE_ATTRIBUTE_TEMPORARY;
  if (flags & FileFlags::Hidden)
    attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (flags & FileFlags::DeleteOnClose)
    attributes |= FILE_FLAG_DELETE_ON_CLOSE;
  if (flags & FileFlags::BackupSemantics)
    attributes |= FILE_FLAG_BACKUP_SEMANTICS;
  if (flags & FileFlags::SequentialScan)
    attributes |= FILE_FLAG_SEQUENTIAL_SCAN;
  return attributes;
}

}  // namespace

File::File() = default;

File::File(const FilePath& path, uint32_t flags) : error_details_(FileError::Ok) { Initialize(path, flags); }

File::File(File&& other) noexcept
    : handle_(std::move(other.handle_)),
      error_details_(other.error_details_),
      created_(other.created_),
      async_(other.async_) {}

File& File::operator=(File&& other) noexcept {
  handle_ = std::move(other.handle_);
  error_details_ = other.error_details_;
  created_ = other.created_;
  async_ = other.async_;
  return *this;
}

File::~File() { Close(); }

void File::Initialize(const FilePath& path, uint32_t flags) {
  if (path.ReferencesParent()) {
    error_details_ = FileError::AccessDenied;
    return;
  }
  const DWORD disposition = Disposition(flags);
  if (disposition == 0) {
    error_details_ = FileError::Failed;
    return;
  }
  handle_.Set(CreateFileW(path.value().c_str(), Access(flags), Sharing(flags), nullptr, disposition,
                          FlagsAndAttributes(flags), nullptr));
  // The holder keeps the last error, so it is still the open's.
  const DWORD error = GetLastError();
  if (!handle_.IsValid()) {
    error_details_ = OsErrorToFileError(error);
    return;
  }
  error_details_ = FileError::Ok;
  async_ = (flags & FileFlags::Async) != 0;
  if (disposition == OPEN_ALWAYS)
    created_ = error != ERROR_ALREADY_EXISTS;
  else
    created_ = disposition == CREATE_NEW || disposition == CREATE_ALWAYS;
}

OVERLAPPED File::OverlappedAt(int64_t offset) {
  OVERLAPPED overlapped = {};
  const uint64_t position = static_cast<uint64_t>(offset);
  overlapped.Offset = static_cast<DWORD>(position);
  overlapped.OffsetHigh = static_cast<DWORD>(position >> 32);
  return overlapped;
}

bool File::FinishIo(BOOL done, OVERLAPPED* overlapped, DWORD* transferred) {
  if (done)
    return true;
  if (!async_ || GetLastError() != ERROR_IO_PENDING)
    return false;
  return GetOverlappedResult(handle_.Get(), overlapped, transferred, TRUE) != FALSE;
}

int File::Read(int64_t offset, char* data, int size) {
  if (size < 0)
    return -1;
  OVERLAPPED overlapped = OverlappedAt(offset);
  DWORD read = 0;
  if (FinishIo(::ReadFile(handle_.Get(), data, static_cast<DWORD>(size), &read, &overlapped), &overlapped,
               &read)) {
    return static_cast<int>(read);
  }
  if (GetLastError() == ERROR_HANDLE_EOF)
    return 0;
  return -1;
}

int File::Write(int64_t offset, const char* data, int size) {
  // A negative size would turn into a huge unsigned count.
  if (size < 0)
    return -1;
  OVERLAPPED overlapped = OverlappedAt(offset);
  DWORD written = 0;
  if (FinishIo(::WriteFile(handle_.Get(), data, static_cast<DWORD>(size), &written, &overlapped), &overlapped,
               &written)) {
    return static_cast<int>(written);
  }
  return -1;
}

int64_t File::GetLength() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle_.Get(), &size))
    return -1;
  return size.QuadPart;
}

bool File::SetLength(int64_t length) {
  LARGE_INTEGER zero = {};
  LARGE_INTEGER current;
  if (!SetFilePointerEx(handle_.Get(), zero, &current, FILE_CURRENT))
    return false;
  LARGE_INTEGER target;
  target.QuadPart = length;
  if (!SetFilePointerEx(handle_.Get(), target, nullptr, FILE_BEGIN))
    return false;
  if (!SetEndOfFile(handle_.Get()))
    return false;
  return SetFilePointerEx(handle_.Get(), current, nullptr, FILE_BEGIN) != FALSE;
}

bool File::Flush() {
  const TimeTicks start = TimeTicks::Now();
  const bool flushed = FlushFileBuffers(handle_.Get()) != FALSE;
  const DWORD error = GetLastError();
  // Made once per process: 1 ms to 10 s in 50 buckets, as the time histogram factory would.
  static HistogramBase* const flush_time = GetProcessWideHistogram("PlatformFile.FlushTime", 1, 10000, 50, 1);
  if (flush_time)
    flush_time->AddTime(TimeTicks::Now() - start);
  SetLastError(error);
  return flushed;
}

void File::Close() { handle_.Close(); }

// static
FileError File::OsErrorToFileError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return FileError::Ok;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileError::NotFound;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FileError::TooManyOpened;
    case ERROR_ACCESS_DENIED:
      return FileError::AccessDenied;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FileError::NoMemory;
    case ERROR_NOT_READY:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_IO_DEVICE:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
      return FileError::Io;
    case ERROR_SHARING_VIOLATION:
      return FileError::InUse;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case kErrorDiskResourcesExhausted:
      return FileError::NoSpace;
    case ERROR_FILE_EXISTS:
      return FileError::Exists;
    case ERROR_USER_MAPPED_FILE:
      return FileError::InvalidRequest;
    default:
      break;
  }
  const DWORD last_error = GetLastError();
  GetProcessWideSparseHistogram("PlatformFile.UnknownErrors.Windows", 1)->Add(static_cast<int32_t>(error));
  SetLastError(last_error);
  return FileError::Failed;
}

}  // namespace base
