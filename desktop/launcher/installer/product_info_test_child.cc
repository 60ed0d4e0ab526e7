// Prints every build constant and branding getter as "Getter=value" lines. The branding comes from the
// executable's own "TXT" 133 resource, so the tests build this program once per resource variant and compare
// its report with what Python's json makes of the resource that wrestool extracts.
#include <cstdio>
#include <string>

#include "desktop/launcher/installer/product_info.h"

namespace {

void Print(const char* name, const std::string& value) {
  std::printf("%s=%s\n", name, value.c_str());
}

void Print(const char* name, long long value) {
  std::printf("%s=%lld\n", name, value);
}

}  // namespace

int main() {
  namespace zi = zorvi::installer;
  Print("GetVastreloMajorVersion", zi::GetVastreloMajorVersion());
  Print("GetBuildRequestTime", zi::GetBuildRequestTime());
  Print("GetStreamId", zi::GetStreamId());
  Print("GetStreamName", zi::GetStreamName());
  Print("GetInternalVersion", zi::GetInternalVersion());
  Print("GetBuildNumber", zi::GetBuildNumber());
  Print("GetBuildSetNumber", zi::GetBuildSetNumber());
  Print("LoadBrandingTextSize", static_cast<long long>(zi::LoadBrandingText().size()));
  Print("GetBrandingCompanyName", zi::GetBrandingCompanyName());
  Print("GetBrandingCrashLogProductSuffix", zi::GetBrandingCrashLogProductSuffix());
  Print("GetBrandingDefaultProfilePathTemplate", zi::GetBrandingDefaultProfilePathTemplate());
  Print("GetBrandingDomain", zi::GetBrandingDomain());
  Print("GetBrandingExpectedSigner", zi::GetBrandingExpectedSigner());
  Print("GetBrandingFileNameBase", zi::GetBrandingFileNameBase());
  Print("GetBrandingMajorDelta", zi::GetBrandingMajorDelta());
  Print("GetBrandingProductName", zi::GetBrandingProductName());
  Print("GetBrandingShortcutSuffix", zi::GetBrandingShortcutSuffix());
  Print("GetBrandingScheduleAutoupdateTask", zi::GetBrandingScheduleAutoupdateTask());
  Print("GetBrandingUseVastreloMajorForMinor", zi::GetBrandingUseVastreloMajorForMinor());
  Print("GetBrandingUserAgentName", zi::GetBrandingUserAgentName());
  Print("GetBrandingVisibleProductName", zi::GetBrandingVisibleProductName());
  Print("GetBrandingWhiteLabeled", zi::GetBrandingWhiteLabeled());
  for (const char* url : {"autoupdate", "crash", "download", "download_full_windows", "help", "homepage",
                          "uninstall_survey", "not_a_url_name"}) {
    Print(("GetBrandingUrl." + std::string(url)).c_str(), zi::GetBrandingUrl(url));
  }
  Print("GetProductName", zi::GetProductName());
  Print("GetUserAgentName", zi::GetUserAgentName());
  Print("GetMajorVersion", zi::GetMajorVersion());
  Print("GetFullVersionString", zi::GetFullVersionString());
  Print("GetEditionSuffix", zi::GetEditionSuffix());
  Print("GetVisibleProductNameWithStream", zi::GetVisibleProductNameWithStream());
  return 0;
}
