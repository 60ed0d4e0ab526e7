#include "base/location.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace base {
namespace {

// clang-format off
__attribute__((noinline)) Location LocationOfThisFunction() { return FROM_HERE; } constexpr int kFromHereLine = __LINE__;
// clang-format on

TEST(LocationTest, DefaultIsUnknownWithoutLineOrProgramCounter) {
  const Location unknown;
  EXPECT_STREQ("Unknown", unknown.function_name());
  EXPECT_STREQ("Unknown", unknown.file_name());
  EXPECT_EQ(-1, unknown.line_number());
  EXPECT_EQ(nullptr, unknown.program_counter());
}

TEST(LocationTest, FromHereNamesTheCallerAndPointsInsideIt) {
  const Location here = LocationOfThisFunction();
  EXPECT_STREQ("LocationOfThisFunction", here.function_name());
  const std::string file = here.file_name();
  ASSERT_GE(file.size(), std::strlen("location_unittest.cc"));
  EXPECT_EQ("location_unittest.cc", file.substr(file.size() - std::strlen("location_unittest.cc")));
  EXPECT_EQ(kFromHereLine, here.line_number());

  // The program counter is a return address within the few instructions of the function that made the location.
  const auto begin = reinterpret_cast<uintptr_t>(&LocationOfThisFunction);
  const auto pc = reinterpret_cast<uintptr_t>(here.program_counter());
  EXPECT_GT(pc, begin);
  EXPECT_LT(pc - begin, 256u);
}

TEST(LocationTest, CopiesKeepEveryField) {
  static const int marker = 0;
  const Location original("Function", "file.cc", 7, &marker);
  Location copy;
  copy = original;
  EXPECT_STREQ("Function", copy.function_name());
  EXPECT_STREQ("file.cc", copy.file_name());
  EXPECT_EQ(7, copy.line_number());
  EXPECT_EQ(&marker, copy.program_counter());
}

}  // namespace
}  // namespace base
