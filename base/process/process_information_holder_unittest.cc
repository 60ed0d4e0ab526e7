#include "base/process/process_information_holder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/process/process_test_util.h"

namespace base {
namespace {

// Starts the child suspended, as a launch into a job does, and hands what CreateProcess returned to a holder.
bool StartSuspendedChild(const std::wstring& arguments, ProcessInformationHolder* holder) {
  std::wstring command_line = test::ChildCommand() + L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  holder->Set(info);
  return true;
}

TEST(ProcessInformationHolderTest, HoldsBothHandlesAndIds) {
  ProcessInformationHolder holder;
  EXPECT_FALSE(holder.IsValid());
  ASSERT_TRUE(StartSuspendedChild(L"exit 9", &holder));
  ASSERT_TRUE(holder.IsValid());
  EXPECT_EQ(GetProcessId(holder.process_handle()), holder.process_id());
  EXPECT_EQ(GetThreadId(holder.thread_handle()), holder.thread_id());
  EXPECT_EQ(holder.process_id(), GetProcessIdOfThread(holder.thread_handle()));
  ASSERT_EQ(1u, ResumeThread(holder.thread_handle()));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder.process_handle(), INFINITE));
  holder.Close();
  EXPECT_FALSE(holder.IsValid());
  EXPECT_EQ(nullptr, holder.thread_handle());
  EXPECT_EQ(0u, holder.process_id());
  EXPECT_EQ(0u, holder.thread_id());
}

TEST(ProcessInformationHolderTest, TakenProcessHandleOutlivesTheHolder) {
  HANDLE process = nullptr;
  {
    ProcessInformationHolder holder;
    ASSERT_TRUE(StartSuspendedChild(L"exit 7", &holder));
    ResumeThread(holder.thread_handle());
    process = holder.TakeProcessHandle();
    EXPECT_FALSE(holder.IsValid());
    EXPECT_EQ(nullptr, holder.process_handle());
    EXPECT_NE(nullptr, holder.thread_handle());  // the thread handle stays until the holder goes
  }
  Process owner(process);
  EXPECT_EQ(7u, test::WaitForExitCode(owner));
}

}  // namespace
}  // namespace base
