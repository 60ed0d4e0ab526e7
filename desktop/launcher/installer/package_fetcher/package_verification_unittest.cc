// The checks of a downloaded package: checksum against sha256sum, signatures against osslsigncode and openssl,
// the probe rules, and the allowed hosts. The checks that read the product's branding run in
// package_check_host, which carries the product's branding resource.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/package_fetcher/checksum_checker.h"
#include "desktop/launcher/installer/package_fetcher/download_hosts.h"
#include "desktop/launcher/installer/package_fetcher/package_probes.h"
#include "desktop/launcher/installer/package_fetcher/package_signature.h"
#include "desktop/launcher/installer/package_fetcher/package_test_util.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"
#include "testing/trusted_test_root.h"

namespace zorvi::installer {
namespace {

using package_test::DataPath;
using package_test::ReadTable;
using test_support::ScopedLogCapture;

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Runs package_check_host with `arguments`; its output lines split at tabs.
std::vector<std::vector<std::string>> RunCheckHost(const std::wstring& arguments) {
  const std::wstring host = test_support::ExecutableDir() + L"\\package_check_host.exe";
  DWORD exit_code = 1;
  std::string output;
  EXPECT_TRUE(test_support::RunProcess(L"\"" + host + L"\" " + arguments, &exit_code, &output));
  EXPECT_EQ(0u, exit_code) << output;
  return package_test::SplitTable(output, '\t');
}

std::wstring Quoted(const base::FilePath& path) {
  return L" \"" + path.value() + L"\"";
}

TEST(ChecksumCheckerTest, MatchesSha256sumExactly) {
  const std::vector<std::vector<std::string>> sums = ReadTable(L"sha\\SHA256SUMS", ' ');
  ASSERT_EQ(12u, sums.size());
  bool saw_line_feed_byte = false;
  for (const auto& row : sums) {
    ASSERT_EQ(3u, row.size());  // "digest  name": two blanks
    const std::string& digest = row[0];
    SCOPED_TRACE(row[2]);
    const base::FilePath file = DataPath(L"sha\\" + base::UTF8ToWide(row[2]));
    ASSERT_EQ(64u, digest.size());
    EXPECT_TRUE(ChecksumChecker::Check(file, digest));
    saw_line_feed_byte |= digest.substr(62) == "0a";
    // What must not match: the same digits in upper case, with blanks, or one short.
    for (const std::string& wrong : {Upper(digest), " " + digest, digest + " ", digest.substr(0, 63), std::string()}) {
      if (wrong != digest) {
        EXPECT_FALSE(ChecksumChecker::Check(file, wrong)) << wrong;
      }
    }
  }
  EXPECT_TRUE(saw_line_feed_byte) << "one digest ends in the byte 0x0a";
}

TEST(ChecksumCheckerTest, UnreadableFilesAreReported) {
  for (const base::FilePath& path : {DataPath(L"sha\\no such file.bin"), DataPath(L"sha")}) {
    SCOPED_TRACE(base::WideToUTF8(path.value()));
    ScopedLogCapture log;
    // The digest of no bytes at all: nothing unreadable may pass for an empty file.
    EXPECT_FALSE(ChecksumChecker::Check(path, ChecksumChecker::ChecksumOf(nullptr, 0)));
    EXPECT_TRUE(log.HasLineStartingWith("Unable to read " + base::WideToUTF8(path.value()), logging::LOG_ERROR))
        << log.Text();
  }
}

// The signed fixtures and osslsigncode's verdict on each (against the test CA), with the signer's name as
// openssl reads it from the leaf certificate.
struct SignedFile {
  std::string name;
  bool verifies;
  std::string signer;
};

std::vector<SignedFile> ReadVerdicts() {
  std::vector<SignedFile> files;
  for (const auto& row : ReadTable(L"signed\\verdicts.txt", '\t')) {
    if (row.size() == 3)
      files.push_back({row[0], row[1] == "verifies", row[2]});
  }
  EXPECT_EQ(5u, files.size());
  return files;
}

class SignatureTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(test_support::TrustTestRootCertificate(DataPath(L"certs\\ca.pem").value(), &error)) << error;
  }
};

