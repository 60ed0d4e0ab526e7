#include "testing/trusted_test_root.h"

#include <windows.h>

#include <wincrypt.h>

#include <vector>

#include "testing/test_support.h"

namespace test_support {

bool TrustTestRootCertificate(const std::wstring& pem_path, std::string* error) {
  std::string pem;
  if (!ReadFileBytes(pem_path, &pem)) {
    *error = "cannot read the certificate";
    return false;
  }
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr)) {
    *error = "not a PEM certificate";
    return false;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                       nullptr, nullptr);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) {
    *error = "cannot open the machine's root store: " + std::to_string(GetLastError());
    return false;
  }
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD add_error = GetLastError();
  CertCloseStore(store, 0);
  if (!added)
    *error = "cannot add the certificate: " + std::to_string(add_error);
  return added != FALSE;
}

}  // namespace test_support
