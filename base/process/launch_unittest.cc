#include "base/process/launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/process/exit_status.h"
#include "base/process/process_test_util.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace base {
namespace {

using test::ChildCommand;
using test::NamedTestEvent;
using test::TempFilePath;
using test::WaitForExitCode;

std::wstring HandleArgument(HANDLE handle) {
  return std::to_wstring(reinterpret_cast<uintptr_t>(handle));
}

// An unnamed manual-reset event, inheritable or not.
class TestEvent {
 public:
  explicit TestEvent(bool inheritable) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, inheritable};
    handle_.reset(CreateEventW(&attributes, TRUE, FALSE, nullptr));
  }
  HANDLE get() const { return handle_.get(); }
  bool IsSet() const { return WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0; }

 private:
  test_support::ScopedTestHandle handle_;
};

// Runs "signal" with the events' handle values and returns how many of them the child could set.
DWORD RunSignalChild(const LaunchOptions& options, const std::vector<const TestEvent*>& events) {
  std::wstring command = ChildCommand() + L" signal";
  for (const TestEvent* event : events)
    command += L" " + HandleArgument(event->get());
  LaunchOptions waiting = options;
  waiting.wait = true;
  Process child = LaunchProcess(command, waiting);
  if (!child.IsValid())
    return static_cast<DWORD>(-1);
  return WaitForExitCode(child);
}

TEST(LaunchProcessTest, HandleListInheritsExactlyTheListedHandles) {
  TestEvent listed(true), listed_not_inheritable(false), unlisted(true);
  std::vector<HANDLE> handles = {listed.get(), listed_not_inheritable.get()};
  LaunchOptions options;
  options.handles_to_inherit = &handles;
  EXPECT_EQ(2u, RunSignalChild(options, {&listed, &listed_not_inheritable, &unlisted}));
  EXPECT_TRUE(listed.IsSet());
  EXPECT_TRUE(listed_not_inheritable.IsSet());  // listed handles are made inheritable
  EXPECT_FALSE(unlisted.IsSet());

  // Only for that child: the next one that inherits every inheritable handle does not get it.
  ASSERT_TRUE(ResetEvent(listed_not_inheritable.get()));
  LaunchOptions inherit_all;
  inherit_all.inherit_handles = true;
  EXPECT_EQ(2u, RunSignalChild(inherit_all, {&listed, &listed_not_inheritable, &unlisted}));
  EXPECT_FALSE(listed_not_inheritable.IsSet());
  EXPECT_TRUE(unlisted.IsSet());
}

TEST(LaunchProcessTest, EmptyHandleListInheritsNothingEvenWithInheritHandles) {
  TestEvent inheritable(true);
  std::vector<HANDLE> none;
  LaunchOptions options;
  options.handles_to_inherit = &none;
  options.inherit_handles = true;
  EXPECT_EQ(0u, RunSignalChild(options, {&inheritable}));
  EXPECT_FALSE(inheritable.IsSet());
}

TEST(LaunchProcessTest, InheritHandlesPassesEveryInheritableHandle) {
  TestEvent inheritable(true), private_event(false);
  LaunchOptions options;
  options.inherit_handles = true;
  EXPECT_EQ(1u, RunSignalChild(options, {&inheritable, &private_event}));
  EXPECT_TRUE(inheritable.IsSet());
  EXPECT_FALSE(private_event.IsSet());
}

TEST(LaunchProcessTest, NoInheritanceByDefault) {
  TestEvent inheritable(true);
  EXPECT_EQ(0u, RunSignalChild(LaunchOptions(), {&inheritable}));
  EXPECT_FALSE(inheritable.IsSet());
}

