#include "desktop/windows/crash_reporter/crash_url.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>

#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/product_info.h"
#include "desktop/launcher/installer/test_seams.h"
#include "desktop/windows/crash_reporter/crash_metadata.h"
#include "testing/loopback_server.h"

namespace zorvi {
namespace installer {
namespace {

// The crash service's answers by path.
constexpr char kCrashServiceFaults[] = R"({
  "/accept": [{"status": 303, "location": "/crash/view?id=abc&x=1", "times": "all"}],
  "/no-ampersand": [{"status": 303, "location": "/crash/view?id=abc", "times": "all"}],
  "/no-id": [{"status": 303, "location": "/crash/view&id=abc&x", "times": "all"}],
  "/long-location": [{"status": 303, "location": "/crash/a-location-longer-than-the-first-buffer?id=12345&more=1",
                      "times": "all"}],
  "/reject": [{"status": 503, "times": "all"}],
  "/error": [{"status": 500, "times": "all"}],
  "/found": [{"status": 302, "location": "/crash/view?id=abc&x=1", "times": "all"}],
  "/ok": [{"status": 200, "body": "fine", "times": "all"}],
  "/silent": [{"silent": true, "times": "all"}]
})";

class CrashUrlTest : public testing::Test {
 protected:
  void SetUp() override {
    SetBrandingTextForTesting(R"({"product_name": "UrlTest", "urls": {"crash": "https://crash.example/c"}})");
    std::string error;
    ASSERT_TRUE(server_.Start(folder_.path(), kCrashServiceFaults, &error)) << error;
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", nullptr);
    SetEnvironmentVariableW(L"URLTEST_CRASH_EMAIL", nullptr);
  }

  // Points the crash URL at `url` as the reporter's start-up would.
  static void UseCrashUrl(const std::wstring& url) {
    SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", url.c_str());
    InitCrashUrl();
  }

  test_support::ScopedTestFolder folder_{L"crash_url"};
  test_support::LoopbackServer server_;
};

TEST_F(CrashUrlTest, TheServersAnswerDecidesTheCrash) {
  const struct {
    const char* path;
    const wchar_t* client_url;
    const wchar_t* origin;
    CrashUrlCheckResult result;
    const wchar_t* id;
  } rows[] = {
      {"/accept", L"http://shown.example/page?q=1", L"Pellow", kCrashAccepted, L"abc"},
      {"/accept", L"", L"", kCrashAccepted, L"abc"},
      {"/long-location", L"", L"Vemtra", kCrashAccepted, L"12345"},
      {"/no-ampersand", L"", L"", kCrashCheckFailed, L""},
      {"/no-id", L"", L"", kCrashCheckFailed, L""},
      {"/reject", L"x", L"", kCrashRejected, L""},
      {"/error", L"", L"", kCrashCheckFailed, L""},
      {"/found", L"", L"", kCrashCheckFailed, L""},
      {"/ok", L"", L"", kCrashCheckFailed, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.path) + " " + base::WideToUTF8(row.client_url));
    UseCrashUrl(server_.Url(row.path));
    std::wstring id, location;
    EXPECT_EQ(row.result, CheckCrashUrl(row.client_url, row.origin, &id, &location, 10000));
    EXPECT_EQ(row.id, id);
    if (row.result == kCrashAccepted) {
      EXPECT_NE(std::wstring::npos, location.find(L"?id=" + id + L"&")) << base::WideToUTF8(location);
    }
  }
  UseCrashUrl(L"ftp://127.0.0.1/accept");
  std::wstring id, location;
  EXPECT_EQ(kCrashCheckFailed, CheckCrashUrl(L"", L"", &id, &location, 0));

  // What the server saw: one GET per check (no redirect followed), the headers only when their values exist.
  // The log is written as each answer ends, and the server's handler of one connection may still be writing
  // while the next check's request is answered on another: a row's request is found by its path and its
  // number on that path, not by its place in the log.
  ASSERT_TRUE(server_.Stop());
  const auto requests = server_.Requests();
  ASSERT_EQ(std::size(rows), requests.size());
  std::map<std::pair<std::string, int>, const test_support::LoggedRequest*> by_path_and_number;
  for (const auto& request : requests)
    by_path_and_number[{request.path, request.request_number}] = &request;
  std::map<std::string, int> checks_of_path;
  for (const auto& row : rows) {
    const int number = ++checks_of_path[row.path];
    SCOPED_TRACE(testing::Message() << row.path << " #" << number);
    const auto found = by_path_and_number.find({row.path, number});
    ASSERT_NE(by_path_and_number.end(), found);
    const test_support::LoggedRequest& request = *found->second;
    EXPECT_EQ("GET", request.method);
    EXPECT_EQ(base::WideToUTF8(kCrashUploadUserAgent) + GetEditionSuffix(), request.Header("User-Agent"));
    EXPECT_EQ(base::WideToUTF8(row.client_url), request.Header("X-Zorvi-Crash-URL"));
    EXPECT_EQ(base::WideToUTF8(row.origin), request.Header("X-Origin"));
    EXPECT_EQ("", request.Header("Cookie"));
  }
}

TEST_F(CrashUrlTest, ASilentServerHoldsTheCheckOnlyForItsLimit) {
  UseCrashUrl(server_.Url("/silent"));
  std::wstring id, location;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kCrashCheckFailed, CheckCrashUrl(L"", L"", &id, &location, 500));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST_F(CrashUrlTest, TheAddressJoinsTheQueryEscaped) {
  const struct {
    const wchar_t* url;     // the variable's; null: the branding's
    const wchar_t* email;   // null: not set
    const wchar_t* crash_url;
  } rows[] = {
      {nullptr, nullptr, L"https://crash.example/c"},
      {L"http://h.example/c", L"a+b&c@d.example", L"http://h.example/c?email=a%2Bb%26c@d.example"},
      {L"http://h.example/c?lang=en", L"x y~\u00e9", L"http://h.example/c?lang=en&email=x%20y~%C3%A9"},
      {L"http://h.example/c", L"", L"http://h.example/c"},
  };
  for (const auto& row : rows) {
    SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", row.url);
    SetEnvironmentVariableW(L"URLTEST_CRASH_EMAIL", row.email);
    InitCrashUrl();
    EXPECT_EQ(row.crash_url, GetCrashUrl());
  }
  EXPECT_EQ(base::UTF8ToWide(GetEditionSuffix()), GetCrashUserAgentSuffix());
  EXPECT_EQ(L"http://h.example:80/collector/submit", GetCollectorUrl());

  // The escaped address reaches the server as one query field after the existing one.
  SetEnvironmentVariableW(L"URLTEST_CRASH_EMAIL", L"me+you&co@example.com");
  UseCrashUrl(server_.Url("/accept?lang=en"));
  std::wstring id, location;
  EXPECT_EQ(kCrashAccepted, CheckCrashUrl(L"", L"", &id, &location, 10000));
  ASSERT_TRUE(server_.Stop());
  ASSERT_EQ(1u, server_.Requests().size());
  EXPECT_EQ("/accept?lang=en&email=me%2Byou%26co@example.com", server_.Requests()[0].target);
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
