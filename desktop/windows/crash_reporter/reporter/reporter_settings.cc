#include "desktop/windows/crash_reporter/reporter/reporter_settings.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/json/json_file_value_serializer.h"
#include "base/values.h"
#include "desktop/common/product/installer_experiments.h"

namespace zorvi {
namespace installer {
namespace {

constexpr char kReportingEnabledKey[] = "user_experience_metrics.reporting_enabled";

// The built-in values.
bool g_reporting_enabled = true;
bool g_alternative_crash_logging = false;

}  // namespace

void ReadReporterSettings(const base::FilePath& state_file) {
  ReadReporterSettingsFrom(*base::CommandLine::ForCurrentProcess(), state_file);
}

void ReadReporterSettingsFrom(const base::CommandLine& command_line, const base::FilePath& state_file) {
  // The feature table gives the minidump setting's default and whether the switch and the state file may change it.
  bool configurable = true;
  if (const FeatureRow* row = FindFeature(kAlternativeCrashLoggingFeature)) {
    g_alternative_crash_logging = IsFeatureEnabledByDefault(*row);
    configurable = IsFeatureOverridable(*row);
  }
  if (configurable) {
    const std::string value = command_line.GetSwitchValueASCII(
        base::CommandLineFeatureReader::SwitchNameForFeature(kAlternativeCrashLoggingFeature));
    if (value == "off" || value == "on")
      g_alternative_crash_logging = value == "on";
  }
  if (state_file.empty())
    return;
  base::JsonFileValueDeserializer reader(state_file);
  std::unique_ptr<base::Value> root = reader.Deserialize(nullptr, nullptr);
  const base::DictionaryValue* state = nullptr;
  if (!root || !root->GetAsDictionary(&state))
    return;
  state->GetBoolean(kReportingEnabledKey, &g_reporting_enabled);
  // The browser's flags page stores 1 for on and 2 for off.
  int flag = 0;
  if (configurable && state->GetInteger(std::string("browser.flags.") + kAlternativeCrashLoggingFeature, &flag) &&
      (flag == 1 || flag == 2)) {
    g_alternative_crash_logging = flag == 1;
  }
}

bool IsReportingEnabled() {
  return g_reporting_enabled;
}

bool IsAlternativeCrashLoggingEnabled() {
  return g_alternative_crash_logging;
}

void ResetReporterSettingsForTesting() {
  g_reporting_enabled = true;
  g_alternative_crash_logging = false;
}

}  // namespace installer
}  // namespace zorvi
