// MemoryMappedFile: a read-only view of a whole file.
#ifndef BASE_FILES_MEMORY_MAPPED_FILE_H_
#define BASE_FILES_MEMORY_MAPPED_FILE_H_

#include <cstddef>
#include <cstdint>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace base {

class MemoryMappedFile {
 public:
  MemoryMappedFile();
  MemoryMappedFile(const MemoryMappedFile&) = delete;
  MemoryMappedFile& operator=(const MemoryMappedFile&) = delete;
  ~MemoryMappedFile();

  // Opens `path` for reading and maps all of it. False when a view is mapped already, when the file cannot
  // be opened or mapped, and for empty files and files above 2 GiB - 1.
  bool Initialize(const FilePath& path);
  // Maps all of `file`, which must be open for reading, and keeps it open, with the sharing it was opened with, for
  // as long as the view lasts. False as above; the file is then closed.
  bool Initialize(File file);

  const uint8_t* data() const { return data_; }
  size_t length() const { return length_; }
  bool IsValid() const { return data_ != nullptr; }
  // The mapped file's handle; null while nothing is mapped.
  HANDLE file_handle() const { return file_.GetPlatformFile(); }

 private:
  bool MapFileToMemory();
  void CloseHandles();

  File file_;
  uint8_t* data_ = nullptr;
  size_t length_ = 0;
  win::ScopedHandle file_mapping_;
};

}  // namespace base

#endif  // BASE_FILES_MEMORY_MAPPED_FILE_H_
