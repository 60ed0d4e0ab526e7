#include "desktop/launcher/installer/package_fetcher/package_signature.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <memory>
#include <type_traits>

#include "base/files/file.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_memory.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/package_fetcher/pe_security_directory.h"

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
using ScopedStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, StoreCloser>;
using ScopedMessage = std::unique_ptr<std::remove_pointer_t<HCRYPTMSG>, MessageCloser>;
using ScopedCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

// Verifies through `file`, the caller's handle of the file at `path`: the path alone would let the system open
// whatever the path names by then.
bool SignatureVerifies(const base::FilePath& path, HANDLE file) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.value().c_str();
  file_info.hFile = file;
  TrustData trust = {};
  trust.data.cbStruct = sizeof(trust);
  trust.data.dwUIChoice = WTD_UI_NONE;
  trust.data.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust.data.dwUnionChoice = WTD_CHOICE_FILE;
  trust.data.pFile = &file_info;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return WinVerifyTrust(nullptr, &action, &trust.data) == 0;
}

// The signed message of the image's first certificate, the one its signature is verified by, inside the mapped
// bytes; every offset and length comes from the file and is checked against its length.
bool FindSignedMessage(const base::MemoryMappedFile& file, CRYPT_DATA_BLOB* message) {
  constexpr uint32_t kCertificateHeaderSize = 8;  // its length, revision and type
  SecurityDirectory table;
  if (!ReadSecurityDirectory(file.data(), file.length(), true, &table) || table.offset > file.length() ||
      table.size > file.length() - table.offset || table.size < kCertificateHeaderSize) {
    return false;
  }
  const uint8_t* certificate = file.data() + table.offset;
  const uint32_t length = ReadLittleEndianUInt32(certificate);
  const unsigned type = certificate[6] | certificate[7] << 8;
  if (length <= kCertificateHeaderSize || length > table.size || type != WIN_CERT_TYPE_PKCS_SIGNED_DATA)
    return false;
  message->pbData = const_cast<BYTE*>(certificate + kCertificateHeaderSize);
  message->cbData = length - kCertificateHeaderSize;
  return true;
}

// The simple display name of the certificate that signed the image's embedded signature.
bool ReadSignerName(const base::MemoryMappedFile& file, std::wstring* name) {
  CRYPT_DATA_BLOB signed_message = {};
  DWORD encoding = 0, content_type = 0, format_type = 0;
  HCERTSTORE raw_store = nullptr;
  HCRYPTMSG raw_message = nullptr;
  if (!FindSignedMessage(file, &signed_message) ||
      !CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &signed_message, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content_type, &format_type, &raw_store,
                        &raw_message, nullptr)) {
    return false;
  }
  ScopedStore store(raw_store);
  ScopedMessage message(raw_message);

  DWORD size = 0;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0)
    return false;
  base::win::ScopedLocalMemory<CMSG_SIGNER_INFO> signer(static_cast<CMSG_SIGNER_INFO*>(LocalAlloc(LPTR, size)));
  if (!signer.IsValid() || !CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, signer.Get(), &size))
    return false;

  CERT_INFO wanted = {};
  wanted.Issuer = signer.Get()->Issuer;
  wanted.SerialNumber = signer.Get()->SerialNumber;
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
  base::MemoryMappedFile file;
  return file.Initialize(base::File(path, base::FileFlags::Open | base::FileFlags::Read |
                                              base::FileFlags::ExclusiveWrite)) &&
         IsFileSignedBy(file, path, expected_signer);
}

bool IsFileSignedBy(const base::MemoryMappedFile& file, const base::FilePath& path,
                    const std::string& expected_signer) {
  std::wstring signer;
  return file.IsValid() && SignatureVerifies(path, file.file_handle()) && ReadSignerName(file, &signer) &&
         signer == base::UTF8ToWide(expected_signer);
}

bool VerifyFileSigner(const base::FilePath& path) {
  return IsFileSignedBy(path, GetBrandingExpectedSigner());
}

bool VerifyFileSigner(const base::MemoryMappedFile& file, const base::FilePath& path) {
  return IsFileSignedBy(file, path, GetBrandingExpectedSigner());
}

}  // namespace zorvi::installer
