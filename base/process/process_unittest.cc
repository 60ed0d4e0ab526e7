#include "base/process/process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/process/exit_status.h"
#include "base/process/launch.h"
#include "base/process/process_test_util.h"
#include "testing/test_support.h"

namespace base {
namespace {

TEST(ProcessTest, DefaultIsInvalid) {
  Process process;
  EXPECT_FALSE(process.IsValid());
  EXPECT_EQ(nullptr, process.Handle());
}

TEST(ProcessTest, CurrentStandsForTheCallerWithoutOwning) {
  Process current = Process::Current();
  EXPECT_TRUE(current.IsValid());
  EXPECT_EQ(GetCurrentProcess(), current.Handle());
  EXPECT_EQ(GetCurrentProcessId(), current.Pid());
  EXPECT_EQ(GetCurrentProcessId(), CurrentProcessId());
  Process moved = std::move(current);
  EXPECT_TRUE(moved.IsValid());
  EXPECT_FALSE(current.IsValid());
  moved.Close();
  EXPECT_FALSE(moved.IsValid());
}

TEST(ProcessTest, PseudoHandleOfTheCurrentProcessIsRefused) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(Process process(GetCurrentProcess()), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)),
              "");
}

// The id the child reports about itself is the one read from its handle.
TEST(ProcessTest, PidIsTheChildsOwnId) {
  test::TempFilePath pid_file(L"pid");
  test::NamedTestEvent done(L"done");
  Process child =
      LaunchProcess(test::ChildCommand() + L" write-pid \"" + pid_file.path() + L"\" " + done.name(), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(0u, test::WaitForExitCode(child));
  std::string reported;
  ASSERT_TRUE(test_support::ReadFileBytes(pid_file.path(), &reported));
  EXPECT_EQ(reported, std::to_string(child.Pid()));
  EXPECT_EQ(child.Pid(), GetProcessIdOfHandle(child.Handle()));
  EXPECT_NE(CurrentProcessId(), child.Pid());
}

TEST(ProcessTest, MoveAssignmentKeepsTheLastError) {
  Process first = LaunchProcess(test::ChildCommand() + L" exit 3", LaunchOptions());
  Process second = LaunchProcess(test::ChildCommand() + L" exit 4", LaunchOptions());
  ASSERT_TRUE(first.IsValid());
  ASSERT_TRUE(second.IsValid());
  const DWORD second_pid = second.Pid();
  SetLastError(0x1234);
  first = std::move(second);  // closes the first child's handle
  EXPECT_EQ(0x1234u, GetLastError());
  EXPECT_EQ(second_pid, first.Pid());
  EXPECT_FALSE(second.IsValid());
  EXPECT_EQ(4u, test::WaitForExitCode(first));
}

TEST(ProcessTest, TerminateWithWaitReturnsOnceTheProcessHasEnded) {
  test::NamedTestEvent ready(L"ready");
  Process child = LaunchProcess(test::ChildCommand() + L" block " + ready.name(), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  ASSERT_TRUE(ready.WaitWhileRunning(child));
  ASSERT_TRUE(child.Terminate(7, true));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Handle(), 0));
  int exit_code = 0;
  EXPECT_EQ(ProcessExitStatus::kCrashed, GetProcessExitStatus(child.Handle(), &exit_code));
  EXPECT_EQ(7, exit_code);
}

TEST(ProcessTest, TerminateFailsOnAnEndedProcessHandleWithoutRights) {
  Process child = LaunchProcess(test::ChildCommand() + L" exit 0", LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  HANDLE synchronize_only = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), child.Handle(), GetCurrentProcess(), &synchronize_only,
                              SYNCHRONIZE, FALSE, 0));
  Process limited(synchronize_only);
  EXPECT_FALSE(limited.Terminate(1, true));
  EXPECT_EQ(0u, test::WaitForExitCode(child));
}

}  // namespace
}  // namespace base
