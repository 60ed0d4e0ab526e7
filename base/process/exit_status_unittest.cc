#include "base/process/exit_status.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/process/launch.h"
#include "base/process/process_test_util.h"

namespace base {
namespace {

// Starts the child with `arguments` and waits for it to end.
Process RunChild(const std::wstring& arguments) {
  LaunchOptions options;
  options.wait = true;
  return LaunchProcess(test::ChildCommand() + L" " + arguments, options);
}

struct ExitCase {
  DWORD code;
  ProcessExitStatus status;
};

TEST(ProcessExitStatusTest, ExitCodesOfEndedChildren) {
  const ExitCase cases[] = {
      {0, ProcessExitStatus::kNormal},
      {1, ProcessExitStatus::kKilled},
      {0x40010004, ProcessExitStatus::kKilled},
      {0xC000013A, ProcessExitStatus::kKilled},
      {0xC0000354, ProcessExitStatus::kKilled},
      {2, ProcessExitStatus::kCrashed},
      {5, ProcessExitStatus::kCrashed},
      {0xC000013B, ProcessExitStatus::kCrashed},
      {0xFFFFFFFF, ProcessExitStatus::kCrashed},
      {STILL_ACTIVE, ProcessExitStatus::kAbnormal},  // chose 259 and ended: signalled yet "active"
  };
  for (const ExitCase& c : cases) {
    Process child = RunChild(L"exit " + std::to_wstring(c.code));
    ASSERT_TRUE(child.IsValid());
    int exit_code = 12345;
    EXPECT_EQ(c.status, GetProcessExitStatus(child.Handle(), &exit_code)) << std::hex << c.code;
    EXPECT_EQ(c.code, static_cast<DWORD>(exit_code));
    EXPECT_EQ(c.status, GetProcessExitStatus(child.Handle(), nullptr));
  }
}

TEST(ProcessExitStatusTest, AccessViolationIsACrash) {
  Process child = RunChild(L"crash");
  ASSERT_TRUE(child.IsValid());
  int exit_code = 0;
  EXPECT_EQ(ProcessExitStatus::kCrashed, GetProcessExitStatus(child.Handle(), &exit_code));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), static_cast<DWORD>(exit_code));
}

TEST(ProcessExitStatusTest, RunningChildThenTerminated) {
  test::NamedTestEvent ready(L"ready");
  Process child = LaunchProcess(test::ChildCommand() + L" block " + ready.name(), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  ASSERT_TRUE(ready.WaitWhileRunning(child));
  int exit_code = 0;
  EXPECT_EQ(ProcessExitStatus::kRunning, GetProcessExitStatus(child.Handle(), &exit_code));
  EXPECT_EQ(static_cast<int>(WAIT_TIMEOUT), exit_code);

  ASSERT_TRUE(child.Terminate(0xC000013A, true));
  EXPECT_EQ(ProcessExitStatus::kKilled, GetProcessExitStatus(child.Handle(), &exit_code));
  EXPECT_EQ(0xC000013Au, static_cast<DWORD>(exit_code));
}

// A handle that may wait but not query: the exit code cannot be read, which must not pass for a clean exit.
TEST(ProcessExitStatusTest, UnreadableExitCodeIsAbnormal) {
  Process child = RunChild(L"exit 0");
  ASSERT_TRUE(child.IsValid());
  HANDLE synchronize_only = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), child.Handle(), GetCurrentProcess(), &synchronize_only,
                              SYNCHRONIZE, FALSE, 0));
  Process limited(synchronize_only);
  DWORD probe = 0;
  ASSERT_FALSE(GetExitCodeProcess(limited.Handle(), &probe)) << "the handle was expected to lack query rights";
  int exit_code = 0;
  EXPECT_EQ(ProcessExitStatus::kAbnormal, GetProcessExitStatus(limited.Handle(), &exit_code));
  EXPECT_EQ(-1, exit_code);
  // The full handle still reads the real code.
  EXPECT_EQ(ProcessExitStatus::kNormal, GetProcessExitStatus(child.Handle(), &exit_code));
  EXPECT_EQ(0, exit_code);
}

TEST(ProcessExitStatusTest, InvalidHandleIsAbnormal) {
  int exit_code = 0;
  EXPECT_EQ(ProcessExitStatus::kAbnormal, GetProcessExitStatus(nullptr, &exit_code));
  EXPECT_EQ(-1, exit_code);
}

}  // namespace
}  // namespace base
