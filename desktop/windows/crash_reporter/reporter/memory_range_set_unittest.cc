#include "desktop/windows/crash_reporter/reporter/memory_range_set.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace zorvi {
namespace installer {
namespace {

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

// Each row adds one range to the stored ranges [100, 200), [300, 400) and [500, 600) (300 bytes). The total
// grows by exactly the bytes no stored range covered, and the result stays sorted and disjoint.
TEST(MemoryRangeSetTest, ARangeJoinsEveryRangeItReaches) {
  const struct {
    const char* name;
    uint64_t start, end;
    Ranges expected;
  } kCases[] = {
      {"apart, first", 10, 50, {{10, 50}, {100, 200}, {300, 400}, {500, 600}}},
      {"apart, between", 250, 260, {{100, 200}, {250, 260}, {300, 400}, {500, 600}}},
      {"apart, last", 700, 800, {{100, 200}, {300, 400}, {500, 600}, {700, 800}}},
      {"inside", 120, 180, {{100, 200}, {300, 400}, {500, 600}}},
      {"the same", 300, 400, {{100, 200}, {300, 400}, {500, 600}}},
      {"empty", 150, 150, {{100, 200}, {300, 400}, {500, 600}}},
      {"from below into one: only its start moves", 50, 150, {{50, 200}, {300, 400}, {500, 600}}},
      {"touching from below", 60, 100, {{60, 200}, {300, 400}, {500, 600}}},
      {"from below past its end", 50, 250, {{50, 250}, {300, 400}, {500, 600}}},
      {"out of one", 150, 250, {{100, 250}, {300, 400}, {500, 600}}},
      {"touching the end", 200, 220, {{100, 220}, {300, 400}, {500, 600}}},
      {"two nodes", 150, 350, {{100, 400}, {500, 600}}},
      {"from below over two", 50, 450, {{50, 450}, {500, 600}}},
      {"three nodes", 150, 550, {{100, 600}}},
      {"over all three and beyond", 0, 1000, {{0, 1000}}},
      {"bridging two touching", 200, 300, {{100, 400}, {500, 600}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryRangeSet set;
    for (const auto& [start, end] : Ranges{{300, 400}, {100, 200}, {500, 600}})
      ASSERT_TRUE(set.AddRange(start, end));
    ASSERT_EQ(300u, set.total_bytes());
    EXPECT_TRUE(set.AddRange(c.start, c.end));
    const Ranges ranges(set.ranges().begin(), set.ranges().end());
    EXPECT_EQ(c.expected, ranges);
    uint64_t covered = 0;
    for (const auto& [start, end] : c.expected)
      covered += end - start;
    EXPECT_EQ(covered, set.total_bytes());
  }
  MemoryRangeSet set;
  set.AddRange(1, 2);
  set.Clear();
  EXPECT_TRUE(set.ranges().empty());
  EXPECT_EQ(0u, set.total_bytes());
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