TEST_F(SignatureTest, SignerNameMatchesCodeUnitByCodeUnit) {
  for (const SignedFile& file : ReadVerdicts()) {
    // The root that osslsigncode was not given is the Windows-only case below.
    if (file.name == "untrusted_root")
      continue;
    SCOPED_TRACE(file.name);
    const base::FilePath path = DataPath(L"signed\\" + base::UTF8ToWide(file.name) + L".exe");
    EXPECT_EQ(file.verifies, IsFileSignedBy(path, file.signer));
    EXPECT_FALSE(IsFileSignedBy(path, Lower(file.signer)));
    EXPECT_FALSE(IsFileSignedBy(path, Upper(file.signer)));
    EXPECT_FALSE(IsFileSignedBy(path, file.signer + " "));
  }
}

TEST_F(SignatureTest, UntrustedRootIsRefused) {
  if (test_support::IsRunningUnderWine())
    GTEST_SKIP() << "wine's WinVerifyTrust does not check the chain: it accepts a signature whose root is not trusted";
  EXPECT_FALSE(IsFileSignedBy(DataPath(L"signed\\untrusted_root.exe"), "Test Signer"));
}

// Whether a file reads as a PE image and has a certificate table, against pefile's reading of the Security
// directory (cases.txt: "-" where pefile finds no PE image).
TEST(HasEmbeddedSignatureTest, AgreesWithPefile) {
  int checked = 0;
  for (const auto& row : ReadTable(L"payload\\cases.txt", ' ')) {
    SCOPED_TRACE(row[0]);
    bool has_signature = false;
    const bool is_image = HasEmbeddedSignature(DataPath(L"payload\\" + base::UTF8ToWide(row[0]) + L".exe"),
                                               &has_signature);
    EXPECT_EQ(row[1] != "-", is_image);
    if (is_image) {
      EXPECT_EQ(row[2] != "0", has_signature);
    }
    ++checked;
  }
  EXPECT_GT(checked, 20);
  for (const wchar_t* other : {L"sha\\SHA256SUMS", L"sha\\no such file.bin", L"sha\\random_0.bin"}) {
    bool has_signature = true;
    EXPECT_FALSE(HasEmbeddedSignature(DataPath(other), &has_signature)) << base::WideToUTF8(other);
  }
}

TEST(PackageProbesTest, VersionAndStreamRules) {
  struct Rule {
    const char* answer;
    const char* own;
    bool passes;
  };
  const Rule kVersions[] = {
      {"2234", "2234.0", true},    {"2234.0", "2234.0", true}, {"2234.0.0", "2234", true},
      {"2235", "2234.0", true},    {"2234.1", "2234.0", true}, {"2233.9", "2234.0", false},
      {"", "2234.0", false},       {"abc", "2234.0", false},   {"2234.0\n", "2234.0", false},
      {" 2234.0", "2234.0", false}, {"2234.", "2234.0", false},
  };
  const Rule kStreams[] = {
      {"nightly", "nightly", true}, {"Nightly", "nightly", false}, {"beta", "nightly", false},
      {"", "nightly", false},       {"nightly ", "nightly", false},
  };
  for (const Rule& row : kVersions)
    EXPECT_EQ(row.passes, IsPackageVersionAcceptable(row.answer, row.own)) << row.answer << " against " << row.own;
  for (const Rule& row : kStreams)
    EXPECT_EQ(row.passes, IsPackageStreamAcceptable(row.answer, row.own)) << row.answer << " against " << row.own;
}

// The probe variants run as the product's installer runs them, judged against the product's own version and
// stream: the answers are what the setup patched in, and the verdicts what Python's comparison gives.
TEST(PackageProbesTest, ProductJudgesEveryVariant) {
  const std::vector<std::vector<std::string>> variants = ReadTable(L"probe\\variants.txt", '\t');
  ASSERT_EQ(10u, variants.size());
  std::wstring arguments = L"probes";
  for (const auto& variant : variants)
    arguments += Quoted(DataPath(L"probe\\" + base::UTF8ToWide(variant[0]) + L".exe"));
  const std::vector<std::vector<std::string>> verdicts = RunCheckHost(arguments);
  ASSERT_EQ(variants.size(), verdicts.size());
  for (size_t i = 0; i < variants.size(); ++i) {
    const std::vector<std::string>& variant = variants[i];  // name, version, stream, starts, version ok, stream ok
    SCOPED_TRACE(variant[0]);
    ASSERT_EQ(6u, variant.size());
    ASSERT_EQ(4u, verdicts[i].size());
    const bool starts = variant[3] == "yes";
    EXPECT_EQ(starts ? variant[1] : "", verdicts[i][0]) << "a package that cannot start answers nothing";
    EXPECT_EQ(variant[4], verdicts[i][1]);
    EXPECT_EQ(starts ? variant[2] : "", verdicts[i][2]);
    EXPECT_EQ(variant[5], verdicts[i][3]);
  }
}

