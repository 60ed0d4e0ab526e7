#include "base/features/feature_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/values.h"
#include "testing/test_support.h"

namespace base {
namespace {

CommandLine MakeCommandLine(const std::wstring& arguments) {
  CommandLine command_line;
  command_line.ParseCommandLineString(L"program.exe " + arguments);
  return command_line;
}

std::vector<std::string>* g_warnings = nullptr;

bool CaptureWarning(int severity, const char*, int, size_t message_start, const std::string& text) {
  if (g_warnings && severity == logging::LOG_WARNING) {
    std::string body = text.substr(message_start);
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
      body.pop_back();
    g_warnings->push_back(body);
  }
  return true;
}

class ScopedWarningCapture {
 public:
  explicit ScopedWarningCapture(std::vector<std::string>* warnings) : previous_(logging::GetLogMessageHandler()) {
    g_warnings = warnings;
    logging::SetLogMessageHandler(&CaptureWarning);
  }
  ~ScopedWarningCapture() {
    logging::SetLogMessageHandler(previous_);
    g_warnings = nullptr;
  }

 private:
  logging::LogMessageHandlerFunction previous_;
};

TEST(FeatureListTest, RegistrationsAndDefaults) {
  FeatureList list;
  list.AddFeature("on-by-default", true, true);
  list.AddFeature("twice", true, false);
  list.AddFeature("twice", false, true);  // the first registration answers
  EXPECT_TRUE(list.IsFeatureEnabled("on-by-default"));
  EXPECT_TRUE(list.IsFeatureEnabled("twice"));
  EXPECT_FALSE(list.IsFeatureEnabled("unregistered"));
  EXPECT_FALSE(list.IsFeatureEnabled("On-By-Default"));  // names compare byte for byte
  EXPECT_FALSE(list.IsFeatureEnabled(""));
}

TEST(FeatureListTest, CommandLineSwitches) {
  FeatureList list;
  list.AddFeature("bare", false, true);
  list.AddFeature("switched-off", true, true);
  list.AddFeature("shouted", false, true);
  list.AddFeature("fixed", false, false);
  std::vector<std::string> warnings;
  {
    ScopedWarningCapture capture(&warnings);
    const CommandLine command_line = MakeCommandLine(
        L"--with-feature:bare --with-feature:switched-off=off --with-feature:shouted=ON "
        L"--with-feature:fixed=on --with-feature:unregistered=on --other=off --with-feature:wide=\u00e9");
    list.InitializeFromReader(CommandLineFeatureReader(&command_line));
  }
  EXPECT_TRUE(list.IsFeatureEnabled("bare"));            // no value: on
  EXPECT_FALSE(list.IsFeatureEnabled("switched-off"));
  EXPECT_FALSE(list.IsFeatureEnabled("shouted"));        // "ON" is not a value: the default stays
  EXPECT_FALSE(list.IsFeatureEnabled("fixed"));          // not overridable
  EXPECT_FALSE(list.IsFeatureEnabled("unregistered"));   // an override alone enables nothing
  // Overrides in the switch map's order (sorted by name); a non-ASCII value reads as empty, so on.
  std::vector<std::string> names;
  for (const FeatureEntry& entry : list.overrides())
    names.push_back(entry.name + (entry.state ? "=on" : "=off"));
  EXPECT_EQ((std::vector<std::string>{"bare=on", "fixed=on", "switched-off=off", "unregistered=on", "wide=on"}),
            names);
  ASSERT_EQ(1u, warnings.size());
  EXPECT_EQ("with-feature:shouted has unhandled value: \"ON\" did you mean \"on\" or \"off\"? Using default "
            "setting.",
            warnings[0]);
}

TEST(FeatureListTest, LaterOverridesWin) {
  FeatureList list;
  list.AddFeature("experiment", false, true);
  ListValue stored;
  stored.AppendString("experiment@1");
  stored.AppendString("experiment@2");
  list.InitializeFromReader(ListFeatureReader(&stored));
  EXPECT_FALSE(list.IsFeatureEnabled("experiment"));  // the last entry of the list
  const CommandLine command_line = MakeCommandLine(L"--with-feature:experiment=on");
  list.InitializeFromReader(CommandLineFeatureReader(&command_line));
  EXPECT_TRUE(list.IsFeatureEnabled("experiment"));  // the switch came after the list
  list.InitializeFromReader(ListFeatureReader(&stored));
  EXPECT_FALSE(list.IsFeatureEnabled("experiment"));
  EXPECT_EQ(5u, list.overrides().size());
}

TEST(FeatureListTest, StoredListEntries) {
  FeatureList list;
  const char* const names[] = {"one", "two", "three", "x", "plain", "a", "b", "spaced", "zero", "signed"};
  for (const char* name : names)
    list.AddFeature(name, false, true);
  list.AddFeature("default-on", true, true);
  ListValue stored;
  stored.AppendString("one@1");
  stored.AppendString("two@2");
  stored.AppendString("three@3");
  stored.AppendString("x@x");
  stored.AppendString("plain");
  stored.AppendString("a@b@1");
  stored.AppendString(" spaced @ 1 ");
  stored.AppendString("zero@0");
  stored.AppendString("default-on@2");
  stored.AppendString("signed@+1");
  stored.AppendInteger(1);
  stored.Append(new DictionaryValue);
  list.InitializeFromReader(ListFeatureReader(&stored));
  EXPECT_TRUE(list.IsFeatureEnabled("one"));
  EXPECT_FALSE(list.IsFeatureEnabled("two"));
  EXPECT_FALSE(list.IsFeatureEnabled("three"));
  EXPECT_FALSE(list.IsFeatureEnabled("x"));
  EXPECT_FALSE(list.IsFeatureEnabled("plain"));
  EXPECT_FALSE(list.IsFeatureEnabled("a"));
  EXPECT_TRUE(list.IsFeatureEnabled("spaced"));
  EXPECT_FALSE(list.IsFeatureEnabled("zero"));
  EXPECT_FALSE(list.IsFeatureEnabled("default-on"));
  EXPECT_TRUE(list.IsFeatureEnabled("signed"));  // "+1" converts to 1
  std::vector<std::string> read;
  for (const FeatureEntry& entry : list.overrides())
    read.push_back(entry.name);
  EXPECT_EQ((std::vector<std::string>{"one", "two", "spaced", "default-on", "signed"}), read);

  // A stored value that is not a list gives no overrides.
  list.InitializeFromReader(ListFeatureReader(nullptr));
  EXPECT_EQ(5u, list.overrides().size());
}

TEST(FeatureListTest, SwitchName) {
  EXPECT_EQ("with-feature:installer-ui-stats", CommandLineFeatureReader::SwitchNameForFeature("installer-ui-stats"));
}

// A child started with the overrides of this process's list sees the same states, one switch per override
// and none for defaults.
TEST(FeatureListTest, ChildProcessReceivesOverrides) {
  FeatureList* list = FeatureList::GetInstance();
  EXPECT_EQ(list, FeatureList::GetInstance());
  list->AddFeature("child-a", false, true);
  list->AddFeature("child-b", true, true);
  list->AddFeature("child-c", false, true);
  const CommandLine own = MakeCommandLine(L"--with-feature:child-a --with-feature:child-b=off");
  list->InitializeFromReader(CommandLineFeatureReader(&own));
  EXPECT_TRUE(IsFeatureEnabled("child-a"));
  EXPECT_FALSE(IsFeatureEnabled("child-b"));
  EXPECT_FALSE(IsFeatureEnabled("child-c"));

  CommandLine child(FilePath(test_support::ExecutableDir() + L"\\feature_list_test_child.exe"));
  AppendFeatureSwitchesToCommandLine(&child);
  DWORD exit_code = 1;
  std::string output;
  ASSERT_TRUE(test_support::RunProcess(child.GetCommandLineString(), &exit_code, &output));
  EXPECT_EQ(0u, exit_code) << output;
  EXPECT_NE(std::string::npos, output.find("switches=2 child-a=1 child-b=0 child-c=0")) << output;
}

}  // namespace
}  // namespace base
