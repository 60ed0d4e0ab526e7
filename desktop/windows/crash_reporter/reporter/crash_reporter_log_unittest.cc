#include "desktop/windows/crash_reporter/reporter/crash_reporter_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

// This test's file as the sink names it.
constexpr char kFileName[] = "crash_reporter_log_unittest.cc";

std::string SinkLine(int line, const std::string& message) {
  return std::string(kFileName) + ":" + std::to_string(line) + ":" + message + "\r\n";
}

// The reporter log's line for a message of this test: process and thread ids, date, time, tick count, severity,
// file and line.
std::regex ReporterLine(DWORD thread_id, const char* severity, int line, const std::string& message) {
  return std::regex("(^|\n)\\[" + std::to_string(GetCurrentProcessId()) + ":" + std::to_string(thread_id) +
                    ":[0-9]{4}/[0-9]{6}:[0-9]+:" + severity + ":" + kFileName + "\\(" + std::to_string(line) +
                    "\\)\\] " + message + "\n");
}

std::string Read(const std::wstring& path) {
  std::string contents;
  test_support::ReadFileBytes(path, &contents);
  return contents;
}

TEST(CrashReporterLogTest, ASinkTakesItsThreadsMessagesIntoTheCrashLogOnly) {
  SetBrandingTextForTesting(R"({"product_name": "ZorviLogTest"})");
  // A temporary folder of this test's own: the reporter log's name is the same for every reporter.
  const std::wstring folder = FreshRecordFolder(test_support::UniqueName(L"reporter_log"));
  ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", folder.c_str()));
  ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", folder.c_str()));
  const std::wstring reporter_log =
      folder + L"\\" + std::wstring(base::ASCIIToUTF16(base::ToLowerASCII(GetBrandingProductName()))) +
      L"_crashreporter.log";
  ASSERT_TRUE(test_support::WriteFileBytes(reporter_log, "the previous reporter's lines\n"));
  const std::wstring crash_log = folder + L"\\crash.txt", inner_log = folder + L"\\inner.txt";
  ASSERT_TRUE(test_support::WriteFileBytes(crash_log, "log text\n"));

  InitCrashReporterLogging();
  const int before_line = __LINE__ + 1;
  LOG(INFO) << "before any sink";
  int outer_line, inner_line, again_line, other_line = 0;
  DWORD other_thread = 0;
  {
    CrashLogSink outer;
    outer_line = __LINE__ + 1;
    LOG(INFO) << "outer message";
    {
      CrashLogSink inner;
      inner_line = __LINE__ + 1;
      LOG(WARNING) << "inner message";
      EXPECT_TRUE(inner.AppendToFile(base::FilePath(inner_log)));
    }
    again_line = __LINE__ + 1;
    LOG(ERROR) << "outer again";
    std::thread([&] {
      other_thread = GetCurrentThreadId();
      other_line = __LINE__ + 1;
      LOG(INFO) << "another thread";
    }).join();

    EXPECT_FALSE(outer.AppendToFile(base::FilePath(folder + L"\\missing\\crash.txt")));
    EXPECT_TRUE(outer.AppendToFile(base::FilePath(crash_log))) << "the text was kept for another try";
    EXPECT_TRUE(outer.AppendToFile(base::FilePath(crash_log))) << "an empty sink has nothing to add";
  }
  const int after_line = __LINE__ + 1;
  LOG(INFO) << "after the sinks";

  // Text mode: each line feed of the crash log became CR LF.
  EXPECT_EQ("log text\n\r\nCrash Logger:\r\n" + SinkLine(outer_line, "outer message") +
                SinkLine(again_line, "outer again"),
            Read(crash_log));
  EXPECT_EQ("\r\nCrash Logger:\r\n" + SinkLine(inner_line, "inner message"), Read(inner_log));
  const std::string log = Read(reporter_log);
  EXPECT_EQ(std::string::npos, log.find("previous reporter")) << "a new reporter starts a new log";
  EXPECT_TRUE(std::regex_search(log, ReporterLine(GetCurrentThreadId(), "INFO", before_line, "before any sink")))
      << log;
  EXPECT_TRUE(std::regex_search(log, ReporterLine(other_thread, "INFO", other_line, "another thread"))) << log;
  EXPECT_TRUE(std::regex_search(log, ReporterLine(GetCurrentThreadId(), "INFO", after_line, "after the sinks")))
      << log;
  for (const char* collected : {"outer message", "inner message", "outer again"})
    EXPECT_EQ(std::string::npos, log.find(collected)) << collected << " reached only the crash log";
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
