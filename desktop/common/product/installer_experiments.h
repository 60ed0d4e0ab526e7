// The installer's experiments: named on/off features whose defaults, and whether switches or stored
// preferences may change them, depend on the build's channel, the pair (product user-agent name, release
// stream). The tables are static; RegisterInstallerFeatures turns the installer's rows into registrations of
// the process-wide FeatureList. The browser's own rows are kept in the same format so that the crash reporter
// can look its settings up by name.
#ifndef DESKTOP_COMMON_PRODUCT_INSTALLER_EXPERIMENTS_H_
#define DESKTOP_COMMON_PRODUCT_INSTALLER_EXPERIMENTS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {
class FeatureList;
}

namespace zorvi::installer {

// The installer's features: one that only tests look at, the statistics of the interface and the user's choices,
// leaving the installation out of the system's list of programs, and asking the update service for preference
// defaults.
inline constexpr char kTestExperimentFeature[] = "installer-experiment-test";
inline constexpr char kInstallerUiStatsFeature[] = "installer-ui-stats";
inline constexpr char kHideFromProgramsFeature[] = "installer-hide-from-program-and-features";
inline constexpr char kPrefDefaultOverridesFeature[] = "installer-pref-default-overrides-support";
// The browser's feature that the crash reporter looks up: a minidump beside each text crash log.
inline constexpr char kAlternativeCrashLoggingFeature[] = "alternative-crash-logging";

// One feature: which channels have it on by default and which may override it, each a bit set matched against
// a channel's bits.
struct FeatureRow {
  const char* name;
  uint32_t enabled_channels;
  uint32_t overridable_channels;
  uint32_t unused[3] = {41239, 41239, 2};  // the same in every row of this build; the installer never reads them
};

struct ChannelMasks {
  uint32_t enabled = 0;
  uint32_t overridable = 0;
};

// The row index (0 to 5) of the channel table for the pair, or -1: the name is compared byte for byte.
int FindChannelRow(const std::string& user_agent_name, int stream);

// The channel bits of the pair; none when the channel table has no row for it.
ChannelMasks GetChannelMasksFor(const std::string& user_agent_name, int stream);
// The channel bits of this build: its branding user-agent name and its stream.
ChannelMasks GetChannelMasks();

// The installer's rows, in order; *count receives their number.
const FeatureRow* GetInstallerFeatureTable(size_t* count);

// The browser row of that name (exact comparison), or null. Installer rows are not browser rows.
const FeatureRow* FindFeature(const std::string& name);

// Whether the row is on by default, or may be overridden, in the given channel or in this build's.
bool IsFeatureEnabledByDefault(const FeatureRow& row, const ChannelMasks& channel);
bool IsFeatureOverridable(const FeatureRow& row, const ChannelMasks& channel);
bool IsFeatureEnabledByDefault(const FeatureRow& row);
bool IsFeatureOverridable(const FeatureRow& row);

// Adds every installer row, in order, with its default and overridability in this build's channel.
void RegisterInstallerFeatures(base::FeatureList* feature_list);

// Whether the installer records the statistics of its interface and of the user's choices (the feature
// "installer-ui-stats" of the process-wide list).
bool InstallerUiStatsEnabled();

}  // namespace zorvi::installer

#endif  // DESKTOP_COMMON_PRODUCT_INSTALLER_EXPERIMENTS_H_
