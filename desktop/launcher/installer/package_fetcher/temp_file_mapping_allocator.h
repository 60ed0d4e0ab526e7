// The 7z reader's output allocator: the buffer that holds a whole decoded solid block (easily hundreds of
// megabytes) lives in a memory-mapped temporary file inside the unpack folder, backed by disk space there
// rather than by the heap. The file is opened delete-on-close, so it disappears with the allocator whatever
// happens. Without a temporary file, or when a mapping fails, buffers come from the heap.
//
// Every first write to a page of the view is a page fault that the system serves by finding room for that part
// of the file, which costs the decoder a large share of its time. A large view therefore has its pages faulted
// in by a second thread that runs ahead of the decoder and stops before the view is unmapped.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_TEMP_FILE_MAPPING_ALLOCATOR_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_TEMP_FILE_MAPPING_ALLOCATOR_H_

#include <cstddef>
#include <memory>

extern "C" {
#include "7zTypes.h"
}

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

class TempFileMappingAllocator {
 public:
  // Creates the temporary file in `folder`; when that fails the allocator is the heap.
  explicit TempFileMappingAllocator(const base::FilePath& folder);
  TempFileMappingAllocator(const TempFileMappingAllocator&) = delete;
  TempFileMappingAllocator& operator=(const TempFileMappingAllocator&) = delete;
  // Unmaps a buffer still held; closing the file deletes it.
  ~TempFileMappingAllocator();

  // The allocator as the 7z reader takes it.
  ISzAllocPtr sdk_allocator() const { return &interface_.functions; }

  // Null for 0 bytes. The first buffer at a time is a view of the whole temporary file, grown to `size`;
  // any other buffer, and every buffer when the file cannot be used, comes from the heap.
  void* Alloc(size_t size);
  // Unmaps the view when `address` is it, else frees heap memory; null does nothing.
  void Free(void* address);

  bool has_temp_file() const { return temp_file_.IsValid(); }
  const base::FilePath& temp_file_path() const { return temp_file_path_; }

 private:
  // The reader calls through the function pair at the start of this record and passes the record itself.
  struct SdkInterface {
    ISzAlloc functions;
    TempFileMappingAllocator* owner;
  };
  static void* SdkAlloc(ISzAllocPtr allocator, size_t size);
  static void SdkFree(ISzAllocPtr allocator, void* address);

  class PageToucher;

  void ReleaseView();

  SdkInterface interface_;
  base::FilePath temp_file_path_;
  base::File temp_file_;
  base::win::ScopedHandle mapping_;
  void* view_ = nullptr;
  std::unique_ptr<PageToucher> page_toucher_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_TEMP_FILE_MAPPING_ALLOCATOR_H_
