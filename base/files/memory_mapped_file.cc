#include "base/files/memory_mapped_file.h"

#include <windows.h>

#include <utility>

namespace base {

namespace {

constexpr int64_t kMaxMappedLength = 0x7FFFFFFF;

}  // namespace

MemoryMappedFile::MemoryMappedFile() = default;

MemoryMappedFile::~MemoryMappedFile() { CloseHandles(); }

bool MemoryMappedFile::Initialize(const FilePath& path) {
  if (IsValid())
    return false;
  return Initialize(File(path, FileFlags::Open | FileFlags::Read));
}

bool MemoryMappedFile::Initialize(File file) {
  if (IsValid() || !file.IsValid())
    return false;
  file_ = std::move(file);
  if (!MapFileToMemory()) {
    CloseHandles();
    return false;
  }
  return true;
}

bool MemoryMappedFile::MapFileToMemory() {
  file_mapping_.Set(CreateFileMappingW(file_.GetPlatformFile(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!file_mapping_.IsValid())
    return false;
  const int64_t length = file_.GetLength();
  if (length <= 0 || length > kMaxMappedLength)
    return false;
  data_ = static_cast<uint8_t*>(MapViewOfFile(file_mapping_.Get(), FILE_MAP_READ, 0, 0, 0));
  if (!data_)
    return false;
  length_ = static_cast<size_t>(length);
  return true;
}

void MemoryMappedFile::CloseHandles() {
  if (data_)
    UnmapViewOfFile(data_);
  data_ = nullptr;
  length_ = 0;
  file_mapping_.Close();
  file_.Close();
}

}  // namespace base
