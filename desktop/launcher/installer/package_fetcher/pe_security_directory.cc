#include "desktop/launcher/installer/package_fetcher/pe_security_directory.h"

#include <cstring>

namespace zorvi::installer {

namespace {

constexpr uint64_t kPeHeaderOffsetField = 60;
constexpr uint64_t kSecurityOffsetField = 168;  // from the start of the PE header
constexpr uint64_t kSecuritySizeField = 172;

}  // namespace

uint32_t ReadLittleEndianUInt32(const uint8_t* data) {
  return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}

bool ReadSecurityDirectory(const uint8_t* data, size_t length, bool require_signatures,
                           SecurityDirectory* directory) {
  // 64-bit arithmetic: a header offset near 4 GiB plus the field offsets must not wrap.
  if (kPeHeaderOffsetField + 4 > length)
    return false;
  const uint64_t pe_header = ReadLittleEndianUInt32(data + kPeHeaderOffsetField);
  if (pe_header + kSecuritySizeField + 4 > length)
    return false;
  if (require_signatures && (std::memcmp(data, "MZ", 2) != 0 || std::memcmp(data + pe_header, "PE\0\0", 4) != 0))
    return false;
  directory->offset = ReadLittleEndianUInt32(data + pe_header + kSecurityOffsetField);
  directory->size = ReadLittleEndianUInt32(data + pe_header + kSecuritySizeField);
  return true;
}

}  // namespace zorvi::installer
