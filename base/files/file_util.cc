#include "base/files/file_util.h"

#include <io.h>
#include <share.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"

// A verbose message at `level` that ends with the text of the thread's last error.
#define FILE_VPLOG(level)                                                                                \
  LAZY_STREAM(::logging::Win32ErrorLogMessage(__FILE__, __LINE__, -(level), ::logging::GetLastSystemError()) \
                  .stream(),                                                                             \
              VLOG_IS_ON(level))

namespace base {

namespace {

// Longer paths are refused rather than passed to the system.
bool IsTooLong(const FilePath& path) { return path.value().length() >= MAX_PATH; }

win::ScopedHandle OpenHandle(const FilePath& path, DWORD access, DWORD sharing, DWORD disposition,
                             DWORD flags) {
  return win::ScopedHandle(::CreateFileW(path.value().c_str(), access, sharing, nullptr, disposition, flags, nullptr));
}

bool ClearReadOnly(const FilePath& path, DWORD attributes) {
  return ::SetFileAttributesW(path.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

// A folder that is a reparse point (a junction, a symbolic link to a folder) goes by itself, as the enumerator
// never enters one either: what it points to may lie anywhere and belongs to whoever made the link.
bool IsLinkToFolder(DWORD attributes) {
  constexpr DWORD kLinkToFolder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return (attributes & kLinkToFolder) == kLinkToFolder;
}

// Deletes the entries of `dir` that match `pattern`. Folders are skipped unless recursive; a matching folder
// goes with everything in it, a link to a folder by itself.
bool DeleteMatchingEntries(const FilePath& dir, const FilePath::StringType& pattern, bool recursive) {
  FileEnumerator entries(dir, false, FileEnumerator::FILES | FileEnumerator::DIRECTORIES, pattern);
  for (FilePath current = entries.Next(); !current.empty(); current = entries.Next()) {
    const FileEnumerator::FileInfo info = entries.GetInfo();
    // The system's search also matches short names ("*.tmp" finds "notes.tmpl" through "NOTES~1.TMP"): only
    // the name itself decides what goes.
    if (!::PathMatchSpecW(info.find_data().cFileName, pattern.c_str()))
      continue;
    const bool is_directory = info.IsDirectory();
    if (is_directory && !recursive)
      continue;
    const DWORD attributes = info.find_data().dwFileAttributes;
    if (IsLinkToFolder(attributes)) {
      if (!::RemoveDirectoryW(current.value().c_str()))
        return false;
      continue;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !ClearReadOnly(current, attributes))
      return false;
    if (is_directory) {
      if (!DeleteMatchingEntries(current, L"*", true) || !::RemoveDirectoryW(current.value().c_str()))
        return false;
    } else if (!::DeleteFileW(current.value().c_str())) {
      return false;
    }
  }
  return true;
}

// Whether both paths are known to lie on one volume (the second need not exist yet).
bool OnOneVolume(const FilePath& a, const FilePath& b) {
  wchar_t volume_a[MAX_PATH];
  wchar_t volume_b[MAX_PATH];
  return ::GetVolumePathNameW(a.value().c_str(), volume_a, MAX_PATH) &&
         ::GetVolumePathNameW(b.value().c_str(), volume_b, MAX_PATH) &&
         FilePath::CompareIgnoreCase(volume_a, volume_b) == 0;
}

struct StreamCloser {
  void operator()(FILE* file) const { fclose(file); }
};

// One file copied to `to`, over what is there only when `replace`; the copy is never read-only.
bool CopyOneFile(const FilePath& from, const FilePath& to, bool replace) {
  if (from.ReferencesParent() || to.ReferencesParent())
    return false;
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  if (!::CopyFileW(from.value().c_str(), to.value().c_str(), replace ? FALSE : TRUE))
    return false;
  // A copy of a read-only file is read-only too; copies made here must stay replaceable.
  const DWORD attributes = ::GetFileAttributesW(to.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    return ClearReadOnly(to, attributes);
  return true;
}

}  // namespace

int WriteFile(const FilePath& path, const char* data, int size) {
  if (size < 0)
    return -1;
  win::ScopedHandle file = OpenHandle(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
  if (!file.IsValid())
    return -1;
  DWORD written = 0;
  if (::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) &&
      written == static_cast<DWORD>(size)) {
    return size;
  }
  return -1;
}

bool AppendToFile(const FilePath& path, const char* data, int size) {
  if (size < 0)
    return false;
  win::ScopedHandle file = OpenHandle(path, FILE_APPEND_DATA, 0, OPEN_EXISTING, 0);
  if (!file.IsValid()) {
    FILE_VPLOG(1) << "CreateFile failed for path " << path.AsUTF8();
    return false;
  }
  DWORD written = 0;
  const BOOL result = ::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr);
  if (result && written == static_cast<DWORD>(size))
    return true;
  if (!result)
    FILE_VPLOG(1) << "Writing file " << path.AsUTF8() << " failed";
  else
    FILE_VPLOG(1) << "Only wrote " << written << " out of " << size << " byte(s) to " << path.AsUTF8();
  return false;
}

int ReadFile(const FilePath& path, char* data, int max_size) {
  if (max_size < 0)
    return -1;
  win::ScopedHandle file = OpenHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN);
  if (!file.IsValid())
    return -1;
  DWORD read = 0;
  if (!::ReadFile(file.Get(), data, static_cast<DWORD>(max_size), &read, nullptr))
    return -1;
  return static_cast<int>(read);
}

bool ReadFileToString(const FilePath& path, std::string* contents) {
  return ReadFileToStringWithMaxSize(path, contents, std::numeric_limits<size_t>::max());
}

bool ReadFileToStringWithMaxSize(const FilePath& path, std::string* contents, size_t max_size) {
  if (contents)
    contents->clear();
  if (path.ReferencesParent())
    return false;
  std::unique_ptr<FILE, StreamCloser> file(OpenFile(path, "rb"));
  if (!file)
    return false;

  constexpr size_t kChunkSize = 1 << 16;
  std::unique_ptr<char[]> scratch;
  if (contents) {
    // One allocation for the usual case: the size the file has now, within the limit.
    const int64_t length = _filelengthi64(_fileno(file.get()));
    if (length > 0)
      contents->reserve(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(length), max_size)));
  } else {
    scratch.reset(new char[kChunkSize]);
  }
  size_t size = 0;
  bool within_limit = true;
  for (;;) {
    char* chunk = scratch.get();
    if (contents) {
      contents->resize(size + kChunkSize);
      chunk = &(*contents)[size];
    }
    const size_t read = fread(chunk, 1, kChunkSize, file.get());
    if (read == 0)
      break;
    if (max_size - size < read) {
      size = max_size;  // only what fits stays
      within_limit = false;
      break;
    }
    size += read;
  }
  if (contents)
    contents->resize(size);
  return within_limit && !ferror(file.get());
}

