#include "desktop/launcher/installer/package_fetcher/lzma_util.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
}

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/package_fetcher/parallel_file_writer.h"
#include "desktop/launcher/installer/package_fetcher/temp_file_mapping_allocator.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"

namespace zorvi::installer {

namespace {

// The look-ahead buffer between the reader and the archive file.
constexpr size_t kLookBufferSize = 1 << 18;
// Threads that write a decoded block's files while the unpacking thread checks the next entries (each entry's
// checksum is computed as it is cut out). Each file costs system calls, the copy of its bytes into the file cache
// and, where a scanner checks new files as they are closed, that scan: these run side by side on several
// processors. A third helper measured no faster than two.
constexpr int kWriterThreads = 2;
// An archive with fewer entries is written by the unpacking thread alone: starting threads would cost more.
constexpr UInt32 kEntriesWorthThreads = 8;
// A write that stores fewer bytes without the system reporting an error still loses data.
constexpr DWORD kShortWriteError = ERROR_WRITE_FAULT;

LzmaUtil::WriteFileFunction g_write_file = &::WriteFile;

// The thread's last error, or `fallback` when a failed call left none: a failure must never read as 0.
DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

// Entry names come from the archive. A name that starts at a root or a server, names a drive (or a stream of
// some other file), or climbs to a parent folder would write outside the unpack folder, and one that names a
// device would send the entry's bytes there while the unpacking reports success: an unsigned build unpacks
// whatever the update service sends.
bool StaysInsideTarget(const std::wstring& name) {
  if (!name.empty() && base::FilePath::IsSeparator(name[0]))
    return false;
  if (name.find(L':') != std::wstring::npos)
    return false;
  const base::FilePath relative(name);
  if (relative.IsAbsolute() || relative.ReferencesParent())
    return false;
  std::vector<std::wstring> components;
  relative.GetComponents(&components);
  return std::none_of(components.begin(), components.end(), [](const std::wstring& c) { return IsDeviceName(c); });
}

// The archive database freed on every path.
class ScopedArchiveDatabase {
 public:
  explicit ScopedArchiveDatabase(ISzAllocPtr allocator) : allocator_(allocator) { SzArEx_Init(&database_); }
  ScopedArchiveDatabase(const ScopedArchiveDatabase&) = delete;
  ScopedArchiveDatabase& operator=(const ScopedArchiveDatabase&) = delete;
  ~ScopedArchiveDatabase() { SzArEx_Free(&database_, allocator_); }
  CSzArEx* get() { return &database_; }

 private:
  CSzArEx database_;
  ISzAllocPtr allocator_;
};

}  // namespace

LzmaFileStream::LzmaFileStream(HANDLE file) : vt{&LzmaFileRead, &LzmaFileSeek}, file(file) {}

SRes LzmaFileSeek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin) {
  DWORD method;
  switch (origin) {
    case SZ_SEEK_SET:
      method = FILE_BEGIN;
      break;
    case SZ_SEEK_CUR:
      method = FILE_CURRENT;
      break;
    case SZ_SEEK_END:
      method = FILE_END;
      break;
    default:
      return SZ_ERROR_PARAM;
  }
  const HANDLE file = reinterpret_cast<const LzmaFileStream*>(stream)->file;
  LONG high = static_cast<LONG>(static_cast<uint64_t>(*position) >> 32);
  // A new position whose low half is 0xFFFFFFFF is only an error when the call also set one.
  SetLastError(ERROR_SUCCESS);
  const DWORD low = SetFilePointer(file, static_cast<LONG>(*position & 0xFFFFFFFF), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS)
    return SZ_ERROR_FAIL;
  *position = static_cast<Int64>(static_cast<uint64_t>(static_cast<DWORD>(high)) << 32 | low);
  return SZ_OK;
}

