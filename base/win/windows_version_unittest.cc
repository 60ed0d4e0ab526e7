#include "base/win/windows_version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_support.h"
#include "testing/version_child.h"

namespace base {
namespace win {
namespace {

TEST(WindowsVersionTest, NumbersMapToTheOrderedVersion) {
  struct Case {
    uint32_t major, minor, build;
    WindowsVersion expected;
  } cases[] = {
      {4, 0, 1381, VERSION_PRE_XP},     {5, 0, 2195, VERSION_PRE_XP},        {5, 1, 2600, VERSION_XP},
      {5, 2, 3790, VERSION_SERVER_2003}, {5, 3, 0, VERSION_SERVER_2003},       {6, 0, 6002, VERSION_VISTA},
      {6, 1, 7601, VERSION_WIN7},       {6, 2, 9200, VERSION_WIN8},          {6, 3, 9600, VERSION_WIN8_1},
      {6, 4, 9841, VERSION_WIN8_1},     {10, 0, 10240, VERSION_WIN10},       {10, 0, 10585, VERSION_WIN10},
      {10, 0, 10586, VERSION_WIN10_TH2}, {10, 0, 19045, VERSION_WIN10_TH2},  {10, 1, 0, VERSION_WIN10},
      {7, 0, 0, VERSION_WIN_LAST},      {8, 1, 0, VERSION_WIN_LAST},         {9, 0, 0, VERSION_WIN_LAST},
      {11, 0, 0, VERSION_WIN_LAST},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, MajorMinorBuildToVersion(c.major, c.minor, c.build)) << c.major << "." << c.minor << "." << c.build;
  EXPECT_LT(VERSION_WIN7, VERSION_WIN8);
  EXPECT_LT(VERSION_WIN10, VERSION_WIN10_TH2);
}

// The registry's record of the installed system, read through another path than the version query.
std::wstring ReadCurrentVersionValue(const wchar_t* name) {
  wchar_t value[256] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", name, RRF_RT_REG_SZ,
                   nullptr, value, &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return value;
}

TEST(OSInfoTest, DescribesThisSystem) {
  const OSInfo* info = OSInfo::GetInstance();
  EXPECT_EQ(info, OSInfo::GetInstance());
  EXPECT_EQ(info->version(), GetVersion());
  EXPECT_EQ(MajorMinorBuildToVersion(info->version_number().major, info->version_number().minor,
                                     info->version_number().build),
            info->version());
  // This test program has no compatibility manifest; up to Windows 8 the registry names the same version.
  if (info->version() <= VERSION_WIN8) {
    const std::wstring current = ReadCurrentVersionValue(L"CurrentVersion");
    EXPECT_EQ(std::to_wstring(info->version_number().major) + L"." + std::to_wstring(info->version_number().minor),
              current);
    EXPECT_EQ(std::to_wstring(info->version_number().build), ReadCurrentVersionValue(L"CurrentBuildNumber"));
  }
  EXPECT_EQ(OSInfo::X64_ARCHITECTURE, info->architecture());
  // A 64-bit process maps memory in 64 KiB units.
  EXPECT_EQ(65536u, info->allocation_granularity());
  std::string processors;
  ASSERT_TRUE(test_support::ReadFileBytes(test_support::TestDataDir() + L"\\processors", &processors));
  EXPECT_EQ(std::stoi(processors), info->processors());
}

TEST(OSInfoTest, ConcurrentFirstCallersShareOneRecord) {
  // Only the first use in this process races, so this test keeps its own process (ctest runs each alone).
  std::vector<const OSInfo*> seen(16, nullptr);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load())
        YieldProcessor();
      seen[i] = OSInfo::GetInstance();
    });
  }
  go = true;
  for (std::thread& thread : threads)
    thread.join();
  for (const OSInfo* info : seen)
    EXPECT_EQ(seen[0], info);
}

// Runs the child as it would run under a wine Windows version (testing/version_child.h) and keeps the numbers
// it printed.
class VersionChild {
 public:
  VersionChild(const wchar_t* wine_version, bool manifested) {
    std::string output;
    if (!test_support::RunChildUnderWindowsVersion(L"windows_version_test_child.exe", wine_version, manifested,
                                                   std::wstring(), &output, &error_)) {
      return;
    }
    for (const auto& [name, value] : test_support::ParseNameValueLines(output))
      values_[name] = std::stoll(value);
  }

  const std::string& error() const { return error_; }
  long long operator[](const std::string& name) const {
    auto found = values_.find(name);
    return found == values_.end() ? -1 : found->second;
  }

 private:
  std::string error_;
  std::map<std::string, long long> values_;
};

// The child's numbers are the system's real ones (RtlGetVersion), or the 6.2 that Windows 8.1 and later
// report to programs that do not declare support for them.
void ExpectVersion(const VersionChild& child, WindowsVersion expected, bool numbers_are_real) {
  ASSERT_EQ("", child.error());
  EXPECT_EQ(expected, child["version"]);
  if (numbers_are_real) {
    EXPECT_EQ(child["real_major"], child["major"]);
    EXPECT_EQ(child["real_minor"], child["minor"]);
    EXPECT_EQ(child["real_build"], child["build"]);
    EXPECT_EQ(child["real_sp_major"], child["sp_major"]);
    EXPECT_EQ(child["real_sp_minor"], child["sp_minor"]);
  } else {
    EXPECT_EQ(6, child["major"]);
    EXPECT_EQ(2, child["minor"]);
  }
  EXPECT_EQ(OSInfo::X64_ARCHITECTURE, child["architecture"]);
}

class WindowsVersionTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsRunningUnderWine())
      GTEST_SKIP() << "switching the Windows version per program needs wine";
  }
};

TEST_F(WindowsVersionTableTest, Windows7) {
  VersionChild child(L"win7", false);
  ExpectVersion(child, VERSION_WIN7, true);
  EXPECT_EQ(7601, child["build"]);
  EXPECT_EQ(1, child["sp_major"]);
}

TEST_F(WindowsVersionTableTest, Windows8) {
  VersionChild child(L"win8", false);
  ExpectVersion(child, VERSION_WIN8, true);
}

TEST_F(WindowsVersionTableTest, Windows81) {
  VersionChild plain(L"win81", false);
  ExpectVersion(plain, VERSION_WIN8, false);
  EXPECT_EQ(3, plain["real_minor"]);
  VersionChild manifested(L"win81", true);
  ExpectVersion(manifested, VERSION_WIN8_1, true);
}

TEST_F(WindowsVersionTableTest, Windows10) {
  VersionChild plain(L"win10", false);
  ExpectVersion(plain, VERSION_WIN8, false);
  EXPECT_EQ(10, plain["real_major"]);
  VersionChild manifested(L"win10", true);
  ExpectVersion(manifested, manifested["build"] < 10586 ? VERSION_WIN10 : VERSION_WIN10_TH2, true);
  EXPECT_EQ(10, manifested["major"]);
}

}  // namespace
}  // namespace win
}  // namespace base
