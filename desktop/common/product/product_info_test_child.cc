// Prints every build constant and branding getter, and the helpers built on them, as "Getter=value" lines; with the argument "experiments",
// the experiment channel that the branding selects and each feature's default and overridability instead. The
// branding comes from the executable's own "TXT" 133 resource, so the tests build this program once per
// resource variant and compare its report with what Python's json makes of the resource that wrestool
// extracts.
#include <cstdio>
#include <cstring>
#include <string>

#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/service/utils.h"

namespace {

void Print(const char* name, const std::string& value) {
  std::printf("%s=%s\n", name, value.c_str());
}

void Print(const char* name, long long value) {
  std::printf("%s=%lld\n", name, value);
}

namespace zi = zorvi::installer;

// "name=DO" per feature: D is 1 when it is on by default in this build's channel, O is 1 when it may be
// overridden there.
void PrintFeature(const zi::FeatureRow& row) {
  const char state[] = {static_cast<char>('0' + zi::IsFeatureEnabledByDefault(row)),
                        static_cast<char>('0' + zi::IsFeatureOverridable(row)), '\0'};
  Print(row.name, state);
}

void PrintExperiments() {
  Print("FindChannelRow", zi::FindChannelRow(zi::GetUserAgentName(), zi::GetStreamId()));
  size_t count = 0;
  const zi::FeatureRow* rows = zi::GetInstallerFeatureTable(&count);
  for (size_t i = 0; i < count; ++i)
    PrintFeature(rows[i]);
  if (const zi::FeatureRow* row = zi::FindFeature("alternative-crash-logging"))
    PrintFeature(*row);
}

void PrintProductInfo() {
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
  Print("GetLauncherExeName", zi::GetLauncherExeName());
  Print("GetStreamDisplayName", zi::GetStreamDisplayName());
  std::string company_key;
  for (wchar_t c : zi::GetCompanyRegistryKeyPath())  // its UTF-16 code units, in decimal
    company_key += std::to_string(static_cast<unsigned>(c)) + " ";
  Print("GetCompanyRegistryKeyPath", company_key);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "experiments") == 0)
    PrintExperiments();
  else
    PrintProductInfo();
  return 0;
}
