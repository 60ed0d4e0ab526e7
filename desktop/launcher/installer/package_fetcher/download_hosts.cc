#include "desktop/launcher/installer/package_fetcher/download_hosts.h"

#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/product_info.h"

namespace zorvi::installer {

const wchar_t kMakerDomainSuffix[] = L".zorvi.example";
const wchar_t kDevelopmentDomainSuffix[] = L".zorvi.test";

void GetAllowedDownloadHosts(std::vector<std::wstring>* hosts) {
  GetAllowedDownloadHostsFor(GetBrandingDomain(), hosts);
}

void GetAllowedDownloadHostsFor(const std::string& branding_domain, std::vector<std::wstring>* hosts) {
  hosts->clear();
  AppendBrandingDomain(branding_domain, hosts);
  hosts->push_back(kMakerDomainSuffix);
  hosts->push_back(kDevelopmentDomainSuffix);
  hosts->push_back(L"localhost");
  hosts->push_back(L"127.0.0.1");
}

void AppendBrandingDomain(const std::string& branding_domain, std::vector<std::wstring>* hosts) {
  const std::wstring domain = base::UTF8ToWide(branding_domain);
  if (!domain.empty() && domain != kMakerDomainSuffix)
    hosts->push_back(domain);
}

}  // namespace zorvi::installer
