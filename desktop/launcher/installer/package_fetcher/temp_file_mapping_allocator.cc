#include "desktop/launcher/installer/package_fetcher/temp_file_mapping_allocator.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>

extern "C" {
#include "7zAlloc.h"
}

#include "base/files/file_util.h"

namespace zorvi::installer {

TempFileMappingAllocator::TempFileMappingAllocator(const base::FilePath& folder)
    : interface_{{&SzAlloc, &SzFree}, this} {
  if (!base::CreateTemporaryFileInDir(folder, &temp_file_path_))
    return;
  temp_file_.Initialize(temp_file_path_, base::FileFlags::CreateAlways | base::FileFlags::Read |
                                             base::FileFlags::Write | base::FileFlags::Temporary |
                                             base::FileFlags::DeleteOnClose);
  if (!temp_file_.IsValid()) {
    // Not opened delete-on-close: the empty file would stay behind in the unpack folder.
    base::DeleteFile(temp_file_path_, false);
    return;
  }
  interface_.functions = {&SdkAlloc, &SdkFree};
}

TempFileMappingAllocator::~TempFileMappingAllocator() {
  ReleaseView();
}

void* TempFileMappingAllocator::Alloc(size_t size) {
  if (size == 0)
    return nullptr;
  // One file backs one view: a second buffer while the first is mapped would resize the file under it.
  if (temp_file_.IsValid() && !view_ && size <= static_cast<size_t>(INT64_MAX) &&
      temp_file_.SetLength(static_cast<int64_t>(size))) {
    mapping_.Set(CreateFileMappingW(temp_file_.GetPlatformFile(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
    if (mapping_.IsValid()) {
      view_ = MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, 0);
      if (view_)
        return view_;
      mapping_.Close();
    }
  }
  return malloc(size);
}

void TempFileMappingAllocator::Free(void* address) {
  if (!address)
    return;
  if (address == view_)
    ReleaseView();
  else
    free(address);
}

void TempFileMappingAllocator::ReleaseView() {
  if (view_)
    UnmapViewOfFile(view_);
  view_ = nullptr;
  mapping_.Close();
}

void* TempFileMappingAllocator::SdkAlloc(ISzAllocPtr allocator, size_t size) {
  return reinterpret_cast<const SdkInterface*>(allocator)->owner->Alloc(size);
}

void TempFileMappingAllocator::SdkFree(ISzAllocPtr allocator, void* address) {
  reinterpret_cast<const SdkInterface*>(allocator)->owner->Free(address);
}

}  // namespace zorvi::installer
