#include "base/logging.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/scoped_temp_folder_test_util.h"
#include "base/strings/string_piece.h"
#include "testing/test_support.h"

namespace logging {
namespace {

using base::ScopedTempFolder;

struct CapturedMessage {
  int severity = 0;
  int line = 0;
  size_t message_start = 0;
  std::string text;
  int count = 0;
};
CapturedMessage* g_captured = nullptr;

bool CaptureHandler(int severity, const char*, int line, size_t message_start, const std::string& text) {
  g_captured->severity = severity;
  g_captured->line = line;
  g_captured->message_start = message_start;
  g_captured->text = text;
  ++g_captured->count;
  return true;
}

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_captured = &captured_;
    SetLogMessageHandler(&CaptureHandler);
    SetMinLogLevel(LOG_INFO);
  }
  void TearDown() override {
    SetLogMessageHandler(nullptr);
    SetMinLogLevel(LOG_INFO);
    SetLogItems(false, false, true, false);
    g_captured = nullptr;
  }
  CapturedMessage captured_;
};

TEST_F(LoggingTest, PrefixCarriesTimestampSeverityFileAndLine) {
  const int line = __LINE__ + 1;
  LOG(WARNING) << "body " << 42;
  ASSERT_EQ(1, captured_.count);
  EXPECT_EQ(LOG_WARNING, captured_.severity);
  EXPECT_EQ(line, captured_.line);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(captured_.text, match,
                               std::regex(R"(\[(\d{4})/(\d{6}):WARNING:logging_unittest\.cc\((\d+)\)\] body 42\n)")));
  EXPECT_EQ(std::to_string(line), match[3].str());
  EXPECT_EQ("body 42\n", captured_.text.substr(captured_.message_start));
}

TEST_F(LoggingTest, PrefixItemsAreSwitchable) {
  SetLogItems(true, true, false, true);
  LOG(ERROR) << "x";
  std::string expected_start =
      "[" + std::to_string(GetCurrentProcessId()) + ":" + std::to_string(GetCurrentThreadId()) + ":";
  EXPECT_EQ(expected_start, captured_.text.substr(0, expected_start.size()));
  EXPECT_TRUE(std::regex_search(captured_.text, std::regex(R"(:\d+:ERROR:logging_unittest\.cc\(\d+\)\] x\n$)")));
}

TEST_F(LoggingTest, VerboseAndUnknownSeverityNames) {
  { LogMessage(__FILE__, 7, -2).stream() << "v"; }
  EXPECT_NE(std::string::npos, captured_.text.find(":VERBOSE2:logging_unittest.cc(7)] v"));
  { LogMessage(__FILE__, 8, 9).stream() << "u"; }
  EXPECT_NE(std::string::npos, captured_.text.find(":UNKNOWN:logging_unittest.cc(8)] u"));
}

TEST_F(LoggingTest, MinimumLevelIsClampedAndFilters) {
  SetMinLogLevel(7);
  EXPECT_EQ(LOG_FATAL, GetMinLogLevel());
  EXPECT_FALSE(ShouldCreateLogMessage(LOG_ERROR));
  LOG(ERROR) << "dropped";
  EXPECT_EQ(0, captured_.count);
}

TEST_F(LoggingTest, WideTextStreamsAsUtf8) {
  const wchar_t* null_text = nullptr;
  LOG(INFO) << L"Gr\u00fc\u00dfe " << std::wstring(L"\u65e5\u672c") << null_text << "|";
  EXPECT_NE(std::string::npos, captured_.text.find("Gr\xc3\xbc\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac|"));
}

TEST_F(LoggingTest, LastErrorSurvivesLogging) {
  SetLastError(1234);
  LOG(INFO) << "message";
  PLOG(ERROR) << "with error";
  EXPECT_EQ(1234u, GetLastError());
  EXPECT_NE(std::string::npos, captured_.text.find("with error: "));
}

// A handler that consumes every message, and a top-level exception filter standing in for the crash handler:
// both print what they saw on one line, in the order they saw it.
bool PrintingConsumingHandler(int, const char*, int, size_t message_start, const std::string& text) {
  std::string body = text.substr(message_start);
  while (!body.empty() && body.back() == '\n')
    body.pop_back();
  fprintf(stderr, "log handler saw: %s; ", body.c_str());
  fflush(stderr);
  return true;
}

