// FileEnumerator walks a folder, or its whole tree, one path at a time. Folders below the root are searched
// depth first (the last found is searched next); reparse points (junctions, links to folders) are returned
// but never entered, so a walk cannot cycle.
#ifndef BASE_FILES_FILE_ENUMERATOR_H_
#define BASE_FILES_FILE_ENUMERATOR_H_

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/files/file_path.h"
#include "base/time/time.h"

namespace base {

class FileEnumerator {
 public:
  // Bits of the type mask.
  enum FileType {
    FILES = 1,
    DIRECTORIES = 2,
    INCLUDE_DOT_DOT = 4,  // also return each folder's ".." entry (never entered)
  };

  // A copy of the system's find record of one entry.
  class FileInfo {
   public:
    FileInfo();
    explicit FileInfo(const WIN32_FIND_DATAW& find_data) : find_data_(find_data) {}

    bool IsDirectory() const { return (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // The entry's own name, without its folder.
    FilePath GetName() const { return FilePath(find_data_.cFileName); }
    int64_t GetSize() const;
    Time GetLastModifiedTime() const { return Time::FromFileTime(find_data_.ftLastWriteTime); }
    const WIN32_FIND_DATAW& find_data() const { return find_data_; }

   private:
    WIN32_FIND_DATAW find_data_;
  };

  // `file_type` is a mask of FileType bits. The pattern (wildcards as the system's search takes them;
  // empty means every entry) applies to the root folder only: folders found below it are searched whole.
  FileEnumerator(const FilePath& root, bool recursive, int file_type);
  FileEnumerator(const FilePath& root, bool recursive, int file_type, const FilePath::StringType& pattern);
  FileEnumerator(const FileEnumerator&) = delete;
  FileEnumerator& operator=(const FileEnumerator&) = delete;
  ~FileEnumerator();

  // The next matching path (the folder searched plus the entry's name), or an empty path at the end.
  FilePath Next();
  // The find record of the entry that Next returned last; all zero when there is none.
  FileInfo GetInfo() const;

 private:
  HANDLE find_handle_ = INVALID_HANDLE_VALUE;  // valid while find_data_ holds an entry of the search
  WIN32_FIND_DATAW find_data_;
  FilePath root_path_;  // the folder being searched
  bool recursive_;
  int file_type_;
  FilePath::StringType pattern_;
  std::vector<FilePath> pending_paths_;  // a stack: the last pushed is searched next
};

}  // namespace base

#endif  // BASE_FILES_FILE_ENUMERATOR_H_
