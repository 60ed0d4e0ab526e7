#include "desktop/windows/crash_reporter/reporter/module_info_impl.h"

#include <psapi.h>

#include <cstring>
#include <memory>

#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace zorvi {
namespace installer {
namespace {

constexpr uint16_t kDosSignature = 0x5A4D;     // "MZ"
constexpr uint32_t kNtSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr uint32_t kVersionResourceId = 1;
constexpr uint32_t kHighBit = 0x80000000;  // a resource entry named by text, or one leading to a subdirectory
// Asks FindResourceEntry for the first entry with a numeric id (no id has the high bit).
constexpr uint32_t kAnyId = kHighBit;

// The PE file in memory. Every read is checked against the file's size: a file truncated, replaced or made to
// mislead may hold any value anywhere, and what lies outside the file counts as missing.
class ImageFile {
 public:
  ImageFile(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}

  // The DOS header, the NT headers and the section table; false when they are not those of a PE image.
  bool ParseHeaders();

  uint32_t timestamp() const { return timestamp_; }
  uint64_t code_end() const { return code_end_; }  // code base + code size, relative to the image base

  // The bytes at `offset`, when all `length` of them lie in the file; else null.
  const uint8_t* At(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset ? data_ + offset : nullptr;
  }
  // The bytes at a relative virtual address, found through the section table; null when no section holds it or
  // the bytes leave the file.
  const uint8_t* AtRva(uint64_t rva, uint64_t length) const;
  template <typename T>
  bool ReadRva(uint64_t rva, T* value) const {
    const uint8_t* bytes = AtRva(rva, sizeof(T));
    return bytes && (memcpy(value, bytes, sizeof(T)), true);
  }
  // A data directory's address and size; false when the image has none there.
  bool GetDirectory(uint32_t index, uint32_t* rva, uint32_t* size) const;
  // The NUL-terminated text at `rva` into `text` (at most `capacity` - 1 characters, cut at the file's end).
  bool CopyText(uint64_t rva, char* text, size_t capacity) const;

 private:
  template <typename T>
  bool Read(uint64_t offset, T* value) const {
    const uint8_t* bytes = At(offset, sizeof(T));
    return bytes && (memcpy(value, bytes, sizeof(T)), true);
  }

  const uint8_t* const data_;
  const uint64_t size_;
  uint32_t timestamp_ = 0;
  uint64_t code_end_ = 0;
  uint64_t directories_ = 0;  // file offset of the data directory table
  uint32_t directory_count_ = 0;
  uint64_t sections_ = 0;  // file offset of the section table
  uint32_t section_count_ = 0;
};

bool ImageFile::ParseHeaders() {
  IMAGE_DOS_HEADER dos;
  if (!Read(0, &dos) || dos.e_magic != kDosSignature)
    return false;
  const uint64_t nt = static_cast<uint32_t>(dos.e_lfanew);
  uint32_t signature = 0;
  IMAGE_FILE_HEADER file_header;
  uint16_t magic = 0;
  const uint64_t optional = nt + sizeof(signature) + sizeof(file_header);
  if (!Read(nt, &signature) || signature != kNtSignature || !Read(nt + sizeof(signature), &file_header) ||
      !Read(optional, &magic) || !At(optional, file_header.SizeOfOptionalHeader)) {
    return false;
  }
  // The two optional-header layouts agree up to the code fields; the directory table follows their own ends.
  uint64_t count_field = 0, table = 0;
  if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    count_field = offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
    table = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
  } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    count_field = offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
    table = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
  } else {
    return false;
  }
  if (file_header.SizeOfOptionalHeader < table)
    return false;
  uint32_t code_size = 0, code_base = 0;
  Read(optional + offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfCode), &code_size);
  Read(optional + offsetof(IMAGE_OPTIONAL_HEADER64, BaseOfCode), &code_base);
  Read(optional + count_field, &directory_count_);
  static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfCode) == offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfCode) &&
                offsetof(IMAGE_OPTIONAL_HEADER64, BaseOfCode) == offsetof(IMAGE_OPTIONAL_HEADER32, BaseOfCode));
  // Only the directories that the optional header really holds.
  const uint64_t room = (file_header.SizeOfOptionalHeader - table) / sizeof(IMAGE_DATA_DIRECTORY);
  if (directory_count_ > room)
    directory_count_ = static_cast<uint32_t>(room);
  directories_ = optional + table;
  timestamp_ = file_header.TimeDateStamp;
  code_end_ = static_cast<uint64_t>(code_base) + code_size;
  sections_ = optional + file_header.SizeOfOptionalHeader;
  section_count_ = file_header.NumberOfSections;
  return true;
}

