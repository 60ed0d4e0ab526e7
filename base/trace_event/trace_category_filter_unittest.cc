#include "base/trace_event/trace_category_filter.h"

#include <gtest/gtest.h>

namespace base {
namespace trace_event {
namespace {

struct GroupCase {
  const char* group;
  bool enabled;
};

void ExpectGroups(const TraceCategoryFilter& filter, const std::vector<GroupCase>& cases) {
  for (const GroupCase& c : cases)
    EXPECT_EQ(c.enabled, filter.IsCategoryGroupEnabled(c.group)) << "group: \"" << c.group << "\"";
}

TEST(TraceCategoryFilterTest, DefaultFilter) {
  TraceCategoryFilter filter;
  EXPECT_EQ(0, filter.record_mode());
  EXPECT_EQ(std::vector<std::string>({"*Debug", "*Test"}), filter.excluded_categories());
  ExpectGroups(filter, {
                           {"toplevel", true},
                           {"base", true},
                           {"disabled-by-default-toplevel.flow", false},
                           {"", false},
                           {",,", false},
                           {"SomethingDebug", false},
                           {"UnitTest", false},
                           {"UnitTest,SomethingDebug", false},
                           {"toplevel,UnitTest", true},    // one category is not excluded
                           {"UnitTest,toplevel", true},
                           {"disabled-by-default-x,toplevel", true},
                           {"Testing", true},              // "*Test" must match the whole name
                           {"Debugger", true},
                       });
}

TEST(TraceCategoryFilterTest, IncludedPatternsSwitchTheDefaultOff) {
  TraceCategoryFilter filter;
  filter.AddIncludedCategory("cc");
  ExpectGroups(filter, {
                           {"toplevel", false},
                           {"cc", true},
                           {"toplevel,cc", true},
                           {"disabled-by-default-cc", false},
                       });
  TraceCategoryFilter wildcard;
  wildcard.AddIncludedCategory("in*ll?r");
  ExpectGroups(wildcard, {
                             {"installer", true},
                             {"instaler", false},
                             {"inr", false},
                             {"base", false},
                         });
}

TEST(TraceCategoryFilterTest, DisabledByDefaultNeedsAnExplicitPattern) {
  TraceCategoryFilter filter;
  filter.AddDisabledByDefaultCategory("disabled-by-default-memory-infra");
  ExpectGroups(filter, {
                           {"disabled-by-default-memory-infra", true},
                           {"disabled-by-default-memory-infra.debug", false},
                           {"disabled-by-default-toplevel.flow", false},
                           {"toplevel", true},
                       });
  // An included pattern that matches everything still does not reach them.
  TraceCategoryFilter star;
  star.AddIncludedCategory("*");
  ExpectGroups(star, {{"disabled-by-default-toplevel.flow", false}, {"anything", true}, {"UnitTest", true}});
}

TEST(TraceCategoryFilterTest, IsCategoryEnabledSingleNames) {
  TraceCategoryFilter filter;
  filter.AddIncludedCategory("base");
  filter.AddDisabledByDefaultCategory("disabled-by-default-*flow");
  EXPECT_TRUE(filter.IsCategoryEnabled("base"));
  EXPECT_FALSE(filter.IsCategoryEnabled("toplevel"));
  EXPECT_TRUE(filter.IsCategoryEnabled("disabled-by-default-toplevel.flow"));
  EXPECT_FALSE(filter.IsCategoryEnabled("disabled-by-default-memory-infra"));
}

TEST(TraceCategoryFilterTest, ExcludedPatternsOfYourOwn) {
  TraceCategoryFilter filter;
  filter.AddExcludedCategory("ipc");
  ExpectGroups(filter, {{"ipc", false}, {"ipc,toplevel", true}, {"toplevel", true}});
}

TEST(TraceCategoryFilterTest, ClearRemovesTheDefaultExclusions) {
  TraceCategoryFilter filter;
  filter.AddIncludedCategory("cc");
  filter.AddMemoryDumpTrigger({250, 0});
  filter.Clear();
  EXPECT_TRUE(filter.excluded_categories().empty());
  EXPECT_TRUE(filter.included_categories().empty());
  EXPECT_TRUE(filter.memory_dump_triggers().empty());
  ExpectGroups(filter, {{"UnitTest", true}, {"SomethingDebug", true}, {"toplevel", true},
                        {"disabled-by-default-x", false}});
}

TEST(TraceCategoryFilterTest, CopiesAreIndependent) {
  TraceCategoryFilter original;
  original.AddIncludedCategory("cc");
  original.AddMemoryDumpTrigger({250, 1});
  TraceCategoryFilter copy(original);
  original.Clear();
  EXPECT_EQ(std::vector<std::string>({"cc"}), copy.included_categories());
  ASSERT_EQ(1u, copy.memory_dump_triggers().size());
  EXPECT_EQ(250u, copy.memory_dump_triggers()[0].periodic_interval_ms);
  EXPECT_EQ(1u, copy.memory_dump_triggers()[0].level_of_detail);
  TraceCategoryFilter assigned;
  assigned = copy;
  EXPECT_FALSE(assigned.IsCategoryGroupEnabled("toplevel"));
  EXPECT_TRUE(assigned.IsCategoryGroupEnabled("cc"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
