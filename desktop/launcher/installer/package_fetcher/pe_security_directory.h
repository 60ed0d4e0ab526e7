// Where a PE32+ file keeps its certificate table (the Security data directory), read from the raw file bytes
// with every offset checked against the file's length: the files read here come from the network.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PE_SECURITY_DIRECTORY_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PE_SECURITY_DIRECTORY_H_

#include <cstddef>
#include <cstdint>

namespace zorvi::installer {

struct SecurityDirectory {
  uint32_t offset = 0;  // file offset of the certificate table
  uint32_t size = 0;    // 0 in an unsigned file
};

// The unsigned 32-bit little-endian number at `data`.
uint32_t ReadLittleEndianUInt32(const uint8_t* data);

// Reads the Security directory of the file in `data`: the PE header's offset is the number at file offset 60,
// and the table's offset and size are the numbers 168 and 172 bytes after the PE header's start (the PE32+
// layout). False, reading nothing outside `data`, when the file is too short for these fields or the PE header
// offset leads outside it. With `require_signatures` the file must also begin with "MZ" and the PE header with
// "PE\0\0".
bool ReadSecurityDirectory(const uint8_t* data, size_t length, bool require_signatures,
                           SecurityDirectory* directory);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PE_SECURITY_DIRECTORY_H_