const uint8_t* ImageFile::AtRva(uint64_t rva, uint64_t length) const {
  for (uint32_t i = 0; i < section_count_; ++i) {
    IMAGE_SECTION_HEADER section;
    if (!Read(sections_ + i * static_cast<uint64_t>(sizeof(section)), &section))
      return nullptr;  // the rest of the table lies outside the file
    const uint64_t start = section.VirtualAddress;
    if (rva >= start && rva < start + section.SizeOfRawData)
      return At(section.PointerToRawData + (rva - start), length);
  }
  return nullptr;
}

bool ImageFile::GetDirectory(uint32_t index, uint32_t* rva, uint32_t* size) const {
  IMAGE_DATA_DIRECTORY directory;
  if (index >= directory_count_ || !Read(directories_ + index * static_cast<uint64_t>(sizeof(directory)), &directory) ||
      directory.VirtualAddress == 0 || directory.Size == 0) {
    return false;
  }
  *rva = directory.VirtualAddress;
  *size = directory.Size;
  return true;
}

bool ImageFile::CopyText(uint64_t rva, char* text, size_t capacity) const {
  const uint8_t* start = AtRva(rva, 1);
  if (!start)
    return false;
  const uint64_t available = size_ - static_cast<uint64_t>(start - data_);
  size_t length = 0;
  while (length + 1 < capacity && length < available && start[length] != 0) {
    text[length] = static_cast<char>(start[length]);
    ++length;
  }
  text[length] = '\0';
  return true;
}

// The entry of the resource directory at `directory` (an offset into the resource tree at `root`) whose numeric
// id is `id` (or the first one with an id, for kAnyId); entries named by text are passed over. Gives the entry's
// offset field.
bool FindResourceEntry(const ImageFile& image, uint64_t root, uint64_t directory, uint32_t id, uint32_t* target) {
  IMAGE_RESOURCE_DIRECTORY header;
  if (!image.ReadRva(root + directory, &header))
    return false;
  const uint32_t count = static_cast<uint32_t>(header.NumberOfNamedEntries) + header.NumberOfIdEntries;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry[2];  // the name or id, then the offset of the data or subdirectory
    if (!image.ReadRva(root + directory + sizeof(header) + i * static_cast<uint64_t>(sizeof(entry)), &entry))
      return false;
    if (!(entry[0] & kHighBit) && (id == kAnyId || entry[0] == id)) {
      *target = entry[1];
      return true;
    }
  }
  return false;
}

// Finds the value of `key` (upper case) in a version block: the block's UTF-16 texts are matched letter by
// letter with their case folded, the padding after the key is passed over, and the value's characters are
// copied (their low bytes) up to its end, the block's end or `capacity` - 1 characters.
bool CopyVersionValue(const uint8_t* block, size_t size, const char* key, char* value, size_t capacity) {
  const size_t key_length = strlen(key);
  for (size_t i = 0; i + 2 * key_length + 2 <= size; ++i) {
    size_t k = 0;
    while (k < key_length && (block[i + 2 * k] & ~0x20) == key[k] && block[i + 2 * k + 1] == 0)
      ++k;
    if (k < key_length || block[i + 2 * k] != 0 || block[i + 2 * k + 1] != 0)
      continue;
    size_t at = i + 2 * key_length + 2;
    while (at < size && block[at] == 0)
      ++at;
    size_t length = 0;
    for (; length + 1 < capacity && at < size && block[at] != 0; at += 2)
      value[length++] = static_cast<char>(block[at]);
    value[length] = '\0';
    return true;
  }
  return false;
}

struct ViewUnmapper {
  void operator()(const void* view) const { UnmapViewOfFile(view); }
};

}  // namespace

ModuleInfoImpl::ModuleInfoImpl() = default;

ModuleInfoImpl::~ModuleInfoImpl() = default;

