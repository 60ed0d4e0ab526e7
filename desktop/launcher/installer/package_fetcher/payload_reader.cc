#include "desktop/launcher/installer/package_fetcher/payload_reader.h"

#include <climits>
#include <cstring>

#include "base/files/file.h"
#include "base/logging.h"
#include "desktop/launcher/installer/package_fetcher/pe_security_directory.h"

namespace zorvi::installer {

namespace {

constexpr char kBlockMarker[3] = {'Z', 'R', 'V'};
constexpr uint64_t kMarkerSize = sizeof(kBlockMarker);
constexpr uint64_t kLengthFieldSize = 4;
constexpr uint8_t k7zSignature[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};

// Writes all of `data` into `file` from its start; the base layer takes an int count, and a longer payload is a
// broken file.
bool WriteWhole(base::File* file, const char* data, uint64_t size) {
  CHECK_LE(size, static_cast<uint64_t>(INT_MAX));
  const int length = static_cast<int>(size);
  return file->IsValid() && file->Write(0, data, length) == length;
}

}  // namespace

PayloadReader::PayloadReader(const base::FilePath& path) : path_(path), borrowed_(nullptr) {}

PayloadReader::PayloadReader(const base::MemoryMappedFile* mapped) : borrowed_(mapped) {}

PayloadReader::~PayloadReader() = default;

bool PayloadReader::ReadPayload() {
  if (read_)
    return true;
  LOG(INFO) << "Reading Payload";
  if (!mapped().IsValid() && (borrowed_ || !file_.Initialize(path_))) {
    LOG(ERROR) << "Could not initialize memory mapped file";
    return false;
  }
  const uint64_t length = mapped().length();
  SecurityDirectory security;
  if (!ReadSecurityDirectory(mapped().data(), mapped().length(), false, &security)) {
    LOG(WARNING) << "No valid payload found";
    return false;
  }
  if (security.offset > length) {
    LOG(ERROR) << "Security directory is located past the image file length";
    corrupted_ = true;
    read_ = true;
    return false;
  }
  const bool signed_file = security.size != 0;
  const bool at_end = FindPayloadAt(length - kLengthFieldSize);
  if (!at_end && !(signed_file && security.offset >= kLengthFieldSize &&
                   FindPayloadAt(security.offset - kLengthFieldSize))) {
    LOG(WARNING) << "No valid payload found";
    return false;
  }
  // A payload shorter than the signature is tracking data; the comparison stays inside the payload.
  const bool is_7z = payload_length_ >= sizeof(k7zSignature) &&
                     std::memcmp(mapped().data() + payload_offset_, k7zSignature, sizeof(k7zSignature)) == 0;
  if (!is_7z) {
    read_ = true;
    return true;
  }
  // After the certificate table a signed file's bytes are not covered by its signature: a package there could
  // have been appended by anyone.
  if (signed_file && at_end) {
    LOG(ERROR) << "Found full package that is not covered by the signature";
    // Nor are its bytes tracking data, should the reader be marked read from elsewhere.
    block_found_ = false;
    return false;
  }
  full_package_ = true;
  read_ = true;
  return true;
}

bool PayloadReader::FindPayloadAt(uint64_t trailer_offset) {
  block_found_ = false;
  const base::MemoryMappedFile& file = mapped();
  if (!file.IsValid() || trailer_offset > file.length() || file.length() - trailer_offset < kLengthFieldSize) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  payload_length_ = ReadLittleEndianUInt32(file.data() + trailer_offset);
  // 64-bit: a length near 4 GiB must not wrap around and point back into the file.
  if (payload_length_ + kMarkerSize > trailer_offset) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  const uint64_t marker_offset = trailer_offset - payload_length_ - kMarkerSize;
  if (std::memcmp(file.data() + marker_offset, kBlockMarker, sizeof(kBlockMarker)) != 0) {
    VLOG(1) << "Payload data invalid";
    return false;
  }
  payload_offset_ = trailer_offset - payload_length_;
  block_found_ = true;
  return true;
}

std::string PayloadReader::GetPayload() const {
  if (!read_ || corrupted_)
    return std::string();
  if (!override_text_.empty())
    return override_text_;
  // Marked read from elsewhere without a block in the file: there are no payload bytes to give.
  if (!block_found_)
    return std::string();
  return std::string(reinterpret_cast<const char*>(mapped().data() + payload_offset_), payload_length_);
}

bool PayloadReader::WritePayloadToFile(const base::FilePath& path) const {
  if (corrupted_)
    return false;
  LOG(INFO) << "Writing payload to file " << path.value();
  base::File file(path, base::FileFlags::CreateAlways | base::FileFlags::Write);
  return WritePayloadToFile(&file);
}

bool PayloadReader::WritePayloadToFile(base::File* file) const {
  if (corrupted_)
    return false;
  if (full_package_)
    return WriteWhole(file, reinterpret_cast<const char*>(mapped().data() + payload_offset_), payload_length_);
  const std::string text = GetPayload();
  return WriteWhole(file, text.data(), text.size());
}

}  // namespace zorvi::installer
