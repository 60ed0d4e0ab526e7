#include "desktop/launcher/installer/package_fetcher/package_signature.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <memory>
#include <type_traits>

#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/package_fetcher/pe_security_directory.h"
#include "desktop/launcher/installer/product_info.h"

namespace zorvi::installer {

namespace {

// The trust data as current systems define it, with the signature-settings pointer after the fields that
// the older headers know; cbStruct announces the longer form.
struct TrustData {
  WINTRUST_DATA data;
  void* signature_settings;
};
static_assert(sizeof(TrustData) == 88, "the trust data of 64-bit Windows is 88 bytes");

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(store, 0); }
};
struct MessageCloser {
  void operator()(void* message) const { CryptMsgClose(message); }
};
struct CertificateFreer {
  void operator()(const CERT_CONTEXT* certificate) const { CertFreeCertificateContext(certificate); }
};
struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using ScopedStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, StoreCloser>;
using ScopedMessage = std::unique_ptr<std::remove_pointer_t<HCRYPTMSG>, MessageCloser>;
using ScopedCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;
using ScopedSignerInfo = std::unique_ptr<CMSG_SIGNER_INFO, LocalFreer>;

bool SignatureVerifies(const base::FilePath& path) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.value().c_str();
  TrustData trust = {};
  trust.data.cbStruct = sizeof(trust);
  trust.data.dwUIChoice = WTD_UI_NONE;
  trust.data.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust.data.dwUnionChoice = WTD_CHOICE_FILE;
  trust.data.pFile = &file_info;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return WinVerifyTrust(nullptr, &action, &trust.data) == 0;
}

// The simple display name of the certificate that signed the file's embedded signature.
bool ReadSignerName(const base::FilePath& path, std::wstring* name) {
  DWORD encoding = 0, content_type = 0, format_type = 0;
  HCERTSTORE raw_store = nullptr;
  HCRYPTMSG raw_message = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.value().c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content_type, &format_type, &raw_store,
                        &raw_message, nullptr)) {
    return false;
  }
  ScopedStore store(raw_store);
  ScopedMessage message(raw_message);

  DWORD size = 0;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0)
    return false;
  ScopedSignerInfo signer(static_cast<CMSG_SIGNER_INFO*>(LocalAlloc(LPTR, size)));
  if (!signer || !CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, signer.get(), &size))
    return false;

  CERT_INFO wanted = {};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  ScopedCertificate certificate(
      CertFindCertificateInStore(store.get(), encoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!certificate)
    return false;

  const DWORD length = CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (length == 0)
    return false;
  name->assign(length, L'\0');
  CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name->data(), length);
  name->resize(length - 1);  // the terminating zero
  return true;
}

}  // namespace

bool HasEmbeddedSignature(const base::FilePath& path, bool* has_signature) {
  CHECK(has_signature);
  base::MemoryMappedFile file;
  SecurityDirectory security;
  if (!file.Initialize(path) || !ReadSecurityDirectory(file.data(), file.length(), true, &security))
    return false;
  *has_signature = security.size != 0;
  return true;
}

bool IsFileSignedBy(const base::FilePath& path, const std::string& expected_signer) {
  std::wstring signer;
  return SignatureVerifies(path) && ReadSignerName(path, &signer) && signer == base::UTF8ToWide(expected_signer);
}

bool VerifyFileSigner(const base::FilePath& path) {
  return IsFileSignedBy(path, GetBrandingExpectedSigner());
}

}  // namespace zorvi::installer