LONG WINAPI PrintingCrashFilter(EXCEPTION_POINTERS* info) {
  fprintf(stderr, "crash handler saw %08lX\n", info->ExceptionRecord->ExceptionCode);
  fflush(stderr);
  return EXCEPTION_CONTINUE_SEARCH;
}

// A handler that consumes a FATAL message still sees it, and the process then ends at the trap, which the crash
// handler gets; the code after a failed check never runs.
TEST(LoggingDeathTest, FatalEndsTheProcessAfterAConsumingHandlerSawIt) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const struct {
    const char* name;
    void (*fail)();
    const char* seen;  // what the handler prints, as a regular expression
  } kRows[] = {
      {"LOG(FATAL)", [] { LOG(FATAL) << "consumed"; }, "log handler saw: consumed; "},
      {"CHECK", [] { CHECK(1 + 1 == 3) << "consumed"; }, "log handler saw: Check failed: 1 \\+ 1 == 3\\. consumed; "},
      {"PCHECK", [] { PCHECK(1 + 1 == 3) << "consumed"; },
       "log handler saw: Check failed: 1 \\+ 1 == 3\\. consumed: .*; "},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    EXPECT_EXIT(
        {
          SetUnhandledExceptionFilter(&PrintingCrashFilter);
          SetLogMessageHandler(&PrintingConsumingHandler);
          row.fail();
          SetLogMessageHandler(nullptr);
          fprintf(stderr, "carried on past the failure\n");
          exit(0);
        },
        ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)),
        std::string(row.seen) + "crash handler saw 80000003");
  }
}

TEST(LoggingDeathTest, FatalEndsTheProcessThroughTheBreakpoint) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT({ LOG(FATAL) << "fatal"; }, ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)),
              "FATAL:logging_unittest.cc");
  EXPECT_EXIT(CHECK(false) << "checked", ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)),
              "Check failed: false. checked");
}

TEST(LoggingTest2, NoDestinationStillReportsErrors) {
  LoggingSettings settings;
  settings.logging_dest = LOG_NONE;
  ASSERT_TRUE(InitLogging(settings));
  EXPECT_FALSE(ShouldCreateLogMessage(LOG_INFO));
  EXPECT_TRUE(ShouldCreateLogMessage(LOG_ERROR));
  settings.logging_dest = LOG_TO_FILE;
  InitLogging(settings);
}

