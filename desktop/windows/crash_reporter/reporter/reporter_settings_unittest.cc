#include "desktop/windows/crash_reporter/reporter/reporter_settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/command_line.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/test_seams.h"
#include "testing/test_support.h"

namespace zorvi {
namespace installer {
namespace {

TEST(ReporterSettingsTest, TheStateFileOverridesTheSwitchWhichOverridesTheFeatureTable) {
  SetBrandingTextForTesting(R"({"user_agent_name": "ZRV"})");  // the product's channel
  const FeatureRow* row = FindFeature("alternative-crash-logging");
  ASSERT_NE(nullptr, row);
  const bool table_default = IsFeatureEnabledByDefault(*row);
  ASSERT_TRUE(IsFeatureOverridable(*row)) << "the rows below assume the feature can be switched";
  test_support::ScopedTestFolder folder(L"reporter_settings");
  const struct {
    const char* name;
    const char* switch_value;  // null: no switch
    const char* state;         // null: no state file
    bool reporting;
    int alternative;  // -1: the feature table's default
  } rows[] = {
      {"defaults", nullptr, nullptr, true, -1},
      {"switch on", "on", nullptr, true, 1},
      {"switch off", "off", nullptr, true, 0},
      {"switch ON", "ON", nullptr, true, -1},
      {"switch empty", "", nullptr, true, -1},
      {"reporting off", nullptr, R"({"user_experience_metrics": {"reporting_enabled": false}})", false, -1},
      {"reporting as text", nullptr, R"({"user_experience_metrics": {"reporting_enabled": "false"}})", true, -1},
      {"flag on over switch off", "off", R"({"browser": {"flags": {"alternative-crash-logging": 1}}})", true, 1},
      {"flag off over switch on", "on", R"({"browser": {"flags": {"alternative-crash-logging": 2}}})", true, 0},
      {"flag 3", "on", R"({"browser": {"flags": {"alternative-crash-logging": 3}}})", true, 1},
      {"not json", "on", R"({"user_experience_metrics": )", true, 1},
      {"trailing comma", "on", R"({"user_experience_metrics": {"reporting_enabled": false},})", true, 1},
      {"array root", nullptr, R"([false])", true, -1},
  };
  for (const auto& row_case : rows) {
    SCOPED_TRACE(row_case.name);
    ResetReporterSettingsForTesting();
    base::CommandLine command_line(base::FilePath(L"reporter.exe"));
    if (row_case.switch_value)
      command_line.AppendSwitchASCII("with-feature:alternative-crash-logging", row_case.switch_value);
    base::FilePath state_file;
    if (row_case.state) {
      state_file = base::FilePath(folder.path() + L"\\Local State");
      ASSERT_TRUE(test_support::WriteFileBytes(state_file.value(), row_case.state));
    }
    ReadReporterSettingsFrom(command_line, state_file);
    EXPECT_EQ(row_case.reporting, IsReportingEnabled());
    EXPECT_EQ(row_case.alternative < 0 ? table_default : row_case.alternative == 1, IsAlternativeCrashLoggingEnabled());
  }
  // A state file that does not exist leaves what the switch said.
  ResetReporterSettingsForTesting();
  base::CommandLine command_line(base::FilePath(L"reporter.exe"));
  command_line.AppendSwitchASCII("with-feature:alternative-crash-logging", table_default ? "off" : "on");
  ReadReporterSettingsFrom(command_line, base::FilePath(folder.path() + L"\\missing"));
  EXPECT_NE(table_default, IsAlternativeCrashLoggingEnabled());
  EXPECT_TRUE(IsReportingEnabled());
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
