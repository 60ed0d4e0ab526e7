#include "desktop/windows/crash_reporter/reporter/crash_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

TEST(CrashFilesTest, CrashFilesAreNumberedPerReporterAcrossThreads) {
  SetBrandingTextForTesting(R"({"product_name": "ZorviCrashTest"})");
  constexpr int kThreads = 8, kCrashesEach = 25;
  std::vector<std::vector<uint32_t>> taken(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&taken, i] {
      for (int crash = 0; crash < kCrashesEach; ++crash)
        taken[i].push_back(TakeCrashSequenceNumber());
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  std::set<uint32_t> numbers;
  for (const auto& each : taken)
    numbers.insert(each.begin(), each.end());
  ASSERT_EQ(static_cast<size_t>(kThreads * kCrashesEach), numbers.size()) << "no number twice";
  EXPECT_EQ(1u, *numbers.begin()) << "the first crash of a reporter";
  EXPECT_EQ(static_cast<uint32_t>(kThreads * kCrashesEach), *numbers.rbegin()) << "no gaps";

  const std::string product = GetBrandingProductName();
  std::string lower = product;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  ASSERT_NE(lower, product) << "a name with capitals to lower";
  const std::string middle = "-crashlog-" + std::to_string(GetCurrentProcessId()) + "-";
  EXPECT_EQ(lower + middle + "1.txt", GetCrashLogFileName(1));
  EXPECT_EQ(lower + middle + "1.dmp", GetCrashDumpFileName(1));
  EXPECT_EQ(lower + middle + "4294967295.log", FormatCrashFileName(4294967295u, ".log"));
}

// An empty value unsets the variable.
void SetVariable(const std::wstring& value) {
  SetEnvironmentVariableW(L"ZORVI_CRASH_LOG_DIR", value.empty() ? nullptr : value.c_str());
}

// The crash folder comes from the environment only when usable; the user-data switch names the user data folder.
TEST(CrashFilesTest, TheCrashFoldersComeFromTheEnvironmentAndTheCommandLine) {
  const std::wstring root = FreshRecordFolder(test_support::UniqueName(L"folders"));
  ASSERT_TRUE(test_support::WriteFileBytes(root + L"\\a file", "not a folder"));
  base::FilePath temp;
  ASSERT_TRUE(base::GetTempDir(&temp));
  const std::wstring usable = root + L"\\crash logs", profile = root + L"\\profile";
  base::CommandLine::Init();
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative(kUserDataDirSwitch, profile);
  const struct {
    const char* name;
    std::wstring variable;
    base::FilePath folder;
  } kCases[] = {
      {"unset", L"", temp},
      {"260 characters", L"C:\\" + std::wstring(257, L'x'), temp},
      {"cannot be made", root + L"\\a file\\logs", temp},
      {"usable", usable, base::FilePath(usable)},
  };
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  // Twice: first nothing answers the file keys (as in the installer), then they are answered.
  const base::FilePath crash_ids(root + L"\\state\\crash_ids.txt");
  for (bool answered : {false, true}) {
    if (answered) {
      ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(kCrashCounterFileKey, base::FilePath(root + L"\\n"),
                                                               true, false));
      ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(kCrashIdFileKey, crash_ids, true, false));
      ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(kBrowserStateFileKey,
                                                               base::FilePath(root + L"\\s"), true, false));
    }
    for (const auto& c : kCases) {
      SCOPED_TRACE(testing::Message() << c.name << (answered ? ", keys answered" : ""));
      SetVariable(c.variable);
      ASSERT_TRUE(InitCrashFolders());
      const bool from_environment = c.folder.value() != temp.value();
      EXPECT_EQ(c.folder.value(), GetCrashFolder().value());
      EXPECT_EQ(from_environment, IsCrashLogFolderFromEnvironment());
      EXPECT_TRUE(base::DirectoryExists(GetCrashFolder()));
      EXPECT_EQ(answered ? root + L"\\n" : L"", GetCrashCounterFilePath().value());
      EXPECT_EQ(answered ? root + L"\\s" : L"", GetBrowserStateFilePath().value());
      std::wstring crash_id_file;
      if (answered)
        crash_id_file = from_environment ? usable + L"\\crash_ids-" + pid + L"-7.txt" : crash_ids.value();
      // Unanswered, the path stays empty: never "<folder>-<pid>-7", a file beside the crash folder.
      EXPECT_EQ(crash_id_file, GetCrashIdFilePath(7).value());
    }
  }
  SetVariable(L"");
  base::FilePath user_data;
  ASSERT_TRUE(base::PathService::Get(kUserDataDirKey, &user_data));
  EXPECT_EQ(profile, user_data.value());
  EXPECT_TRUE(base::DirectoryExists(user_data)) << "made when missing";
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