TEST(SystemErrorTest, MessageEndsWithCode) {
  SetLastError(77);
  std::string text = SystemErrorCodeToString(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(77u, GetLastError());
  EXPECT_GT(text.size(), 6u);
  EXPECT_EQ(" (0x2)", text.substr(text.size() - 6));
}

// Every message the system has comes out on one line: no line breaks, no blank at either end, no double blank.
TEST(SystemErrorTest, MessagesAreCollapsedToOneLine) {
  int known = 0;
  for (DWORD code = 0; code < 2000; ++code) {
    const std::string text = SystemErrorCodeToString(code);
    if (text.rfind("Error (0x", 0) == 0)
      continue;
    ++known;
    char suffix[32];
    snprintf(suffix, sizeof(suffix), " (0x%lX)", code);
    ASSERT_GT(text.size(), strlen(suffix)) << code;
    const std::string body = text.substr(0, text.size() - strlen(suffix));
    EXPECT_EQ(suffix, text.substr(body.size())) << code;
    EXPECT_EQ(std::string::npos, body.find_first_of("\r\n\t")) << code << ": " << body;
    EXPECT_EQ(std::string::npos, body.find("  ")) << code << ": " << body;
    EXPECT_FALSE(body.empty()) << code;
    EXPECT_NE(' ', body.front()) << code;
    EXPECT_NE(' ', body.back()) << code;
  }
  EXPECT_GT(known, 100);
}

TEST(SystemErrorTest, UnknownCodeReportsTheLookupError) {
  SetLastError(42);
  const std::string text = SystemErrorCodeToString(0xDEADBEEF);
  EXPECT_EQ(42u, GetLastError());
  std::smatch match;
  ASSERT_TRUE(std::regex_match(text, match, std::regex(R"(Error \(0x([0-9A-F]+)\) while retrieving error\. \(0xDEADBEEF\))")))
      << text;
  EXPECT_NE("0", match[1].str());
}

TEST_F(LoggingTest, VerbosityWithoutModulePatterns) {
  EXPECT_EQ(0, GetVlogLevel(__FILE__));
  SetMinLogLevel(LOG_ERROR);
  EXPECT_EQ(-1, GetVlogLevel(__FILE__));
  SetMinLogLevel(-3);
  EXPECT_EQ(3, GetVlogLevel(__FILE__));
  VLOG(3) << "three";
  EXPECT_EQ(1, captured_.count);
  EXPECT_NE(std::string::npos, captured_.text.find(":VERBOSE3:logging_unittest.cc("));
  VLOG(4) << "four";
  EXPECT_EQ(1, captured_.count);
  SetMinLogLevel(-2147483647 - 1);  // no overflow when negated
  EXPECT_EQ(2147483647, GetVlogLevel(__FILE__));
}

TEST_F(LoggingTest, UnpairedSurrogateBecomesReplacementCharacter) {
  const wchar_t broken[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
  LOG(INFO) << broken << base::StringPiece16(L"|\u00e9", 2);
  EXPECT_NE(std::string::npos, captured_.text.find("a\xef\xbf\xbd" "b|\xc3\xa9\n"));
}

// A message body longer than the fatal copy buffer still reaches the handler whole.
TEST_F(LoggingTest, LongMessagesAreDeliveredWhole) {
  const std::string body(5000, 'x');
  LOG(ERROR) << body;
  EXPECT_EQ(body + "\n", captured_.text.substr(captured_.message_start));
}

// Runs logging_test_child.exe (or a copy of it) with `switches`; returns its exit code and standard output and
// error.
DWORD RunLoggingChild(const std::wstring& program, const std::wstring& switches, std::string* output) {
  DWORD exit_code = 0;
  EXPECT_TRUE(test_support::RunProcess(L"\"" + program + L"\" " + switches, &exit_code, output));
  return exit_code;
}

std::wstring ChildPath() {
  return test_support::ExecutableDir() + L"\\logging_test_child.exe";
}

struct LogLine {
  std::string severity;
  int line;
  std::string body;
  SYSTEMTIME stamp;
};

// Parses a log file made by the child; every line must carry the default prefix with the child's file name,
// and a body that names its own line must name the prefix's line.
std::vector<LogLine> ParseChildLog(const std::string& contents) {
  std::vector<LogLine> lines;
  const std::regex pattern(
      R"(\[(\d\d)(\d\d)/(\d\d)(\d\d)(\d\d):(INFO|WARNING|ERROR|FATAL|VERBOSE\d+):logging_test_child\.cc\((\d+)\)\] (.*))");
  size_t start = 0;
  while (start < contents.size()) {
    const size_t end = contents.find('\n', start);
    EXPECT_NE(std::string::npos, end) << "unterminated line";
    if (end == std::string::npos)
      break;
    const std::string text = contents.substr(start, end - start);
    start = end + 1;
    std::smatch match;
    if (!std::regex_match(text, match, pattern)) {
      ADD_FAILURE() << "line without the prefix: " << text;
      continue;
    }
    LogLine line;
    line.stamp = {};
    line.stamp.wMonth = static_cast<WORD>(std::stoi(match[1]));
    line.stamp.wDay = static_cast<WORD>(std::stoi(match[2]));
    line.stamp.wHour = static_cast<WORD>(std::stoi(match[3]));
    line.stamp.wMinute = static_cast<WORD>(std::stoi(match[4]));
    line.stamp.wSecond = static_cast<WORD>(std::stoi(match[5]));
    line.severity = match[6];
    line.line = std::stoi(match[7]);
    line.body = match[8];
    const size_t named = line.body.find("line=");
    if (named != std::string::npos) {
      EXPECT_EQ(line.line, std::stoi(line.body.substr(named + 5))) << text;
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> SeveritiesAndBodies(const std::vector<LogLine>& lines) {
  std::vector<std::string> result;
  for (const LogLine& line : lines) {
    const size_t named = line.body.find(" line=");
    result.push_back(line.severity + " " + line.body.substr(0, named));
  }
  return result;
}

// A prefix stamp (which has no year) as a file time in `year`, for comparing it with times taken around the run.
ULONGLONG StampInYear(SYSTEMTIME stamp, WORD year) {
  stamp.wYear = year;
  FILETIME file_time = {};
  EXPECT_TRUE(SystemTimeToFileTime(&stamp, &file_time));
  return (static_cast<ULONGLONG>(file_time.dwHighDateTime) << 32) | file_time.dwLowDateTime;
}

TEST(LoggingChildTest, LogFileLinesCarryThePrefixFileAndLine) {
  ScopedTempFolder folder(L"logfile");
  const std::wstring log = folder.path().value() + L"\\child.log";
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  std::string output;
  ASSERT_EQ(0u, RunLoggingChild(ChildPath(), L"--log-file=\"" + log + L"\"", &output));
  GetLocalTime(&after);
  EXPECT_NE(std::string::npos, output.find("init=1"));

  std::string contents;
  ASSERT_TRUE(test_support::ReadFileBytes(log, &contents));
  const std::vector<LogLine> lines = ParseChildLog(contents);
  const std::vector<std::string> expected = {"INFO info", "INFO other=0", "WARNING plog", "ERROR error"};
  EXPECT_EQ(expected, SeveritiesAndBodies(lines));
  for (const LogLine& line : lines) {
    if (before.wYear == after.wYear) {
      before.wMilliseconds = 0;  // the stamp has whole seconds
      EXPECT_LE(StampInYear(before, before.wYear), StampInYear(line.stamp, before.wYear));
      EXPECT_GE(StampInYear(after, after.wYear), StampInYear(line.stamp, before.wYear));
    }
  }
  // The Win32 error text of the last error follows the body.
  ASSERT_EQ(4u, lines.size());
  EXPECT_NE(std::string::npos, lines[2].body.find(": " + SystemErrorCodeToString(ERROR_ACCESS_DENIED)));
  // ERROR and above also go to standard error.
  EXPECT_NE(std::string::npos, output.find("ERROR:logging_test_child.cc"));
  EXPECT_EQ(std::string::npos, output.find("INFO:logging_test_child.cc"));
}

// Two processes appending to one file at once: every line arrives whole, none is lost.
TEST(LoggingChildTest, ProcessesSharingTheFileKeepEveryLineWhole) {
  ScopedTempFolder folder(L"shared_log");
  const std::wstring log = folder.path().value() + L"\\shared.log";
  constexpr int kRepeat = 20000;
  std::vector<base::Process> children;
  for (int i = 0; i < 2; ++i) {
    children.push_back(base::LaunchProcess(
        L"\"" + ChildPath() + L"\" --log-file=\"" + log + L"\" --repeat=" + std::to_wstring(kRepeat),
        base::LaunchOptions()));
    ASSERT_TRUE(children.back().IsValid());
  }
  for (const base::Process& child : children) {
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Handle(), 120000));
    DWORD exit_code = 1;
    ASSERT_TRUE(GetExitCodeProcess(child.Handle(), &exit_code));
    EXPECT_EQ(0u, exit_code);
  }
  std::string contents;
  ASSERT_TRUE(test_support::ReadFileBytes(log, &contents));
  std::map<std::string, int> next;  // per child: the number its next "repeat" line must carry
  std::string last_pid;
  int switches = 0;  // how often the writer changed from one line to the next: the children wrote at once
  for (const LogLine& line : ParseChildLog(contents)) {
    std::istringstream body(line.body);
    std::string word, pid;
    int number = -1;
    if (body >> word >> pid >> number && word == "repeat") {
      EXPECT_EQ(next[pid]++, number) << pid;
      switches += !last_pid.empty() && pid != last_pid;
      last_pid = pid;
    }
  }
  ASSERT_EQ(2u, next.size());
  EXPECT_GT(switches, 1) << "the children did not write at the same time";
  for (const auto& [pid, count] : next)
    EXPECT_EQ(kRepeat, count) << pid;
}

TEST(LoggingChildTest, OldFileIsKeptOrDeleted) {
  ScopedTempFolder folder(L"oldfile");
  const std::wstring log = folder.path().value() + L"\\old.log";
  const std::wstring log_switch = L"--log-file=\"" + log + L"\"";
  std::string output, contents;

  ASSERT_TRUE(test_support::WriteFileBytes(log, "old text\n"));
  ASSERT_EQ(0u, RunLoggingChild(ChildPath(), log_switch, &output));
  ASSERT_TRUE(test_support::ReadFileBytes(log, &contents));
  EXPECT_EQ(0u, contents.find("old text\n"));
  EXPECT_EQ(4u, ParseChildLog(contents.substr(9)).size());

  ASSERT_EQ(0u, RunLoggingChild(ChildPath(), log_switch, &output));
  ASSERT_TRUE(test_support::ReadFileBytes(log, &contents));
  EXPECT_EQ(8u, ParseChildLog(contents.substr(9)).size());  // appended

  ASSERT_EQ(0u, RunLoggingChild(ChildPath(), log_switch + L" --delete-old", &output));
  ASSERT_TRUE(test_support::ReadFileBytes(log, &contents));
  EXPECT_EQ(4u, ParseChildLog(contents).size());
}

TEST(LoggingChildTest, DefaultLogFileBesideTheExecutableElseInCurrentFolder) {
  ScopedTempFolder folder(L"default");
  ScopedTempFolder current(L"current");
  const std::wstring program = folder.path().value() + L"\\child.exe";
  ASSERT_TRUE(CopyFileW(ChildPath().c_str(), program.c_str(), FALSE));
  std::string output, contents;

  ASSERT_EQ(0u, RunLoggingChild(program, L"--cwd=\"" + current.path().value() + L"\"", &output));
  EXPECT_NE(std::string::npos, output.find("init=1"));
  ASSERT_TRUE(test_support::ReadFileBytes(folder.path().value() + L"\\debug.log", &contents));
  EXPECT_EQ(4u, ParseChildLog(contents).size());
  EXPECT_FALSE(test_support::ReadFileBytes(current.path().value() + L"\\debug.log", &contents));

  // When the file beside the executable cannot be opened, the current folder takes it.
  ASSERT_TRUE(DeleteFileW((folder.path().value() + L"\\debug.log").c_str()));
  ASSERT_TRUE(CreateDirectoryW((folder.path().value() + L"\\debug.log").c_str(), nullptr));
  ASSERT_EQ(0u, RunLoggingChild(program, L"--cwd=\"" + current.path().value() + L"\"", &output));
  EXPECT_NE(std::string::npos, output.find("init=1"));
  ASSERT_TRUE(test_support::ReadFileBytes(current.path().value() + L"\\debug.log", &contents));
  EXPECT_EQ(4u, ParseChildLog(contents).size());

  // When neither can be opened, InitLogging fails and errors still reach standard error.
  ASSERT_TRUE(DeleteFileW((current.path().value() + L"\\debug.log").c_str()));
  ASSERT_TRUE(CreateDirectoryW((current.path().value() + L"\\debug.log").c_str(), nullptr));
  ASSERT_EQ(0u, RunLoggingChild(program, L"--cwd=\"" + current.path().value() + L"\"", &output));
  EXPECT_NE(std::string::npos, output.find("init=0"));
  EXPECT_NE(std::string::npos, output.find("ERROR:logging_test_child.cc"));
  DeleteFileW(program.c_str());
}

TEST(LoggingChildTest, VerbositySwitches) {
  ScopedTempFolder folder(L"verbose");
  const std::wstring log = folder.path().value() + L"\\v.log";
  const struct {
    std::wstring switches;
    std::vector<std::string> expected;
  } kCases[] = {
      {L"--v=1", {"INFO info", "VERBOSE1 v1", "INFO other=1", "WARNING plog", "ERROR error"}},
      // The child's own module gets 3, files elsewhere keep the level of "v".
      {L"--delete-old --V=1 --vmodule=logging_test_*=3,x=5",
       {"INFO info", "VERBOSE1 v1", "VERBOSE2 v2", "VERBOSE3 v3", "INFO other=1", "WARNING plog", "ERROR error"}},
      // A whole-path pattern, slash-neutral, and no "v": other files get minus the minimum level (0).
      {L"--delete-old --vmodule=*/base/logging_test_child.cc=2",
       {"INFO info", "VERBOSE1 v1", "VERBOSE2 v2", "INFO other=0", "WARNING plog", "ERROR error"}},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.switches);
    std::string output, contents;
    ASSERT_EQ(0u, RunLoggingChild(ChildPath(), L"--log-file=\"" + log + L"\" " + test_case.switches, &output));
    ASSERT_TRUE(test_support::ReadFileBytes(log, &contents));
    EXPECT_EQ(test_case.expected, SeveritiesAndBodies(ParseChildLog(contents)));
  }
}

TEST(LoggingChildTest, NoDestinationLeavesOnlyErrorsOnStandardError) {
  ScopedTempFolder folder(L"nodest");
  const std::wstring log = folder.path().value() + L"\\none.log";
  std::string output, contents;
  ASSERT_EQ(0u, RunLoggingChild(ChildPath(), L"--dest=0 --log-file=\"" + log + L"\"", &output));
  EXPECT_FALSE(test_support::ReadFileBytes(log, &contents));
  EXPECT_NE(std::string::npos, output.find("ERROR:logging_test_child.cc"));
  EXPECT_EQ(std::string::npos, output.find("INFO:"));
  EXPECT_EQ(std::string::npos, output.find("WARNING:"));
}

TEST(LoggingChildTest, FatalMessageIsLoggedThenBreaks) {
  ScopedTempFolder folder(L"fatal");
  const std::wstring log = folder.path().value() + L"\\fatal.log";
  std::string output, contents;
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_BREAKPOINT),
            RunLoggingChild(ChildPath(), L"--fatal --log-file=\"" + log + L"\"", &output));
  ASSERT_TRUE(test_support::ReadFileBytes(log, &contents));
  const std::vector<LogLine> lines = ParseChildLog(contents);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("FATAL", lines.back().severity);
  EXPECT_NE(std::string::npos, output.find("FATAL:logging_test_child.cc"));
}