bool ContentsEqual(const FilePath& a, const FilePath& b) {
  File first(a, FileFlags::Open | FileFlags::Read | FileFlags::SequentialScan);
  File second(b, FileFlags::Open | FileFlags::Read | FileFlags::SequentialScan);
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

bool IsSameOrInsideFolder(const FilePath& path, const FilePath& folder) {
  std::vector<FilePath::StringType> path_components;
  std::vector<FilePath::StringType> folder_components;
  path.GetComponents(&path_components);
  folder.GetComponents(&folder_components);
  if (folder_components.empty() || path_components.size() < folder_components.size())
    return false;
  for (size_t i = 0; i < folder_components.size(); ++i) {
    if (FilePath::CompareIgnoreCase(path_components[i], folder_components[i]) != 0)
      return false;
  }
  return true;
}

bool CopyFile(const FilePath& from, const FilePath& to) {
  return CopyOneFile(from, to, true);
}

bool CopyFileToNewPath(const FilePath& from, const FilePath& to) {
  return CopyOneFile(from, to, false);
}

bool CopyDirectory(const FilePath& from, const FilePath& to, bool recursive) {
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  // Each end is looked at once: nothing below changes either before the copy starts.
  const DWORD to_attributes = ::GetFileAttributesW(to.value().c_str());
  const FilePath destination_base =
      MakeAbsoluteFilePath(to_attributes != INVALID_FILE_ATTRIBUTES ? to : to.DirName());
  if (destination_base.empty())
    return false;
  const FilePath source_base = MakeAbsoluteFilePath(from);
  if (source_base.empty() || IsSameOrInsideFolder(destination_base, source_base))
    return false;

  FileEnumerator traversal(from, recursive,
                           recursive ? FileEnumerator::FILES | FileEnumerator::DIRECTORIES : FileEnumerator::FILES);
  const DWORD from_attributes = ::GetFileAttributesW(from.value().c_str());
  if (from_attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  // Into an existing folder the tree goes as a folder of its own name.
  const bool to_is_directory =
      to_attributes != INVALID_FILE_ATTRIBUTES && (to_attributes & FILE_ATTRIBUTE_DIRECTORY);
  const FilePath relative_base = recursive && to_is_directory ? from.DirName() : from;

  for (FilePath current = from; !current.empty(); current = traversal.Next()) {
    FilePath target = to;
    if (current != relative_base && !relative_base.AppendRelativePath(current, &target))
      return false;
    const bool is_directory =
        current == from ? (from_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 : traversal.GetInfo().IsDirectory();
    if (is_directory) {
      if (!::CreateDirectoryW(target.value().c_str(), nullptr) &&
          !(GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(target))) {
        return false;
      }
    } else if (!CopyFile(current, target)) {
      return false;
    }
  }
  return true;
}

bool CopyAndDeleteDirectory(const FilePath& from, const FilePath& to) {
  // A failed copy must not cost the source.
  return CopyDirectory(from, to, true) && DeleteFile(from, true);
}

bool MovePath(const FilePath& from, const FilePath& to) {
  if (from.ReferencesParent() || to.ReferencesParent())
    return false;
  return MoveUnsafe(from, to);
}

bool MoveUnsafe(const FilePath& from, const FilePath& to) {
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  if (::MoveFileExW(from.value().c_str(), to.value().c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING))
    return true;
  const DWORD error = GetLastError();
  // A folder is never copied to another volume here: a link that any user may make to a volume's root looks like
  // a folder mounted from another volume, and copying and deleting "it" would take that whole volume along.
  // Callers that move folders across volumes copy and check themselves.
  SetLastError(DirectoryExists(from) && !OnOneVolume(from, to) ? ERROR_NOT_SAME_DEVICE : error);
  return false;
}

bool RenameThroughHandle(HANDLE object, const FilePath& to, bool replace_existing) {
  const std::wstring& name = to.value();
  const size_t size = offsetof(FILE_RENAME_INFO, FileName) + (name.size() + 1) * sizeof(wchar_t);
  auto buffer = std::make_unique<unsigned char[]>(size);  // zeroed: no root folder
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
  rename->ReplaceIfExists = replace_existing;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  memcpy(rename->FileName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  return ::SetFileInformationByHandle(object, FileRenameInfo, rename, static_cast<DWORD>(size)) != FALSE;
}

bool ReplaceFile(const FilePath& from, const FilePath& to, FileError* error) {
  if (::MoveFileW(from.value().c_str(), to.value().c_str()))
    return true;
  if (::ReplaceFileW(to.value().c_str(), from.value().c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                   nullptr)) {
    return true;
  }
  if (error)
    *error = File::OsErrorToFileError(GetLastError());
  return false;
}

bool DeleteFile(const FilePath& path, bool recursive) {
  if (path.empty())
    return true;
  if (IsTooLong(path))
    return false;
  const FilePath::StringType base_name = path.BaseName().value();
  if (base_name.find_first_of(L"*?") != FilePath::StringType::npos)
    return DeleteMatchingEntries(path.DirName(), base_name, recursive);

  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Nothing there is nothing to delete; any other reason it cannot be read is a failure.
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if (IsLinkToFolder(attributes))
    return ::RemoveDirectoryW(path.value().c_str()) != FALSE;
  if ((attributes & FILE_ATTRIBUTE_READONLY) && !ClearReadOnly(path, attributes))
    return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (recursive && !DeleteMatchingEntries(path, L"*", true))
      return false;
    return ::RemoveDirectoryW(path.value().c_str()) != FALSE;
  }
  return ::DeleteFileW(path.value().c_str()) != FALSE;
}

bool DeleteFileAfterReboot(const FilePath& path) {
  if (IsTooLong(path))
    return false;
  return ::MoveFileExW(path.value().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) !=
         FALSE;
}

bool CreateDirectory(const FilePath& path) { return CreateDirectoryAndGetError(path, nullptr); }

bool CreateDirectoryAndGetError(const FilePath& path, FileError* error) {
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      return true;
    if (error)
      *error = FileError::NotADirectory;
    return false;
  }
  const FilePath parent = path.DirName();
  if (parent == path) {
    if (error)
      *error = FileError::NotFound;
    return false;
  }
  if (!CreateDirectoryAndGetError(parent, error))
    return false;
  if (::CreateDirectoryW(path.value().c_str(), nullptr))
    return true;
  const DWORD code = GetLastError();
  // Another process may have made it meanwhile.
  if (code == ERROR_ALREADY_EXISTS && DirectoryExists(path))
    return true;
  if (error)
    *error = File::OsErrorToFileError(code);
  SetLastError(code);
  return false;
}

bool CreateTemporaryFileInDir(const FilePath& dir, FilePath* temp_file) {
  wchar_t temp_name[MAX_PATH + 1];
  if (!::GetTempFileNameW(dir.value().c_str(), L"", 0, temp_name))
    return false;
  wchar_t long_name[MAX_PATH + 1];
  const DWORD length = ::GetLongPathNameW(temp_name, long_name, MAX_PATH + 1);
  if (length >= 1 && length <= MAX_PATH)
    *temp_file = FilePath(long_name);
  else
    *temp_file = FilePath(temp_name);
  return true;
}

bool CreateTemporaryFile(FilePath* temp_file) {
  FilePath temp_dir;
  return GetTempDir(&temp_dir) && CreateTemporaryFileInDir(temp_dir, temp_file);
}

bool GetTempDir(FilePath* path) {
  wchar_t temp_path[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, temp_path);
  if (length == 0 || length >= MAX_PATH)
    return false;
  *path = FilePath(temp_path).StripTrailingSeparators();
  return true;
}

FilePath GetHomeDir() {
  wchar_t profile[MAX_PATH];
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)) && profile[0])
    return FilePath(profile);
  FilePath temp_dir;
  if (GetTempDir(&temp_dir))
    return temp_dir;
  return FilePath(L"C:\\");
}

