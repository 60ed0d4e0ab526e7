#include "desktop/common/product/installer_experiments.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/features/feature_list.h"
#include "testing/test_programs.h"

namespace zorvi::installer {
namespace {

// "DO" for a feature in a channel: D is 1 when on by default, O is 1 when it may be overridden.
std::string StateIn(const FeatureRow& row, const ChannelMasks& channel) {
  return {static_cast<char>('0' + IsFeatureEnabledByDefault(row, channel)),
          static_cast<char>('0' + IsFeatureOverridable(row, channel))};
}

std::vector<const FeatureRow*> AllRows() {
  size_t count = 0;
  const FeatureRow* installer_rows = GetInstallerFeatureTable(&count);
  std::vector<const FeatureRow*> rows;
  for (size_t i = 0; i < count; ++i)
    rows.push_back(&installer_rows[i]);
  rows.push_back(FindFeature("alternative-crash-logging"));
  return rows;
}

struct ChannelCase {
  const char* user_agent_name;
  int stream;
  int row;
  // The states of "installer-experiment-test", "installer-ui-stats", "installer-hide-from-program-and-features",
  // "installer-pref-default-overrides-support" and the browser's "alternative-crash-logging".
  const char* states[5];
};

const ChannelCase kChannelMatrix[] = {
    {"ZRV", 2, 0, {"01", "11", "00", "11", "01"}},
    {"ZRV", 3, 1, {"01", "11", "00", "11", "01"}},
    {"ZRV", 4, 2, {"01", "11", "00", "11", "01"}},
    {"KDR", 2, 3, {"01", "01", "10", "01", "01"}},
    {"KDR", 3, 4, {"01", "01", "10", "01", "01"}},
    {"KDR", 4, 5, {"01", "01", "10", "01", "01"}},
    // No row: every feature off and fixed. The names compare byte for byte.
    {"ZRV", 5, -1, {"00", "00", "00", "00", "00"}},
    {"zrv", 2, -1, {"00", "00", "00", "00", "00"}},
    {"Zorvi", 2, -1, {"00", "00", "00", "00", "00"}},
    {"", 4, -1, {"00", "00", "00", "00", "00"}},
};

TEST(InstallerExperimentsTest, ChannelMatrix) {
  const std::vector<const FeatureRow*> rows = AllRows();
  ASSERT_EQ(5u, rows.size());
  ASSERT_NE(nullptr, rows[4]);
  for (const ChannelCase& c : kChannelMatrix) {
    SCOPED_TRACE(std::string(c.user_agent_name) + "/" + std::to_string(c.stream));
    EXPECT_EQ(c.row, FindChannelRow(c.user_agent_name, c.stream));
    const ChannelMasks channel = GetChannelMasksFor(c.user_agent_name, c.stream);
    for (size_t i = 0; i < rows.size(); ++i)
      EXPECT_EQ(c.states[i], StateIn(*rows[i], channel)) << rows[i]->name;
  }
}

TEST(InstallerExperimentsTest, InstallerRowsAreNotBrowserRows) {
  const std::vector<const FeatureRow*> rows = AllRows();
  for (const FeatureRow* row : rows)
    EXPECT_EQ(row == rows.back(), FindFeature(row->name) != nullptr) << row->name;
  EXPECT_EQ(nullptr, FindFeature("alternative-crash-logging "));
  EXPECT_EQ(nullptr, FindFeature(""));
}

// The product host's branding selects the product's own channel of this build's stream.
TEST(InstallerExperimentsTest, ProductHostSelectsItsOwnChannel) {
  std::map<std::string, std::string> report;
  std::string error;
  ASSERT_TRUE(test::RunReportingChild(L"\"" + test::TestProgram(L"product_info_host_product.exe").value() +
                                          L"\" experiments",
                                      &report, &error))
      << error;
  const ChannelCase& product = kChannelMatrix[0];
  EXPECT_EQ(std::to_string(product.row), report["FindChannelRow"]);
  const std::vector<const FeatureRow*> rows = AllRows();
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(product.states[i], report[rows[i]->name]) << rows[i]->name;
}

// Asks for the given states.
class OverrideReader : public base::FeatureReader {
 public:
  explicit OverrideReader(std::vector<base::FeatureEntry> overrides) : overrides_(std::move(overrides)) {}
  void Read(std::vector<base::FeatureEntry>* overrides) const override {
    overrides->insert(overrides->end(), overrides_.begin(), overrides_.end());
  }

 private:
  const std::vector<base::FeatureEntry> overrides_;
};

// The test program carries no branding, so its channel is unknown: the features are registered off and fixed.
TEST(InstallerExperimentsTest, RegistrationFollowsTheBuildsChannel) {
  const ChannelMasks channel = GetChannelMasks();
  EXPECT_EQ(0u, channel.enabled | channel.overridable);
  base::FeatureList list;
  RegisterInstallerFeatures(&list);
  size_t count = 0;
  const FeatureRow* rows = GetInstallerFeatureTable(&count);
  std::vector<bool> defaults;
  std::vector<base::FeatureEntry> opposites;
  for (size_t i = 0; i < count; ++i) {
    defaults.push_back(list.IsFeatureEnabled(rows[i].name));
    opposites.push_back({rows[i].name, !defaults.back(), false});
  }
  list.InitializeFromReader(OverrideReader(std::move(opposites)));
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(IsFeatureEnabledByDefault(rows[i]), defaults[i]);
    EXPECT_FALSE(defaults[i]);
    EXPECT_EQ(IsFeatureOverridable(rows[i]), list.IsFeatureEnabled(rows[i].name) != defaults[i]);
  }
}

}  // namespace
}  // namespace zorvi::installer
