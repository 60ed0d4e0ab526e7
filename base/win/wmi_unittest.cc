#include "base/win/wmi.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

class WmiLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

// The started child writes its own process id; it must be the id the launch reported.
TEST_F(WmiLaunchTest, StartsTheProgramAndReportsItsId) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring pid_file = std::wstring(temp) + test_support::UniqueName(L"wmi") + L".pid";
  const std::wstring event_name = test_support::UniqueName(L"wmi_done");
  test_support::ScopedTestHandle done(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(done.valid());

  const std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\launch_test_child.exe\" write-pid \"" +
                               pid_file + L"\" " + event_name;
  int process_id = 0;
  ASSERT_TRUE(LaunchProcessViaWmi(command, &process_id));
  ASSERT_NE(0, process_id);
  // The child runs outside this process tree: it is opened by id, and when that fails it has ended already.
  test_support::ScopedTestHandle child(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process_id)));
  HANDLE waits[] = {done.get(), child.get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(child.valid() ? 2 : 1, waits, FALSE, child.valid() ? INFINITE : 0));
  std::string reported;
  ASSERT_TRUE(test_support::ReadFileBytes(pid_file, &reported));
  DeleteFileW(pid_file.c_str());
  EXPECT_EQ(std::to_string(process_id), reported);
}

TEST_F(WmiLaunchTest, MissingProgramFails) {
  const std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\no_such_program.exe\"";
  int process_id = 12345;
  EXPECT_FALSE(LaunchProcessViaWmi(command, &process_id));
  EXPECT_EQ(12345, process_id);
}

TEST_F(WmiLaunchTest, IdIsOptional) {
  const std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\launch_test_child.exe\" exit 0";
  EXPECT_TRUE(LaunchProcessViaWmi(command, nullptr));
}

}  // namespace
}  // namespace win
}  // namespace base
