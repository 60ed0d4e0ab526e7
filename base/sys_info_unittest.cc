#include "base/sys_info.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace base {
namespace {

// The Linux host's count of online processors (getconf, written by testdata_setup.sh) is the oracle.
TEST(SysInfoTest, ProcessorCountMatchesTheHost) {
  std::string text;
  ASSERT_TRUE(test_support::ReadFileBytes(test_support::TestDataDir() + L"\\sys_info\\processors.txt", &text));
  EXPECT_EQ(SysInfo::NumberOfProcessors(), std::stoi(text));
}

// The system's mapping rules are the oracle: a view may start at a multiple of the granularity and nowhere
// in between.
TEST(SysInfoTest, AllocationGranularityIsWhereViewsMayStart) {
  const uint64_t granularity = SysInfo::VMAllocationGranularity();
  ASSERT_GE(granularity, 4096u);
  ASSERT_EQ(granularity & (granularity - 1), 0u) << "a power of two";
  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(granularity * 2), nullptr);
  ASSERT_NE(mapping, nullptr);
  test_support::ScopedTestHandle holder(mapping);

  void* at_granularity = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, static_cast<DWORD>(granularity), 4096);
  EXPECT_NE(at_granularity, nullptr) << ::GetLastError();
  if (at_granularity)
    ::UnmapViewOfFile(at_granularity);

  void* at_half = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, static_cast<DWORD>(granularity / 2), 4096);
  EXPECT_EQ(at_half, nullptr);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
  if (at_half)
    ::UnmapViewOfFile(at_half);
}

}  // namespace
}  // namespace base