TEST(PackageProbesTest, RunPackageProbeCollectsTheAnswer) {
  const std::vector<std::vector<std::string>> variants = ReadTable(L"probe\\variants.txt", '\t');
  ASSERT_FALSE(variants.empty());
  const base::FilePath equal = DataPath(L"probe\\" + base::UTF8ToWide(variants[0][0]) + L".exe");
  EXPECT_EQ(variants[0][1], RunPackageProbe(equal, kInternalVersionSwitch));
  EXPECT_EQ(variants[0][2], RunPackageProbe(equal, kStreamSwitch));
  EXPECT_EQ("", RunPackageProbe(DataPath(L"probe\\no such package.exe"), kStreamSwitch));
}

// With the product's branding: its expected signer decides, and only a verifying signature by that name passes.
TEST_F(SignatureTest, ProductRequiresTheBrandingSigner) {
  const std::vector<std::vector<std::string>> product = RunCheckHost(L"product");
  ASSERT_EQ(1u, product.size());
  ASSERT_EQ(4u, product[0].size());
  const std::string& expected_signer = product[0][2];
  ASSERT_FALSE(expected_signer.empty());
  std::wstring arguments = L"signer";
  std::vector<SignedFile> files = ReadVerdicts();
  for (const SignedFile& file : files)
    arguments += Quoted(DataPath(L"signed\\" + base::UTF8ToWide(file.name) + L".exe"));
  const std::vector<std::vector<std::string>> verdicts = RunCheckHost(arguments);
  ASSERT_EQ(files.size(), verdicts.size());
  bool one_passes = false;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].name);
    const bool passes = files[i].verifies && files[i].signer == expected_signer;
    EXPECT_EQ(passes ? "1" : "0", verdicts[i][0]);
    one_passes |= passes;
  }
  EXPECT_TRUE(one_passes) << "a fixture is signed in the branding signer's name";
}

TEST(DownloadHostsTest, ListInOrderWithoutAnEmptyEntry) {
  const std::wstring maker = kMakerDomainSuffix;
  const std::wstring development = kDevelopmentDomainSuffix;
  ASSERT_EQ(L'.', maker[0]);
  ASSERT_EQ(L'.', development[0]);
  const struct {
    std::string branding_domain;
    std::vector<std::wstring> hosts;
  } kCases[] = {
      {"", {maker, development, L"localhost", L"127.0.0.1"}},
      {base::WideToUTF8(maker), {maker, development, L"localhost", L"127.0.0.1"}},
      {".partner.example", {L".partner.example", maker, development, L"localhost", L"127.0.0.1"}},
      {".b\xc3\xbc" "cher.example", {L".b\u00fccher.example", maker, development, L"localhost", L"127.0.0.1"}},
  };
  for (const auto& item : kCases) {
    std::vector<std::wstring> hosts = {L"left over"};
    GetAllowedDownloadHostsFor(item.branding_domain, &hosts);
    EXPECT_EQ(item.hosts, hosts) << item.branding_domain;
  }

  // The product's own branding, read by package_check_host.
  const std::vector<std::vector<std::string>> product = RunCheckHost(L"product");
  ASSERT_EQ(1u, product.size());
  std::vector<std::wstring> expected;
  GetAllowedDownloadHostsFor(product[0][3], &expected);
  std::vector<std::wstring> listed;
  for (const auto& row : RunCheckHost(L"hosts"))
    listed.push_back(base::UTF8ToWide(row[0]));
  EXPECT_EQ(expected, listed);
}

}  // namespace
}  // namespace zorvi::installer