TEST(LaunchProcessTest, StandardOutputHandleThroughTheHandleList) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &attributes, 0));
  test_support::ScopedTestHandle reader(read_end), writer(write_end);

  const std::wstring source = test_support::TestDataDir() + L"\\random_3000.bin";
  std::vector<HANDLE> handles = {writer.get()};
  LaunchOptions options;
  options.handles_to_inherit = &handles;
  options.stdout_handle = writer.get();
  Process child = LaunchProcess(ChildCommand() + L" cat \"" + source + L"\" 0", options);
  ASSERT_TRUE(child.IsValid());
  writer.reset();
  std::string output;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    output.append(buffer, read);
  EXPECT_EQ(0u, WaitForExitCode(child));
  std::string expected;
  ASSERT_TRUE(test_support::ReadFileBytes(source, &expected));
  EXPECT_EQ(expected, output);
}

// What the child saw of its start-up, from its "startup" report.
std::map<std::string, std::string> RunStartupChild(const LaunchOptions& options) {
  TempFilePath report(L"startup");
  LaunchOptions waiting = options;
  waiting.wait = true;
  Process child = LaunchProcess(ChildCommand() + L" startup \"" + report.path() + L"\"", waiting);
  if (!child.IsValid() || WaitForExitCode(child) != 0)
    return {};
  std::string text;
  test_support::ReadFileBytes(report.path(), &text);
  return test_support::ParseNameValueLines(text);
}

TEST(LaunchProcessTest, ShowWindowFlag) {
  std::map<std::string, std::string> shown = RunStartupChild(LaunchOptions());
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(std::to_string(STARTF_USESHOWWINDOW), shown["flags"]);
  EXPECT_EQ(std::to_string(SW_SHOW), shown["show"]);

  LaunchOptions hidden_options;
  hidden_options.start_hidden = true;
  std::map<std::string, std::string> hidden = RunStartupChild(hidden_options);
  EXPECT_EQ(std::to_string(STARTF_USESHOWWINDOW), hidden["flags"]);
  EXPECT_EQ(std::to_string(SW_HIDE), hidden["show"]);
}

TEST(LaunchProcessTest, StandardHandlesAddTheirFlag) {
  TempFilePath sink(L"sink");
  test_support::ScopedTestHandle file(
      CreateFileW(sink.path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid());
  std::vector<HANDLE> handles = {file.get()};
  LaunchOptions options;
  options.handles_to_inherit = &handles;
  options.stdout_handle = file.get();
  std::map<std::string, std::string> values = RunStartupChild(options);
  EXPECT_EQ(std::to_string(STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES), values["flags"]);
  EXPECT_EQ(std::to_string(reinterpret_cast<uintptr_t>(file.get())), values["stdout"]);
}

TEST(LaunchProcessTest, EmptyDesktopName) {
  LaunchOptions options;
  options.empty_desktop_name = true;
  std::map<std::string, std::string> values = RunStartupChild(options);
  ASSERT_FALSE(values.empty());
  EXPECT_EQ("", values["desktop"]);
  // Without the option the child is on the caller's desktop.
  STARTUPINFOW own = {};
  own.cb = sizeof(own);
  GetStartupInfoW(&own);
  std::string own_desktop;
  for (const wchar_t* c = own.lpDesktop; c && *c; ++c)
    own_desktop += *c < 128 ? static_cast<char>(*c) : '?';
  EXPECT_EQ(own_desktop, RunStartupChild(LaunchOptions())["desktop"]);
}

// Paths compare without regard to case; the child reports ASCII text.
bool SamePath(const std::string& reported, const std::wstring& expected) {
  const std::wstring wide(reported.begin(), reported.end());
  return CompareStringOrdinal(wide.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST(LaunchProcessTest, CurrentDirectory) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring folder = std::wstring(temp) + test_support::UniqueName(L"cwd");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  LaunchOptions options;
  options.current_directory = FilePath(folder);
  std::map<std::string, std::string> values = RunStartupChild(options);
  RemoveDirectoryW(folder.c_str());
  EXPECT_TRUE(SamePath(values["directory"], folder)) << values["directory"];

  wchar_t own[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, own));
  std::map<std::string, std::string> inherited = RunStartupChild(LaunchOptions());
  EXPECT_TRUE(SamePath(inherited["directory"], own)) << inherited["directory"];
}

// A child started for a user token gets the environment made for that user, not the caller's.
TEST(LaunchProcessTest, UserTokenGetsTheUsersEnvironment) {
  HANDLE token_handle = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY,
                               &token_handle));
  test_support::ScopedTestHandle token(token_handle);
  ASSERT_TRUE(SetEnvironmentVariableW(L"ZORVI_LAUNCH_TEST", L"from the parent"));
  std::map<std::string, std::string> plain = RunStartupChild(LaunchOptions());
  EXPECT_EQ("from the parent", plain["variable"]);

  LaunchOptions options;
  options.as_user = token.get();
  std::map<std::string, std::string> as_user = RunStartupChild(options);
  SetEnvironmentVariableW(L"ZORVI_LAUNCH_TEST", nullptr);
  ASSERT_FALSE(as_user.empty());
  EXPECT_EQ("(none)", as_user["variable"]);
}

