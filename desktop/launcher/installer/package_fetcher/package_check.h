// The checks a package executable passes before anything of it is used, run on bytes the caller holds: the file
// open with others allowed only to read it and mapped, so that every check concerns the file the caller goes on
// to unpack or start, whatever its path names meanwhile.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_CHECK_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_CHECK_H_

#include <string>

#include "base/files/file_path.h"

namespace base {
class MemoryMappedFile;
}

namespace zorvi::installer {

// What the probes of a package answered, and which of them ran (the checks stop at the first failure).
struct PackageProbeAnswers {
  bool version_probed = false;
  std::string internal_version;
  bool stream_probed = false;
  std::string stream;
};

// Checks `package`, mapped from the file at `path` that the caller holds: its checksum when `expected_checksum`
// is given, its signer (any signer when `own_executable`, the checking installer, is an unsigned development
// build), its internal version and its stream against this installer's. Null when it passes, else the reason.
const char* CheckHeldPackage(const base::MemoryMappedFile& package, const base::FilePath& path,
                             const std::string* expected_checksum, const base::FilePath& own_executable,
                             PackageProbeAnswers* answers);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_CHECK_H_
