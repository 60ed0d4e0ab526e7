// What the installer is: the constants of this build (versions, build numbers, release stream) and the
// branding document, a JSON object carried as "TXT" resource 133 of the host executable that names the
// product, its maker, its file names and its web addresses. Every name, version and URL the installer shows,
// writes or sends comes from here. The document is parsed once per process and kept for its lifetime.
#ifndef DESKTOP_COMMON_PRODUCT_PRODUCT_INFO_H_
#define DESKTOP_COMMON_PRODUCT_PRODUCT_INFO_H_

#include <cstdint>
#include <string>

namespace base {
class DictionaryValue;
}

namespace zorvi::installer {

// Build constants.

// The browser project's major version (52), or -1 when its version text does not start with a number.
int GetVastreloMajorVersion();
// When the build was requested: "yyyymmdd_hhmmss".
std::string GetBuildRequestTime();
// The build's release stream: 2 and 3 are pre-release streams, 4 is the release stream.
int GetStreamId();
// The lower-case name of the build's stream ("nightly"), printed by the "stream" probe that installers of
// other builds compare byte for byte.
std::string GetStreamName();
// "2234.0", printed by the "internal-version" probe.
std::string GetInternalVersion();
uint32_t GetBuildNumber();
uint32_t GetBuildSetNumber();

// The lower-case name ("nightly", "beta", "release") and the capitalised display word ("Nightly", "Beta",
// "Release") of a release stream; null for a number that is not a release stream.
const char* GetStreamNameOf(int stream_id);
const char* GetStreamDisplayWordOf(int stream_id);

// Branding. A key that is missing or of another kind yields the default (empty, 0 or false).

// The raw document: exactly the resource's bytes, empty when neither the host nor the test-automation module
// beside it carries the resource.
std::string LoadBrandingText();
// The parsed document, made on first use and never freed; empty when the text does not parse or its root is
// not an object.
const base::DictionaryValue& GetBrandingDictionary();

std::string GetBrandingCompanyName();
std::string GetBrandingCrashLogProductSuffix();
std::string GetBrandingDefaultProfilePathTemplate();
std::string GetBrandingDomain();
std::string GetBrandingExpectedSigner();
std::string GetBrandingFileNameBase();
int GetBrandingMajorDelta();
std::string GetBrandingProductName();
std::string GetBrandingShortcutSuffix();
bool GetBrandingScheduleAutoupdateTask();
// The entry `name` of "urls" ("autoupdate", "crash", "download", "download_full_windows", "help", "homepage",
// "uninstall_survey"); empty when absent or not a string.
std::string GetBrandingUrl(const std::string& name);
bool GetBrandingUseVastreloMajorForMinor();
std::string GetBrandingUserAgentName();
std::string GetBrandingVisibleProductName();
bool GetBrandingWhiteLabeled();

// "Software\" + the branding company name: the product's key under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.
std::wstring GetCompanyRegistryKeyPath();

// Derived values.

std::string GetProductName();    // the branding product name
std::string GetUserAgentName();  // the branding user-agent name, which selects the experiment channel
int GetMajorVersion();           // 39 + the branding major delta
// "major.minor.2234.0": the minor is the browser project's major version when the branding asks for it, else 0.
std::string GetFullVersionString();
// " (Edition <stream name>)", appended to the crash-upload user agent.
std::string GetEditionSuffix();
// The visible product name, a blank and the stream name.
std::string GetVisibleProductNameWithStream();

}  // namespace zorvi::installer

#endif  // DESKTOP_COMMON_PRODUCT_PRODUCT_INFO_H_
