#include "desktop/windows/crash_reporter/reporter_settings.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/json/json_file_value_serializer.h"
#include "base/values.h"
#include "desktop/launcher/installer/installer_experiments.h"

namespace zorvi {
namespace installer {
namespace {

struct ReporterSetting {
  const char* feature_name;    // null: not a feature
  const char* state_file_key;  // null: not in the state file under a key of its own
  bool value;
  bool configurable;
};

constexpr ReporterSetting kBuiltInSettings[] = {
    {nullptr, "user_experience_metrics.reporting_enabled", true, true},
    {"alternative-crash-logging", nullptr, false, true},
};
constexpr size_t kReportingEnabled = 0;
constexpr size_t kAlternativeCrashLogging = 1;

ReporterSetting g_settings[] = {kBuiltInSettings[0], kBuiltInSettings[1]};

}  // namespace

void ReadReporterSettings(const base::FilePath& state_file) {
  ReadReporterSettingsFrom(*base::CommandLine::ForCurrentProcess(), state_file);
}

void ReadReporterSettingsFrom(const base::CommandLine& command_line, const base::FilePath& state_file) {
  for (ReporterSetting& setting : g_settings) {
    if (!setting.feature_name)
      continue;
    if (const FeatureRow* row = FindFeature(setting.feature_name)) {
      setting.value = IsFeatureEnabledByDefault(*row);
      setting.configurable = IsFeatureOverridable(*row);
    }
  }
  for (ReporterSetting& setting : g_settings) {
    if (!setting.feature_name || !setting.configurable)
      continue;
    const std::string value = command_line.GetSwitchValueASCII(
        base::CommandLineFeatureReader::SwitchNameForFeature(setting.feature_name));
    if (value == "off")
      setting.value = false;
    else if (value == "on")
      setting.value = true;
  }
  if (state_file.empty())
    return;
  base::JsonFileValueDeserializer reader(state_file);
  std::unique_ptr<base::Value> root = reader.Deserialize(nullptr, nullptr);
  const base::DictionaryValue* state = nullptr;
  if (!root || !root->GetAsDictionary(&state))
    return;
  for (ReporterSetting& setting : g_settings) {
    if (!setting.configurable)
      continue;
    if (!setting.feature_name && setting.state_file_key) {
      state->GetBoolean(setting.state_file_key, &setting.value);
    } else if (setting.feature_name) {
      // The browser's flags page stores 1 for on and 2 for off.
      int flag = 0;
      if (state->GetInteger(std::string("browser.flags.") + setting.feature_name, &flag) && (flag == 1 || flag == 2))
        setting.value = flag == 1;
    }
  }
}

bool IsReportingEnabled() {
  return g_settings[kReportingEnabled].value;
}

bool IsAlternativeCrashLoggingEnabled() {
  return g_settings[kAlternativeCrashLogging].value;
}

void ResetReporterSettingsForTesting() {
  g_settings[kReportingEnabled] = kBuiltInSettings[kReportingEnabled];
  g_settings[kAlternativeCrashLogging] = kBuiltInSettings[kAlternativeCrashLogging];
}

}  // namespace installer
}  // namespace zorvi
