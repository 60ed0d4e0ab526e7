// The payload appended to an installer or package executable: the block "ZRV", the payload, and the payload's
// length as an unsigned 32-bit little-endian number. An unsigned file ends with the block; a signed file
// carries it immediately before its certificate table, where the signature covers it. A payload that starts
// with the 7z signature is the full package (the browser's archive); any other payload is tracking data,
// passed to the update service as it is. A full package that the signature does not cover is refused.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_

#include <cstdint>
#include <string>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"

namespace zorvi::installer {

class PayloadReader {
 public:
  // Touches nothing yet.
  explicit PayloadReader(const base::FilePath& path);
  // Reads the payload out of a file the caller has mapped already (and holds), which must outlive the reader: what
  // the caller checked through that mapping is what is read.
  explicit PayloadReader(const base::MemoryMappedFile* mapped);
  PayloadReader(const PayloadReader&) = delete;
  PayloadReader& operator=(const PayloadReader&) = delete;
  ~PayloadReader();

  // Maps the file, finds the block and tells the two kinds apart. True when a payload is available; once one
  // is (also when supplied through set_payload_read), true at once. A file whose certificate table would lie
  // past its end is marked corrupted (and read): it gives no payload and writes none.
  bool ReadPayload();

  // Whether a block's length field starts at file offset `trailer_offset`; remembers the length it read
  // there and, when the block is valid, where its payload starts.
  bool FindPayloadAt(uint64_t trailer_offset);

  // With a payload available and the file not corrupted: the override text when set, else the payload's
  // bytes. Otherwise empty.
  std::string GetPayload() const;

  // Writes the full package's bytes, or else the text of GetPayload, to `path` (created or truncated). True
  // only when every byte was written; false for a corrupted file.
  bool WritePayloadToFile(const base::FilePath& path) const;
  // The same into `file`, open for writing, from its start.
  bool WritePayloadToFile(base::File* file) const;

  bool payload_read() const { return read_; }
  // The fetcher marks tracking data it took from elsewhere (the override text) as read.
  void set_payload_read(bool read) { read_ = read; }
  bool is_full_package() const { return full_package_; }
  bool is_corrupted() const { return corrupted_; }
  void set_override_text(const std::string& text) { override_text_ = text; }

  // The length field last read, and the file offset of the payload's first byte.
  uint64_t payload_length() const { return payload_length_; }
  uint64_t payload_offset() const { return payload_offset_; }

 private:
  const base::MemoryMappedFile& mapped() const { return borrowed_ ? *borrowed_ : file_; }

  base::FilePath path_;
  base::MemoryMappedFile file_;             // mapped from `path_` by ReadPayload
  const base::MemoryMappedFile* borrowed_;  // or the caller's, when given
  std::string override_text_;
  uint64_t payload_length_ = 0;
  uint64_t payload_offset_ = 0;
  bool read_ = false;
  bool full_package_ = false;
  bool corrupted_ = false;
  // A valid block was found in the mapping, so the payload offset and length describe bytes inside it.
  bool block_found_ = false;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