TEST(LaunchProcessTest, InvalidUserTokenFails) {
  TestEvent not_a_token(false);
  LaunchOptions options;
  options.as_user = not_a_token.get();
  EXPECT_FALSE(LaunchProcess(ChildCommand() + L" exit 0", options).IsValid());
}

TEST(LaunchProcessTest, WaitReturnsAfterTheChildEnded) {
  LaunchOptions options;
  options.wait = true;
  Process child = LaunchProcess(ChildCommand() + L" exit 7", options);
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Handle(), 0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(child.Handle(), &code));
  EXPECT_EQ(7u, code);
}

TEST(LaunchProcessTest, MissingProgramFails) {
  const std::wstring missing = L"\"" + test_support::ExecutableDir() + L"\\no_such_program.exe\"";
  EXPECT_FALSE(LaunchProcess(missing, LaunchOptions()).IsValid());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(LaunchProcessTest, CommandLineObject) {
  CommandLine command_line(FilePath(test_support::ExecutableDir() + L"\\launch_test_child.exe"));
  command_line.AppendArg("exit");
  command_line.AppendArg("42");
  LaunchOptions options;
  options.wait = true;
  Process child = LaunchProcess(command_line, options);
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(42u, WaitForExitCode(child));
}

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job_.reset(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job_.valid());
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)));
  }

  // The ids of the processes in the job.
  std::vector<DWORD> JobProcessIds() {
    struct {
      JOBOBJECT_BASIC_PROCESS_ID_LIST list;
      ULONG_PTR more[15];
    } ids = {};
    ids.list.NumberOfAssignedProcesses = 16;
    std::vector<DWORD> result;
    if (!QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, &ids, sizeof(ids), nullptr))
      return result;
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i)
      result.push_back(static_cast<DWORD>(ids.list.ProcessIdList[i]));
    return result;
  }

  test_support::ScopedTestHandle job_;
};

TEST_F(JobTest, ClosingTheJobKillsTheChildAndItsChildren) {
  TempFilePath grandchild_pid(L"grandchild");
  NamedTestEvent grandchild_ready(L"grandchild");
  LaunchOptions options;
  options.job_handle = job_.get();
  Process child = LaunchProcess(
      ChildCommand() + L" spawn-block \"" + grandchild_pid.path() + L"\" " + grandchild_ready.name(), options);
  ASSERT_TRUE(child.IsValid());
  // Started suspended, assigned, then resumed: it runs and starts its own child, which the job takes in too.
  ASSERT_TRUE(grandchild_ready.WaitWhileRunning(child));
  BOOL in_job = FALSE;
  ASSERT_TRUE(IsProcessInJob(child.Handle(), job_.get(), &in_job));
  EXPECT_TRUE(in_job);

  std::string pid_text;
  ASSERT_TRUE(test_support::ReadFileBytes(grandchild_pid.path(), &pid_text));
  Process grandchild(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, std::stoul(pid_text)));
  ASSERT_TRUE(grandchild.IsValid());
  in_job = FALSE;
  ASSERT_TRUE(IsProcessInJob(grandchild.Handle(), job_.get(), &in_job));
  EXPECT_TRUE(in_job);
  std::vector<DWORD> ids = JobProcessIds();
  EXPECT_NE(ids.end(), std::find(ids.begin(), ids.end(), child.Pid()));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(grandchild.Handle(), 0));

  job_.reset();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Handle(), INFINITE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(grandchild.Handle(), INFINITE));
}

