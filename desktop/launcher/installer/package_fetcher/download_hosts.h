// The hosts that the update service's address request may reach. An entry admits every host name that ends
// with it; the downloader treats an empty list as "any host".
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_DOWNLOAD_HOSTS_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_DOWNLOAD_HOSTS_H_

#include <string>
#include <vector>

namespace zorvi::installer {

// The maker's own service domain and its internal development domain, each with a leading dot.
extern const wchar_t kMakerDomainSuffix[];
extern const wchar_t kDevelopmentDomainSuffix[];

// Replaces *hosts with: the branding's domain (unless it is empty or the maker's suffix), the maker's suffix,
// the development suffix, the loopback host name and the IPv4 loopback address.
void GetAllowedDownloadHosts(std::vector<std::wstring>* hosts);

// The same list for a given branding domain (UTF-8).
void GetAllowedDownloadHostsFor(const std::string& branding_domain, std::vector<std::wstring>* hosts);

// Appends the branding domain (UTF-8) unless it is empty or the maker's suffix. An empty entry would admit every
// host and so silently lift the whole restriction; a branding without a domain of its own relies on the maker's.
void AppendBrandingDomain(const std::string& branding_domain, std::vector<std::wstring>* hosts);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_DOWNLOAD_HOSTS_H_
