// A binary record of untagged fields: a 4-byte header holding the payload size, then the fields in the order
// written, each padded with zero bytes to a multiple of 4. Writer and reader agree on the field sequence.
// Used for the messages between installer processes and for serialized diagnostics.
#ifndef BASE_PACKED_BUFFER_H_
#define BASE_PACKED_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/memory/ref_counted.h"

namespace base {

class PackedBufferReader;

class PackedBuffer {
 public:
  // An object a transport might carry beside the bytes (a handle, say). Records made here carry none.
  class Attachment : public RefCountedThreadSafe<Attachment> {
   protected:
    friend class RefCountedThreadSafe<Attachment>;
    virtual ~Attachment();
  };

  // An empty owned buffer: payload size 0, room for 64 payload bytes.
  PackedBuffer();
  // A read-only view over received bytes; nothing is copied and `data` must outlive the view. The header size
  // is `length` minus the payload size stored in the first 4 bytes; when that is not a positive multiple of 4
  // the view is invalid and has no payload.
  PackedBuffer(const void* data, int length);
  // An owned copy of `other`'s header and payload. A payload that does not end on a whole word (a malformed
  // received record) is padded with zero bytes, so that fields appended to the copy read back.
  PackedBuffer(const PackedBuffer& other);
  PackedBuffer& operator=(const PackedBuffer&) = delete;
  virtual ~PackedBuffer();

  // Append one field. Running out of memory ends the process, so these always return true.
  bool WriteInt(int32_t value);
  bool WriteInt64(int64_t value);
  bool WriteString(const std::string& value);     // signed 32-bit byte count, then the bytes
  bool WriteString16(const std::wstring& value);  // signed 32-bit unit count, then 2 bytes per unit
  bool WriteBytes(const void* data, int length);  // the bytes only: the reader is told the length
  // The source of a write may be this buffer's own bytes (data() or payload()): they are copied as they were
  // before the write.

  // Attachments are not supported: the reference is dropped (deleting the attachment when it was the last
  // one) and the answer is false.
  virtual bool WriteAttachment(scoped_refptr<Attachment> attachment);
  // Always false.
  virtual bool HasAttachments() const;
  virtual bool ReadAttachment(PackedBufferReader* reader, scoped_refptr<Attachment>* attachment) const;

  // Header plus payload capacity; 0 for a read-only view.
  size_t GetTotalAllocatedSize() const;

  // The header and the payload as one block; null for an invalid view.
  const void* data() const { return storage_; }
  // Header plus payload.
  size_t size() const { return header_size_ + payload_size(); }
  size_t header_size() const { return header_size_; }
  size_t payload_size() const;
  const char* payload() const { return storage_ ? storage_ + header_size_ : nullptr; }
  bool is_read_only() const { return capacity_ == kReadOnlyCapacity; }

 private:
  static constexpr size_t kHeaderSize = 4;
  static constexpr size_t kInitialCapacity = 64;
  static constexpr size_t kReadOnlyCapacity = static_cast<size_t>(-1);

  // Appends `length` bytes from `data` as one field padded to 4 bytes.
  void WriteField(const void* data, size_t length);
  // Reallocates the storage for a payload capacity of at least `capacity` bytes (a multiple of 64).
  void Resize(size_t capacity);
  void StorePayloadSize(uint32_t size);

  char* storage_;        // header, then payload; null for an invalid view
  size_t header_size_;   // 4 for buffers made here; 0 for an invalid view
  size_t capacity_;      // payload bytes available, or kReadOnlyCapacity for a view
  size_t write_offset_;  // payload bytes written; equals the header's payload size
};

// Walks the fields of a buffer in order. A failed read moves the reader to the end of the payload, so every
// later read fails too; no read ever touches a byte outside the payload.
class PackedBufferReader {
 public:
  explicit PackedBufferReader(const PackedBuffer& buffer);

  bool ReadBool(bool* result);
  bool ReadInt(int32_t* result);
  bool ReadInt64(int64_t* result);
  bool ReadString(std::string* result);
  bool ReadString16(std::wstring* result);
  // Points `*data` at the next `length` bytes of the payload (no copy) and moves past their padding.
  bool ReadBytes(const char** data, int length);

  // Payload bytes not yet read.
  size_t remaining() const { return end_index_ - read_index_; }

 private:
  // Hands out the next `length` bytes and moves past them and their padding (or to the end when the padding
  // is missing); on failure moves to the end and returns null.
  const char* Consume(size_t length);
  bool Fail();

  const char* payload_;
  size_t read_index_;
  size_t end_index_;
};

}  // namespace base

#endif  // BASE_PACKED_BUFFER_H_