TEST_F(JobTest, ChildOutsideAJobIsNotInIt) {
  LaunchOptions options;
  options.wait = true;
  Process child = LaunchProcess(ChildCommand() + L" exit 0", options);
  ASSERT_TRUE(child.IsValid());
  BOOL in_job = TRUE;
  ASSERT_TRUE(IsProcessInJob(child.Handle(), job_.get(), &in_job));
  EXPECT_FALSE(in_job);
}

// When the child cannot be put into the job it is ended before it ran a single instruction of its own.
TEST(LaunchProcessJobTest, AssignmentFailureEndsTheChild) {
  TestEvent not_a_job(false), witness(true);
  std::vector<HANDLE> handles = {witness.get()};
  LaunchOptions options;
  options.job_handle = not_a_job.get();
  options.handles_to_inherit = &handles;
  Process child = LaunchProcess(ChildCommand() + L" signal " + HandleArgument(witness.get()), options);
  EXPECT_FALSE(child.IsValid());
  EXPECT_FALSE(witness.IsSet());
}

// A child inside a job asks to start its own child outside it: allowed only when the job permits breakaway.
DWORD RunBreakawayChild(DWORD job_limits) {
  test_support::ScopedTestHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = job_limits;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)))
    return static_cast<DWORD>(-1);
  LaunchOptions options;
  options.job_handle = job.get();
  options.wait = true;
  Process child = LaunchProcess(ChildCommand() + L" breakaway", options);
  return child.IsValid() ? WaitForExitCode(child) : static_cast<DWORD>(-1);
}

TEST(LaunchProcessJobTest, ForcedBreakawayLeavesTheJob) {
  EXPECT_EQ(0u, RunBreakawayChild(JOB_OBJECT_LIMIT_BREAKAWAY_OK));
  EXPECT_EQ(2u, RunBreakawayChild(0));
}

// Starts copies of the child under wine's per-program Windows version, each already inside a job that allows no
// breakaway; each tries to start a process into a job of its own. Before Windows 8 that start asks to leave the
// outer job, which is refused; from Windows 8 on the job is nested.
class JobBreakawayByVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsRunningUnderWine())
      GTEST_SKIP() << "switching the Windows version per program needs wine";
  }

  DWORD RunNestedJobChild(const wchar_t* wine_version) {
    test_support::VersionedChildCopy copy(L"launch_test_child.exe", wine_version, false);
    if (!copy.error().empty())
      return static_cast<DWORD>(-1);
    test_support::ScopedTestHandle outer_job(CreateJobObjectW(nullptr, nullptr));
    LaunchOptions options;
    options.job_handle = outer_job.get();
    options.wait = true;
    Process child = LaunchProcess(copy.Command() + L" nested-job", options);
    return child.IsValid() ? WaitForExitCode(child) : static_cast<DWORD>(-1);
  }
};

TEST_F(JobBreakawayByVersionTest, Windows7AsksToLeaveTheOuterJob) {
  EXPECT_EQ(2u, RunNestedJobChild(L"win7"));
}

TEST_F(JobBreakawayByVersionTest, Windows8NestsTheJob) {
  EXPECT_EQ(0u, RunNestedJobChild(L"win8"));
}

class GetAppOutputTest : public ::testing::TestWithParam<int> {};

CommandLine CatCommand(const std::wstring& file, int exit_code) {
  CommandLine command_line;
  command_line.ParseCommandLineString(ChildCommand() + L" cat \"" + file + L"\" " +
                                      std::to_wstring(static_cast<unsigned>(exit_code)));
  return command_line;
}