void ModuleInfoImpl::Init(const wchar_t* name, HANDLE file, uint64_t base, uint32_t size) {
  base_ = base;
  size_ = size;
  size_t length = 0;
  for (; name && name[length] != L'\0' && length + 1 < kTextSize; ++length)
    name_[length] = static_cast<char>(name[length] & 0xFF);
  name_[length] = '\0';

  base::win::ScopedHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) {
    PLOG(ERROR) << "CreateFileMappingFailed for " << NameForLog();
    return;
  }
  std::unique_ptr<const uint8_t, ViewUnmapper> view(
      static_cast<const uint8_t*>(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0)));
  if (!view) {
    PLOG(ERROR) << "MapViewOfFile failed for " << NameForLog();
    return;
  }
  // The view ends with its last page; the file, and so what it may be trusted for, can end before that.
  MEMORY_BASIC_INFORMATION region = {};
  uint64_t view_size = VirtualQuery(view.get(), &region, sizeof(region)) ? region.RegionSize : 0;
  LARGE_INTEGER file_size;
  if (GetFileSizeEx(file, &file_size) && static_cast<uint64_t>(file_size.QuadPart) < view_size)
    view_size = file_size.QuadPart;
  ReadImage(view.get(), view_size);

  if (name_[0] == '\0') {
    char mapped[MAX_PATH];
    if (GetMappedFileNameA(GetCurrentProcess(), const_cast<uint8_t*>(view.get()), mapped, MAX_PATH) == 0) {
      PLOG(ERROR) << "GetMappedFileNameA failed";
    } else {
      const char* last = strrchr(mapped, '\\');
      strncpy(name_, last ? last + 1 : mapped, kTextSize - 1);
      name_[kTextSize - 1] = '\0';
    }
  }
}

void ModuleInfoImpl::ReadImage(const uint8_t* view, uint64_t size) {
  ImageFile image(view, size);
  if (!image.ParseHeaders()) {
    LOG(ERROR) << "GetNtHeaders failed for " << NameForLog();
    return;
  }
  code_end_ = base_ + image.code_end();
  timestamp_ = image.timestamp();

  uint32_t rva = 0, directory_size = 0;
  if (name_[0] == '\0') {
    IMAGE_EXPORT_DIRECTORY exports;
    if (!image.GetDirectory(IMAGE_DIRECTORY_ENTRY_EXPORT, &rva, &directory_size) ||
        !image.ReadRva(rva, &exports) || !image.CopyText(exports.Name, name_, kTextSize)) {
      LOG(INFO) << "Could not find exports directory";
    }
  }

  if (!image.GetDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE, &rva, &directory_size) ||
      !image.AtRva(rva, sizeof(IMAGE_RESOURCE_DIRECTORY))) {
    LOG(INFO) << "Could not find resources directory in " << NameForLog();
    return;
  }
  uint32_t type_entry = 0, id_entry = 0, data_entry = 0;
  if (!FindResourceEntry(image, rva, 0, kVersionResourceType, &type_entry) || !(type_entry & kHighBit) ||
      !FindResourceEntry(image, rva, type_entry & ~kHighBit, kVersionResourceId, &id_entry) ||
      !(id_entry & kHighBit)) {
    LOG(INFO) << "Could not find version resource in " << NameForLog();
    return;
  }
  IMAGE_RESOURCE_DATA_ENTRY data;
  const uint8_t* block = nullptr;
  if (FindResourceEntry(image, rva, id_entry & ~kHighBit, kAnyId, &data_entry) && !(data_entry & kHighBit) &&
      image.ReadRva(rva + data_entry, &data)) {
    block = image.AtRva(data.OffsetToData, data.Size);
  }
  if (!block) {
    LOG(INFO) << "Could not find version info in " << NameForLog();
    return;
  }
  if (name_[0] == '\0')
    CopyVersionValue(block, data.Size, "ORIGINALFILENAME", name_, kTextSize);
  CopyVersionValue(block, data.Size, "FILEVERSION", version_, kTextSize);
}

const char* ModuleInfoImpl::NameForLog() const {
  return name_[0] != '\0' ? name_ : "<unknown>";
}

const char* ModuleInfoImpl::GetName() const {
  return name_;
}

uint64_t ModuleInfoImpl::GetBaseAddress() const {
  return base_;
}

uint32_t ModuleInfoImpl::GetSize() const {
  return size_;
}

uint64_t ModuleInfoImpl::GetLoadAddress() const {
  return base_;
}

uint64_t ModuleInfoImpl::GetCodeEndOffset() const {
  return code_end_ ? code_end_ - base_ : 0;
}

const char* ModuleInfoImpl::GetVersion() const {
  return version_;
}

uint32_t ModuleInfoImpl::GetTimestamp() const {
  return timestamp_;
}

}  // namespace installer
}  // namespace zorvi
