#include "desktop/launcher/installer/package_fetcher/temp_file_mapping_allocator.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

extern "C" {
#include "7zAlloc.h"
}

#include "base/threading/simple_thread.h"

namespace zorvi::installer {

namespace {

// Below this a second thread costs more than the faults it would take over.
constexpr size_t kPageTouchMinimum = 4 << 20;

}  // namespace

// Writes each page of a view once, front to back, until done or stopped. The decoder may be writing the same
// page at that moment: a locked OR of 0 reads and writes back the page's first four bytes as one indivisible
// operation, so it never undoes a store of the decoder's, whichever comes first.
class TempFileMappingAllocator::PageToucher : public base::SimpleThread {
 public:
  PageToucher(void* view, size_t size) : base::SimpleThread("PageToucher"), view_(view), size_(size) {}
  // Returns once the thread has ended; the view may then be unmapped.
  ~PageToucher() override {
    stop_.store(true, std::memory_order_relaxed);
    if (HasBeenStarted())
      Join();
  }

  void Run() override {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char* const start = static_cast<char*>(view_);
    for (size_t offset = 0; offset < size_ && !stop_.load(std::memory_order_relaxed);
         offset += system.dwPageSize) {
      InterlockedOr(reinterpret_cast<volatile LONG*>(start + offset), 0);
    }
  }

 private:
  void* const view_;
  const size_t size_;
  std::atomic<bool> stop_{false};
};

TempFileMappingAllocator::TempFileMappingAllocator(const base::FilePath& folder)
    : interface_{{&SzAlloc, &SzFree}, this} {
  // The file is created under a free unique name and opened delete-on-close in one step. Making an empty file
  // first and then opening it to overwrite would truncate it, and some file systems (ext4, which carries the
  // test machines' prefixes) answer a truncated file by writing all of its content to disk when it is closed:
  // here the whole decoded block, which the temporary attribute is there to keep off the disk. One step also
  // leaves no moment in which a killed process would leave an empty file behind in the unpack folder.
  constexpr uint32_t kFlags = base::FileFlags::Create | base::FileFlags::Read | base::FileFlags::Write |
                              base::FileFlags::Temporary | base::FileFlags::DeleteOnClose;
  // The names the system's own temporary-file function gives: the folder, a hexadecimal number, ".tmp".
  UINT unique = GetTickCount() % 0xFFFF + 1;
  for (int attempt = 0; attempt < 0xFFFF; ++attempt, unique = unique % 0xFFFF + 1) {
    wchar_t name[MAX_PATH];
    if (!GetTempFileNameW(folder.value().c_str(), L"", unique, name))
      return;
    temp_file_.Initialize(base::FilePath(name), kFlags);
    if (temp_file_.IsValid()) {
      temp_file_path_ = base::FilePath(name);
      interface_.functions = {&SdkAlloc, &SdkFree};
      return;
    }
    if (temp_file_.error_details() != base::FileError::Exists)
      return;
  }
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
      if (view_) {
        if (size >= kPageTouchMinimum) {
          page_toucher_ = std::make_unique<PageToucher>(view_, size);
          // Without the thread the decoder takes the faults itself.
          if (!page_toucher_->Start())
            page_toucher_.reset();
        }
        return view_;
      }
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
  page_toucher_.reset();
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
