#include "base/logging.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace logging {
namespace {

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

TEST_F(LoggingTest, HandlerConsumesFatalWithoutTrap) {
  LOG(FATAL) << "handled";
  EXPECT_EQ(LOG_FATAL, captured_.severity);
  CHECK(1 + 1 == 3) << "still alive";
  EXPECT_NE(std::string::npos, captured_.text.find("Check failed: 1 + 1 == 3. still alive"));
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
  std::string text = SystemErrorCodeToString(ERROR_FILE_NOT_FOUND);
  EXPECT_GT(text.size(), 6u);
  EXPECT_EQ(" (0x2)", text.substr(text.size() - 6));
}

}  // namespace
}  // namespace logging
