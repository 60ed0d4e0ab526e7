// Signature checks of package executables: whether a file carries an Authenticode signature at all, and
// whether a downloaded package's signature verifies and names the expected signer.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_SIGNATURE_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_SIGNATURE_H_

#include <string>

#include "base/files/file_path.h"

namespace base {
class MemoryMappedFile;
}

namespace zorvi::installer {

// True when the file reads as a PE image ("MZ", and "PE\0\0" where its header offset points); then
// *has_signature tells whether it has a certificate table. Nothing is verified. `has_signature` must not be null.
bool HasEmbeddedSignature(const base::FilePath& path, bool* has_signature);

// True when the file's signature verifies (no user interface, no revocation check) and the simple display
// name of its signing certificate equals `expected_signer` (UTF-8) code unit by code unit, letter case
// included. Logs nothing; every handle it obtains is released on every path.
bool IsFileSignedBy(const base::FilePath& path, const std::string& expected_signer);

// The same of the file at `path` that `file` holds open and maps: the signature is verified through the held
// handle and the signer read from the mapped bytes, so that both concern the file the caller goes on to use,
// whatever the path names meanwhile.
bool IsFileSignedBy(const base::MemoryMappedFile& file, const base::FilePath& path,
                    const std::string& expected_signer);

// IsFileSignedBy the branding's expected signer.
bool VerifyFileSigner(const base::FilePath& path);
bool VerifyFileSigner(const base::MemoryMappedFile& file, const base::FilePath& path);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_SIGNATURE_H_
