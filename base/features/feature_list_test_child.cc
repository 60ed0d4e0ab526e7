// Started by the feature list tests with the switches of AppendFeatureSwitchesToCommandLine: registers three
// overridable features, reads its own command line and prints what it sees.
#include <cstdio>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"

int main() {
  base::CommandLine::Init();
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  int feature_switches = 0;
  for (const auto& entry : command_line->GetSwitches())
    feature_switches += entry.first.compare(0, 13, "with-feature:") == 0;
  base::FeatureList* list = base::FeatureList::GetInstance();
  list->AddFeature("child-a", false, true);
  list->AddFeature("child-b", true, true);
  list->AddFeature("child-c", false, true);
  list->InitializeFromReader(base::CommandLineFeatureReader(command_line));
  printf("switches=%d child-a=%d child-b=%d child-c=%d\n", feature_switches, base::IsFeatureEnabled("child-a"),
         base::IsFeatureEnabled("child-b"), base::IsFeatureEnabled("child-c"));
  return 0;
}
