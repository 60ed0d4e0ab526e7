#include "desktop/launcher/installer/package_fetcher/package_check.h"

#include <utility>
#include <vector>

#include "base/files/memory_mapped_file.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/package_fetcher/checksum_checker.h"
#include "desktop/launcher/installer/package_fetcher/package_probes.h"
#include "desktop/launcher/installer/package_fetcher/package_signature.h"

namespace zorvi::installer {

const char* CheckHeldPackage(const base::MemoryMappedFile& package, const base::FilePath& path,
                             const std::string* expected_checksum, const base::FilePath& own_executable,
                             PackageProbeAnswers* answers) {
  if (!package.IsValid())
    return "Unable to read the package";
  if (expected_checksum && ChecksumChecker::ChecksumOf(package.data(), package.length()) != *expected_checksum)
    return "Checksum incorrect for the downloaded package";
  // An unsigned installer (a development build) takes a package whatever its signer; an installer that is
  // signed, or cannot be read as an image, takes only a package of the expected signer.
  bool installer_signed = false;
  const bool installer_unsigned =
      !own_executable.empty() && HasEmbeddedSignature(own_executable, &installer_signed) && !installer_signed;
  if (!installer_unsigned && !VerifyFileSigner(package, path))
    return "Signature incorrect for the downloaded package";
  // The probes start the package by its path, which the caller's hold keeps on the checked file. Both run at
  // once; the stream counts only once the version has passed.
  std::vector<std::string> outputs = RunPackageProbes(path, {kInternalVersionSwitch, kStreamSwitch});
  answers->version_probed = true;
  answers->internal_version = std::move(outputs[0]);
  if (!IsPackageVersionAcceptable(answers->internal_version))
    return "Downloaded package is older than the installer";
  answers->stream_probed = true;
  answers->stream = std::move(outputs[1]);
  if (!IsPackageStreamAcceptable(answers->stream))
    return "Downloaded package is of a different stream than the installer";
  return nullptr;
}

}  // namespace zorvi::installer
