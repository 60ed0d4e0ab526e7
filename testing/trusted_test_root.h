// Makes a test CA a trusted root of the machine (the local machine's "ROOT" store), as signed test fixtures
// need on Windows (testing/installer/package_fixture/make_package_fixture.py makes the CA). Test runs use a throwaway
// copy of the wine prefix, so the certificate is added and never removed; adding it again replaces it.
#ifndef TESTING_TRUSTED_TEST_ROOT_H_
#define TESTING_TRUSTED_TEST_ROOT_H_

#include <string>

namespace test_support {

// `pem_path`: a PEM certificate file. Returns false, with the reason in *error, when it cannot be added.
bool TrustTestRootCertificate(const std::wstring& pem_path, std::string* error);

}  // namespace test_support

#endif  // TESTING_TRUSTED_TEST_ROOT_H_
