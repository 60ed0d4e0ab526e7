// The checksum check of a downloaded file against the text the update service announced: the SHA-256 of the
// whole file as 64 lower-case hexadecimal digits, compared byte for byte.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_

#include <string>

#include "base/files/file_path.h"

namespace zorvi::installer {

class ChecksumChecker {
 public:
  ChecksumChecker() = delete;

  // True when the file's checksum text equals `expected_checksum` exactly: upper-case digits or surrounding
  // blanks never match. An unreadable file logs "Unable to read " and its path and gives false.
  static bool Check(const base::FilePath& path, const std::string& expected_checksum);

  // The checksum text of `size` bytes: each digest byte as its high and its low nibble in lower-case hex.
  static std::string ChecksumOf(const void* data, size_t size);
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_
