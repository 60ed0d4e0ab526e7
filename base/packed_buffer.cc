#include "base/packed_buffer.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/logging.h"

namespace base {

namespace {

constexpr size_t kAlignment = 4;
constexpr size_t kPageSize = 4096;
constexpr size_t kCapacityGranularity = 64;
// The payload size travels in a 32-bit header field.
constexpr size_t kMaxPayloadSize = UINT32_MAX - (kPageSize - 1);

size_t AlignUp(size_t value, size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

uint32_t LoadUint32(const void* bytes) {
  uint32_t value;
  memcpy(&value, bytes, sizeof(value));
  return value;
}

}  // namespace

PackedBuffer::PackedBuffer() : storage_(nullptr), header_size_(kHeaderSize), capacity_(0), write_offset_(0) {
  Resize(kInitialCapacity);
  StorePayloadSize(0);
}

PackedBuffer::PackedBuffer(const void* data, int length)
    : storage_(nullptr), header_size_(0), capacity_(kReadOnlyCapacity), write_offset_(0) {
  if (!data || length < static_cast<int>(kHeaderSize))
    return;
  const size_t total = static_cast<size_t>(length);
  const size_t payload_size = LoadUint32(data);
  // A payload claimed larger than the bytes, or a header that is not whole 4-byte words, makes the view
  // invalid: its reader then sees no payload at all.
  if (payload_size > total)
    return;
  const size_t header_size = total - payload_size;
  if (header_size == 0 || header_size % kAlignment != 0)
    return;
  storage_ = static_cast<char*>(const_cast<void*>(data));
  header_size_ = header_size;
  write_offset_ = payload_size;
}

PackedBuffer::PackedBuffer(const PackedBuffer& other)
    : storage_(nullptr), header_size_(other.header_size_), capacity_(0), write_offset_(0) {
  if (!other.storage_) {
    // A copy of an invalid view is an empty buffer that can be written.
    header_size_ = kHeaderSize;
    Resize(kInitialCapacity);
    StorePayloadSize(0);
    return;
  }
  // A received record's payload need not end on a whole word. Writers pad where a field ends and readers
  // pad each field's length, so the copy pads the payload once here: fields appended later then start where
  // a reader that skipped the received bytes (padding included) looks for them.
  const size_t payload_size = other.payload_size();
  const size_t padded_size = AlignUp(payload_size, kAlignment);
  Resize(padded_size);
  // The header (longer than 4 bytes in some views) and the payload are copied from where they are.
  memcpy(storage_, other.storage_, header_size_ + payload_size);
  memset(storage_ + header_size_ + payload_size, 0, padded_size - payload_size);
  write_offset_ = padded_size;
  // The size field is the header's first word whatever its length.
  StorePayloadSize(static_cast<uint32_t>(padded_size));
}

PackedBuffer::~PackedBuffer() {
  if (!is_read_only())
    free(storage_);
}

PackedBuffer::Attachment::~Attachment() = default;

bool PackedBuffer::WriteAttachment(scoped_refptr<Attachment> attachment) {
  attachment = nullptr;
  return false;
}

bool PackedBuffer::HasAttachments() const {
  return false;
}

bool PackedBuffer::ReadAttachment(PackedBufferReader*, scoped_refptr<Attachment>*) const {
  return false;
}

size_t PackedBuffer::payload_size() const {
  return storage_ ? write_offset_ : 0;
}

size_t PackedBuffer::GetTotalAllocatedSize() const {
  if (is_read_only())
    return 0;
  return header_size_ + capacity_;
}

bool PackedBuffer::WriteInt(int32_t value) {
  WriteField(&value, sizeof(value));
  return true;
}

bool PackedBuffer::WriteInt64(int64_t value) {
  WriteField(&value, sizeof(value));
  return true;
}

bool PackedBuffer::WriteString(const std::string& value) {
  CHECK(value.size() <= static_cast<size_t>(INT_MAX));
  const int32_t length = static_cast<int32_t>(value.size());
  WriteField(&length, sizeof(length));
  WriteField(value.data(), value.size());
  return true;
}

bool PackedBuffer::WriteString16(const std::wstring& value) {
  CHECK(value.size() <= static_cast<size_t>(INT_MAX / 2));
  const int32_t length = static_cast<int32_t>(value.size());
  WriteField(&length, sizeof(length));
  WriteField(value.data(), value.size() * sizeof(wchar_t));
  return true;
}

bool PackedBuffer::WriteBytes(const void* data, int length) {
  CHECK(length >= 0);
  WriteField(data, static_cast<size_t>(length));
  return true;
}

void PackedBuffer::WriteField(const void* data, size_t length) {
  // Views are never written; a write into one is a programming error.
  CHECK(!is_read_only());
  CHECK(length <= kMaxPayloadSize - write_offset_);
  const size_t new_size = AlignUp(write_offset_ + length, kAlignment);
  if (new_size > capacity_) {
    // The source may be this buffer's own bytes (a field copied from its payload): growing moves them, so
    // find them again by their offset in the new storage.
    const uintptr_t source = reinterpret_cast<uintptr_t>(data);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(storage_);
    const bool inside = length && source >= begin && source - begin < header_size_ + capacity_;
    size_t new_capacity = capacity_ * 2;
    if (new_capacity > kPageSize)
      new_capacity = AlignUp(new_capacity, kPageSize) - kCapacityGranularity;
    if (new_capacity < new_size)
      new_capacity = new_size;
    Resize(new_capacity);
    if (inside)
      data = storage_ + (source - begin);
  }
  char* field = storage_ + header_size_ + write_offset_;
  // The bytes go in before the padding and the new size: a source inside this buffer then reads them as they
  // were, header included.
  if (length)
    memmove(field, data, length);
  memset(field + length, 0, new_size - write_offset_ - length);
  write_offset_ = new_size;
  StorePayloadSize(static_cast<uint32_t>(new_size));
}

void PackedBuffer::Resize(size_t capacity) {
  capacity = AlignUp(capacity, kCapacityGranularity);
  void* grown = realloc(storage_, header_size_ + capacity);
  CHECK(grown) << "out of memory growing a packed buffer to " << capacity << " bytes";
  storage_ = static_cast<char*>(grown);
  capacity_ = capacity;
}

void PackedBuffer::StorePayloadSize(uint32_t size) {
  memcpy(storage_, &size, sizeof(size));
}

PackedBufferReader::PackedBufferReader(const PackedBuffer& buffer)
    : payload_(buffer.payload()), read_index_(0), end_index_(buffer.payload_size()) {}

bool PackedBufferReader::Fail() {
  read_index_ = end_index_;
  return false;
}

const char* PackedBufferReader::Consume(size_t length) {
  if (length > remaining()) {
    Fail();
    return nullptr;
  }
  const char* data = payload_ + read_index_;
  const size_t padded = AlignUp(length, kAlignment);
  read_index_ = padded > remaining() ? end_index_ : read_index_ + padded;
  return data;
}

bool PackedBufferReader::ReadBool(bool* result) {
  const char* data = Consume(1);
  if (!data)
    return false;
  *result = *data != 0;
  return true;
}

bool PackedBufferReader::ReadInt(int32_t* result) {
  const char* data = Consume(sizeof(*result));
  if (!data)
    return false;
  memcpy(result, data, sizeof(*result));
  return true;
}

bool PackedBufferReader::ReadInt64(int64_t* result) {
  const char* data = Consume(sizeof(*result));
  if (!data)
    return false;
  memcpy(result, data, sizeof(*result));
  return true;
}

bool PackedBufferReader::ReadString(std::string* result) {
  int32_t length;
  if (!ReadInt(&length))
    return false;
  if (length < 0)
    return Fail();
  const char* data = Consume(static_cast<size_t>(length));
  if (!data)
    return false;
  result->assign(data, static_cast<size_t>(length));
  return true;
}

bool PackedBufferReader::ReadString16(std::wstring* result) {
  int32_t length;
  if (!ReadInt(&length))
    return false;
  if (length < 0 || length > INT_MAX / 2)
    return Fail();
  const size_t byte_count = static_cast<size_t>(length) * sizeof(wchar_t);
  const char* data = Consume(byte_count);
  if (!data)
    return false;
  result->resize(static_cast<size_t>(length));
  if (byte_count)
    memcpy(&(*result)[0], data, byte_count);
  return true;
}

bool PackedBufferReader::ReadBytes(const char** data, int length) {
  if (length < 0)
    return Fail();
  const char* bytes = Consume(static_cast<size_t>(length));
  if (!bytes)
    return false;
  *data = bytes;
  return true;
}

}  // namespace base