SRes LzmaFileRead(ISeekInStreamPtr stream, void* buffer, size_t* size) {
  if (*size == 0)
    return SZ_OK;
  const HANDLE file = reinterpret_cast<const LzmaFileStream*>(stream)->file;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < *size) {
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(*size - done, MAXDWORD));
    DWORD read = 0;
    if (!ReadFile(file, out + done, wanted, &read, nullptr))
      return SZ_ERROR_READ;
    if (read == 0)
      break;
    done += read;
  }
  *size = done;
  return SZ_OK;
}

LzmaUtil::LzmaUtil() = default;

LzmaUtil::~LzmaUtil() {
  CloseArchive();
}

DWORD LzmaUtil::OpenArchive(const base::FilePath& archive) {
  CloseArchive();
  base::File file(archive, base::FileFlags::Open | base::FileFlags::Read | base::FileFlags::ExclusiveWrite);
  if (!file.IsValid())
    return LastErrorOr(ERROR_OPEN_FAILED);
  return OpenArchive(std::move(file));
}

DWORD LzmaUtil::OpenArchive(base::File archive) {
  CloseArchive();
  archive_ = std::move(archive);
  return archive_.IsValid() ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void LzmaUtil::CloseArchive() {
  archive_.Close();
  created_folders_.clear();
}

DWORD LzmaUtil::UnPack(const base::FilePath& target) {
  if (!archive_.IsValid())
    return kUnpackFailed;

  LzmaFileStream file_stream(archive_.GetPlatformFile());
  // The reader takes the stream's current position as the archive's start.
  Int64 start = 0;
  if (LzmaFileSeek(&file_stream.vt, &start, SZ_SEEK_SET) != SZ_OK)
    return kUnpackFailed;
  std::vector<Byte> look_buffer(kLookBufferSize);
  CLookToRead2 look_stream;
  LookToRead2_CreateVTable(&look_stream, False);
  look_stream.buf = look_buffer.data();
  look_stream.bufSize = look_buffer.size();
  look_stream.realStream = &file_stream.vt;
  LookToRead2_INIT(&look_stream);

  static const ISzAlloc kHeap = {&SzAlloc, &SzFree};
  static const ISzAlloc kHeapTemp = {&SzAllocTemp, &SzFreeTemp};
  CrcGenerateTable();
  ScopedArchiveDatabase archive(&kHeap);
  CSzArEx* const database = archive.get();
  const SRes opened = SzArEx_Open(database, &look_stream.vt, &kHeap, &kHeapTemp);
  if (opened != SZ_OK) {
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << opened;
    return kUnpackFailed;
  }

  // The cache of the decoded solid block: entries of one block are cut out of one decoding.
  TempFileMappingAllocator output_allocator(target);
  UInt32 block_index = 0xFFFFFFFF;
  Byte* block = nullptr;
  size_t block_size = 0;
  if (delegate_)
    delegate_->SetTotalProgress(static_cast<int>(database->NumFiles));

  DWORD result = ERROR_SUCCESS;
  // Every way out of the loop below reaches Finish before the block the files point into is freed.
  ParallelFileWriter writer(
      [this, &target](const ParallelFileWriter::File& file) {
        return WriteEntry(file.path, file.data, file.size, file.has_time ? &file.last_write : nullptr,
                          IsToBeHeld(target, file.path));
      },
      database->NumFiles >= kEntriesWorthThreads ? kWriterThreads : 0);
  for (UInt32 i = 0; i < database->NumFiles; ++i) {
    if (delegate_)
      delegate_->SetCurrentProgress(static_cast<int>(i));
    size_t offset = 0;
    size_t size = 0;
    // Folders and empty files have no data. Extracting them would also drop the cached block, and a folder
    // listed between two files of one solid block would have the whole block decoded twice.
    if (database->FileToFolder[i] != static_cast<UInt32>(-1)) {
      // Decoding another block replaces the buffer that the files being written point into.
      if (database->FileToFolder[i] != block_index) {
        result = writer.Finish();
        if (result != ERROR_SUCCESS)
          break;
      }
      const SRes extracted = SzArEx_Extract(database, &look_stream.vt, i, &block_index, &block, &block_size,
                                            &offset, &size, output_allocator.sdk_allocator(), &kHeapTemp);
      if (extracted != SZ_OK) {
        LOG(ERROR) << "Error returned by SzExtract: " << extracted;
        result = kUnpackFailed;
        break;
      }
    }

    // An archive without the names property has no name table at all, which the reader does not check.
    const size_t name_length = database->FileNameOffsets ? SzArEx_GetFileNameUtf16(database, i, nullptr) : 0;
    if (name_length == 0) {
      LOG(ERROR) << "Couldn't get file name";
      result = kUnpackFailed;
      break;
    }
    std::wstring name(name_length, L'\0');
    SzArEx_GetFileNameUtf16(database, i, reinterpret_cast<UInt16*>(name.data()));
    name.resize(name_length - 1);
    // 7z stores '/' between components; the paths built here use the system's own separator throughout.
    std::replace(name.begin(), name.end(), L'/', L'\\');
    if (!StaysInsideTarget(name)) {
      LOG(ERROR) << "Refusing archive entry outside the unpack folder: " << name;
      result = kUnpackFailed;
      break;
    }

    const base::FilePath path = target.Append(name);
    // An archive may name one place twice (as a file, or as a file and a folder): what stands there at the end
    // is what the later entry makes, so the files being written are finished before it.
    const base::FilePath folder = SzArEx_IsDir(database, i) ? path : path.DirName();
    if (writer.IsPending(path.value()) || NamesPendingFile(target, folder, writer)) {
      result = writer.Finish();
      if (result != ERROR_SUCCESS)
        break;
    }
    // A folder that cannot be made shows as a file that cannot be created.
    CreateFolder(folder);
    if (SzArEx_IsDir(database, i))
      continue;
    ParallelFileWriter::File file{path, size ? block + offset : nullptr, size,
                                  SzBitWithVals_Check(&database->MTime, i) != 0, {}};
    if (file.has_time)
      file.last_write = {database->MTime.Vals[i].Low, database->MTime.Vals[i].High};
    // A failed write ends the unpacking: its error is what Finish reports.
    if (!writer.Add(std::move(file)))
      break;
  }
  // Whatever ended the loop, the files before that point are written, as they would have been one by one.
  const DWORD written = writer.Finish();
  if (result == ERROR_SUCCESS)
    result = written;
  output_allocator.Free(block);
  return result;
}

bool LzmaUtil::NamesPendingFile(const base::FilePath& target, const base::FilePath& folder,
                                const ParallelFileWriter& writer) const {
  if (created_folders_.count(folder.value()))
    return false;
  for (base::FilePath place = folder; place.value().size() > target.value().size(); place = place.DirName()) {
    if (writer.IsPending(place.value()))
      return true;
  }
  return false;
}

bool LzmaUtil::CreateFolder(const base::FilePath& folder) {
  if (created_folders_.count(folder.value()))
    return true;
  if (!base::CreateDirectory(folder))
    return false;
  created_folders_.insert(folder.value());
  return true;
}

void LzmaUtil::SetWriteFileForTesting(WriteFileFunction write_file) {
  g_write_file = write_file ? write_file : &::WriteFile;
}

std::vector<base::File> LzmaUtil::TakeHeldFiles() {
  base::AutoLock lock(held_lock_);
  std::vector<base::File> files;
  for (auto& [path, file] : held_files_)
    files.push_back(std::move(file));
  held_files_.clear();
  return files;
}

bool LzmaUtil::IsToBeHeld(const base::FilePath& target, const base::FilePath& path) const {
  base::FilePath relative;
  if (files_to_hold_.empty() || !target.AppendRelativePath(path, &relative))
    return false;
  // As the system resolves the name: "." components go, and so do a name's trailing dots and blanks.
  std::vector<std::wstring> components;
  relative.GetComponents(&components);
  components.erase(std::remove_if(components.begin(), components.end(),
                                  [](const std::wstring& c) { return c.find_first_not_of(L".\\/") == c.npos; }),
                   components.end());
  if (components.size() != 1)
    return false;
  std::wstring name = components[0];
  name.erase(name.find_last_not_of(L". ") + 1);
  return std::any_of(files_to_hold_.begin(), files_to_hold_.end(), [&name](const std::wstring& held) {
    return base::FilePath::CompareIgnoreCase(name, held) == 0;
  });
}

void LzmaUtil::LetGoOf(const base::FilePath& path) {
  base::AutoLock lock(held_lock_);
  held_files_.erase(std::remove_if(held_files_.begin(), held_files_.end(),
                                   [&path](const auto& held) {
                                     return base::FilePath::CompareIgnoreCase(held.first.value(), path.value()) == 0;
                                   }),
                    held_files_.end());
}

DWORD LzmaUtil::HoldWrittenFile(const base::FilePath& path, const uint8_t* data, size_t size) {
  // From this open on nobody can write, replace, rename or delete the file. What happened to it between its
  // writing and this open is found out by reading it back.
  base::File held(path, base::FileFlags::Open | base::FileFlags::Read | base::FileFlags::ExclusiveWrite);
  if (!held.IsValid()) {
    const DWORD error = LastErrorOr(ERROR_SHARING_VIOLATION);
    LOG(ERROR) << "Could not hold the unpacked " << path.value() << ": " << error;
    return error;
  }
  constexpr int kChunk = 1 << 20;
  std::vector<char> read_back(kChunk);
  for (size_t done = 0;;) {
    const int read = held.Read(static_cast<int64_t>(done), read_back.data(), kChunk);
    if (read == 0 && done == size)
      break;
    if (read <= 0 || static_cast<size_t>(read) > size - done ||
        std::memcmp(read_back.data(), data + done, static_cast<size_t>(read)) != 0) {
      LOG(ERROR) << "The unpacked " << path.value() << " changed before it was held";
      return kChangedFile;
    }
    done += static_cast<size_t>(read);
  }
  base::AutoLock lock(held_lock_);
  held_files_.emplace_back(path, std::move(held));
  return ERROR_SUCCESS;
}

DWORD LzmaUtil::WriteEntry(const base::FilePath& path, const uint8_t* data, size_t size, const FILETIME* last_write,
                           bool hold) {
  // An earlier entry of the same place is finished already; the later one is what stands there.
  if (hold)
    LetGoOf(path);
  base::win::ScopedHandle file(
      CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    const DWORD error = LastErrorOr(ERROR_OPEN_FAILED);
    LOG(ERROR) << "Error returned by CreateFile: " << error;
    return error;
  }
  // One call per entry; only an entry beyond what one call can take is written in pieces.
  size_t done = 0;
  do {
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(size - done, MAXDWORD));
    DWORD written = 0;
    SetLastError(ERROR_SUCCESS);
    if (!g_write_file(file.Get(), data + done, wanted, &written, nullptr) || written != wanted) {
      const DWORD error = LastErrorOr(kShortWriteError);
      LOG(ERROR) << "Error returned by WriteFile: " << error;
      return error;
    }
    done += written;
  } while (done < size);
  if (last_write && !SetFileTime(file.Get(), nullptr, nullptr, last_write)) {
    const DWORD error = LastErrorOr(ERROR_INVALID_FUNCTION);
    LOG(ERROR) << "Error returned by SetFileTime: " << error;
    return error;
  }
  // Closed here, not by the holder, so that a failed close is reported instead of stopping the process.
  if (!CloseHandle(file.Take())) {
    const DWORD error = LastErrorOr(ERROR_INVALID_HANDLE);
    LOG(ERROR) << "Error returned by CloseHandle: " << error;
    return error;
  }
  return hold ? HoldWrittenFile(path, data, size) : ERROR_SUCCESS;
}

}  // namespace zorvi::installer