bool GetCurrentDirectory(FilePath* path) {
  wchar_t current[MAX_PATH + 1];
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH + 1, current);
  if (length == 0 || length > MAX_PATH)
    return false;
  *path = FilePath(current).StripTrailingSeparators();
  return true;
}

bool SetCurrentDirectory(const FilePath& path) { return ::SetCurrentDirectoryW(path.value().c_str()) != FALSE; }

FilePath MakeAbsoluteFilePath(const FilePath& path) {
  wchar_t full_path[MAX_PATH];
  const DWORD length = ::GetFullPathNameW(path.value().c_str(), MAX_PATH, full_path, nullptr);
  if (length == 0 || length >= MAX_PATH)
    return FilePath();
  return FilePath(full_path);
}

bool PathExists(const FilePath& path) { return ::GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES; }

bool DirectoryExists(const FilePath& path) {
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsWritable(const FilePath& path) {
  return OpenHandle(path, FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS)
      .IsValid();
}

bool GetFileInfo(const FilePath& path, File::Info* info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard, &data))
    return false;
  info->size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  info->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->last_modified = Time::FromFileTime(data.ftLastWriteTime);
  info->last_accessed = Time::FromFileTime(data.ftLastAccessTime);
  info->creation_time = Time::FromFileTime(data.ftCreationTime);
  return true;
}

bool GetFileSize(const FilePath& path, int64_t* size) {
  File::Info info;
  if (!GetFileInfo(path, &info))
    return false;
  *size = info.size;
  return true;
}

FILE* OpenFile(const FilePath& path, const char* mode) {
  const std::wstring wide_mode(mode, mode + strlen(mode));
  return _wfsopen(path.value().c_str(), wide_mode.c_str(), _SH_DENYNO);
}

bool CloseFile(FILE* file) { return !file || fclose(file) == 0; }

}  // namespace base