TEST_P(GetAppOutputTest, CollectsTheWholeOutput) {
  const std::wstring file = test_support::TestDataDir() + L"\\random_" + std::to_wstring(GetParam()) + L".bin";
  std::string expected;
  ASSERT_TRUE(test_support::ReadFileBytes(file, &expected));
  ASSERT_EQ(static_cast<size_t>(GetParam()), expected.size());
  std::string output;
  EXPECT_TRUE(GetAppOutput(CatCommand(file, 0), &output));
  EXPECT_EQ(expected, output);
}

INSTANTIATE_TEST_SUITE_P(Sizes, GetAppOutputTest, ::testing::Values(0, 1, 1023, 1024, 1025, 3000, 1048577));

TEST(GetAppOutputFailureTest, NonZeroExitFailsButKeepsTheOutput) {
  const std::wstring file = test_support::TestDataDir() + L"\\random_3000.bin";
  std::string expected;
  ASSERT_TRUE(test_support::ReadFileBytes(file, &expected));
  for (int code : {5, 1, static_cast<int>(0xC000013A)}) {
    std::string output;
    EXPECT_FALSE(GetAppOutput(CatCommand(file, code), &output)) << code;
    EXPECT_EQ(expected, output);
  }
}

TEST(GetAppOutputFailureTest, OutputIsAppended) {
  const std::wstring file = test_support::TestDataDir() + L"\\random_1.bin";
  std::string expected;
  ASSERT_TRUE(test_support::ReadFileBytes(file, &expected));
  std::string output = "kept";
  EXPECT_TRUE(GetAppOutput(CatCommand(file, 0), &output));
  EXPECT_EQ("kept" + expected, output);
}

TEST(GetAppOutputFailureTest, CrashFails) {
  CommandLine command_line;
  command_line.ParseCommandLineString(ChildCommand() + L" crash");
  std::string output;
  EXPECT_FALSE(GetAppOutput(command_line, &output));
  EXPECT_EQ("", output);
}

TEST(GetAppOutputFailureTest, MissingProgramFails) {
  CommandLine command_line(FilePath(test_support::ExecutableDir() + L"\\no_such_program.exe"));
  std::string output;
  EXPECT_FALSE(GetAppOutput(command_line, &output));
}

// Every pipe, process and thread handle a launch makes is given back, on success and on failure alike.
TEST(LaunchHandleTest, LaunchesAndOutputCapturesGiveBackEveryHandle) {
  const std::wstring file = test_support::TestDataDir() + L"\\random_3000.bin";
  CommandLine missing(FilePath(test_support::ExecutableDir() + L"\\no_such_program.exe"));
  CommandLine crash;
  crash.ParseCommandLineString(ChildCommand() + L" crash");
  LaunchOptions waiting;
  waiting.wait = true;
  auto launch_all = [&] {
    std::string output;
    EXPECT_TRUE(GetAppOutput(CatCommand(file, 0), &output));
    EXPECT_FALSE(GetAppOutput(CatCommand(file, 5), &output));
    EXPECT_FALSE(GetAppOutput(crash, &output));
    EXPECT_FALSE(GetAppOutput(missing, &output));
    EXPECT_TRUE(LaunchProcess(CatCommand(file, 0), waiting).IsValid());
    EXPECT_FALSE(LaunchProcess(missing, waiting).IsValid());
  };
  launch_all();  // first use creates the process-wide launch lock
  const int before = test_support::CountOpenHandles();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 5; ++i)
    launch_all();
  EXPECT_EQ(before, test_support::CountOpenHandles());
}

TEST(ProcessLaunchLockTest, ConcurrentFirstCallersShareOneLock) {
  std::vector<Lock*> seen(8, nullptr);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] {
      while (!go.load())
        YieldProcessor();
      seen[i] = &GetProcessLaunchLock();
    });
  }
  go = true;
  for (std::thread& thread : threads)
    thread.join();
  for (Lock* lock : seen)
    EXPECT_EQ(seen[0], lock);
  AutoLock hold(*seen[0]);
}

}  // namespace
}  // namespace base
