#include "desktop/common/product/installer_experiments.h"

#include <iterator>

#include "base/features/feature_list.h"
#include "desktop/common/product/product_info.h"

namespace zorvi::installer {

namespace {

constexpr FeatureRow kInstallerFeatures[] = {
    {kTestExperimentFeature, 0x0, 0xFFFF},
    {kInstallerUiStatsFeature, 0x3, 0xFFFF},
    {kHideFromProgramsFeature, 0x4, 0x0},
    {kPrefDefaultOverridesFeature, 0x3, 0xFFFF},
};

// The browser's features that the installer's processes look up. A minidump beside each text crash log is
// costly, so it is off by default and may be switched on everywhere.
constexpr FeatureRow kBrowserFeatures[] = {
    {kAlternativeCrashLoggingFeature, 0x0, 0xFFFF},
};

struct ChannelRow {
  const char* user_agent_name;
  int32_t stream;
  uint32_t enabled_bits;
  uint32_t overridable_bits;
};

// The product's own channels (bits 0x1 and 0x2) and those of the other product built from this installer,
// which only hides itself from the list of installed programs (bit 0x4).
constexpr char kProductUserAgentName[] = "ZRV";
constexpr char kOtherProductUserAgentName[] = "KDR";
constexpr ChannelRow kChannels[] = {
    {kProductUserAgentName, 2, 0x3, 0x3},      {kProductUserAgentName, 3, 0x2, 0x2},
    {kProductUserAgentName, 4, 0x2, 0x2},      {kOtherProductUserAgentName, 2, 0x4, 0x4},
    {kOtherProductUserAgentName, 3, 0x4, 0x4}, {kOtherProductUserAgentName, 4, 0x4, 0x4},
};

}  // namespace

int FindChannelRow(const std::string& user_agent_name, int stream) {
  for (size_t i = 0; i < std::size(kChannels); ++i) {
    if (kChannels[i].stream == stream && user_agent_name == kChannels[i].user_agent_name)
      return static_cast<int>(i);
  }
  return -1;
}

ChannelMasks GetChannelMasksFor(const std::string& user_agent_name, int stream) {
  const int row = FindChannelRow(user_agent_name, stream);
  if (row < 0)
    return ChannelMasks();
  return ChannelMasks{kChannels[row].enabled_bits, kChannels[row].overridable_bits};
}

ChannelMasks GetChannelMasks() {
  return GetChannelMasksFor(GetUserAgentName(), GetStreamId());
}

const FeatureRow* GetInstallerFeatureTable(size_t* count) {
  *count = std::size(kInstallerFeatures);
  return kInstallerFeatures;
}

const FeatureRow* FindFeature(const std::string& name) {
  for (const FeatureRow& row : kBrowserFeatures) {
    if (name == row.name)
      return &row;
  }
  return nullptr;
}

bool IsFeatureEnabledByDefault(const FeatureRow& row, const ChannelMasks& channel) {
  return (row.enabled_channels & channel.enabled) != 0;
}

bool IsFeatureOverridable(const FeatureRow& row, const ChannelMasks& channel) {
  return (row.overridable_channels & channel.overridable) != 0;
}

bool IsFeatureEnabledByDefault(const FeatureRow& row) {
  return IsFeatureEnabledByDefault(row, GetChannelMasks());
}

bool IsFeatureOverridable(const FeatureRow& row) {
  return IsFeatureOverridable(row, GetChannelMasks());
}

void RegisterInstallerFeatures(base::FeatureList* feature_list) {
  const ChannelMasks channel = GetChannelMasks();
  for (const FeatureRow& row : kInstallerFeatures)
    feature_list->AddFeature(row.name, IsFeatureEnabledByDefault(row, channel), IsFeatureOverridable(row, channel));
}

bool InstallerUiStatsEnabled() {
  return base::IsFeatureEnabled(kInstallerUiStatsFeature);
}

}  // namespace zorvi::installer
