// The fetcher's package checks as an installer built with the product's branding resource runs them: the
// expected signer, the allowed hosts and the probe rules all read this executable's "TXT" 133 resource and
// build constants. Commands (output one line per item, fields separated by tabs):
//   product          the internal version, the stream name, the expected signer and the branding domain
//   signer FILE...   1 or 0: VerifyFileSigner
//   hosts            GetAllowedDownloadHosts, one a line
//   probes FILE...   the "internal-version" answer, 1 or 0 for the version rule, the "stream" answer, 1 or 0
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/package_fetcher/download_hosts.h"
#include "desktop/launcher/installer/package_fetcher/package_probes.h"
#include "desktop/launcher/installer/package_fetcher/package_signature.h"

namespace zi = zorvi::installer;

int main() {
  base::AtExitManager exit_manager;
  // The report is the output: a probe of a package that cannot start logs its failure, which is expected here.
  logging::SetMinLogLevel(logging::LOG_FATAL);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2)
    return 2;
  const std::wstring command = argv[1];
  std::vector<base::FilePath> files;
  for (int i = 2; i < argc; ++i)
    files.emplace_back(argv[i]);
  if (command == L"product") {
    std::printf("%s\t%s\t%s\t%s\n", zi::GetInternalVersion().c_str(), zi::GetStreamName().c_str(),
                zi::GetBrandingExpectedSigner().c_str(), zi::GetBrandingDomain().c_str());
  } else if (command == L"signer") {
    for (const base::FilePath& file : files)
      std::printf("%d\n", zi::VerifyFileSigner(file) ? 1 : 0);
  } else if (command == L"hosts") {
    std::vector<std::wstring> hosts = {L"left over from before"};
    zi::GetAllowedDownloadHosts(&hosts);
    for (const std::wstring& host : hosts)
      std::printf("%s\n", base::WideToUTF8(host).c_str());
  } else if (command == L"probes") {
    for (const base::FilePath& file : files) {
      const std::string version = zi::RunPackageProbe(file, zi::kInternalVersionSwitch);
      const std::string stream = zi::RunPackageProbe(file, zi::kStreamSwitch);
      std::printf("%s\t%d\t%s\t%d\n", version.c_str(), zi::IsPackageVersionAcceptable(version) ? 1 : 0,
                  stream.c_str(), zi::IsPackageStreamAcceptable(stream) ? 1 : 0);
    }
  } else {
    return 2;
  }
  return 0;
}