// The verbosity information may be made twice; a third time is a programming error.
TEST(LoggingChildTest, VerbosityIsSetUpAtMostTwice) {
  ScopedTempFolder folder(L"twice");
  const std::wstring log = L" --log-file=\"" + folder.path().value() + L"\\t.log\"";
  std::string output;
  EXPECT_EQ(0u, RunLoggingChild(ChildPath(), L"--v=1 --init-times=2" + log, &output));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_BREAKPOINT),
            RunLoggingChild(ChildPath(), L"--v=1 --init-times=3" + log, &output));
  EXPECT_NE(std::string::npos, output.find("Verbose logging set up more than twice"));
  EXPECT_EQ(0u, RunLoggingChild(ChildPath(), L"--init-times=3" + log, &output));
}

}  // namespace
}  // namespace logging

namespace base {
namespace {

// Wide text streams into messages written inside a namespace that has operator<< overloads of its own.
TEST(LoggingNamespaceTest, WideTextStreamsFromOtherNamespaces) {
  static std::string* captured = nullptr;
  std::string text;
  captured = &text;
  logging::SetLogMessageHandler([](int, const char*, int, size_t, const std::string& message) {
    *captured = message;
    return true;
  });
  const std::wstring wide = L"w\u00e9";
  LOG(INFO) << StringPiece("n") << wide << L"|" << StringPiece16(L"p") << 7;
  EXPECT_NE(std::string::npos, text.find("nw\xc3\xa9|p7\n"));
  // Manipulators keep working through the message stream.
  LOG(INFO) << std::hex << 255 << std::setw(4) << std::setfill('.') << 1 << std::endl << "x";
  logging::SetLogMessageHandler(nullptr);
  EXPECT_NE(std::string::npos, text.find("] ff...1\nx\n"));
}

}  // namespace
}  // namespace base
