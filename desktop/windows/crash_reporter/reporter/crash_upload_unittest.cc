#include "desktop/windows/crash_reporter/reporter/crash_upload.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "base/files/file_util.h"
#include "base/json/string_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"
#include "desktop/windows/crash_reporter/reporter/crash_log_zip.h"
#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"
#include "desktop/windows/crash_reporter/reporter/crash_url.h"
#include "desktop/windows/crash_reporter/reporter/multipart_upload.h"
#include "desktop/windows/crash_reporter/reporter/reporter_lifetime.h"
#include "testing/loopback_server.h"
#include "testing/test_support.h"

// What the Linux check reads: <folder>/zip/ (archives with unzip -t and zipinfo -v against their logs), and
// <folder>/multipart/ and <folder>/queued/ (request bodies parsed with Python's email module against what the
// test sent, listed in expected.txt).

namespace zorvi {
namespace installer {
namespace {

// Text shaped like a crash log, `size` bytes.
std::string CrashLogText(size_t size) {
  std::string text;
  for (int row = 0; text.size() < size; ++row) {
    text += "000000" + std::to_string(0x7FF612340000 + row * 8) + "  " + std::to_string(row * 2654435761u) +
            " ........ register RIP=" + std::to_string(row % 977) + "\r\n";
  }
  text.resize(size);
  return text;
}

bool Exists(const std::wstring& path) { return base::PathExists(base::FilePath(path)); }

TEST(CrashLogZipTest, ALogBecomesOneDeflatedEntryAndAFailureLeavesNoArchive) {
  const std::wstring folder = FreshRecordFolder(L"zip");
  // A folder outside any ANSI code page, as a user's temporary folder can be.
  const std::wstring unicode_folder = folder + L"\\T\u00ebst-\u65e5\u672c";
  ASSERT_TRUE(CreateDirectoryW(unicode_folder.c_str(), nullptr));
  const std::string big_log = CrashLogText(2500000);
  const struct {
    std::wstring log;
    const char* text;  // null: no such file
    std::wstring zip;
    bool zipped;
  } rows[] = {
      {unicode_folder + L"\\crash.txt", big_log.c_str(), unicode_folder + L"\\crash.zip", true},
      {folder + L"\\small.txt", "one line\r\n", folder + L"\\small.zip", true},
      {folder + L"\\empty.txt", "", folder + L"\\empty.zip", false},
      {folder + L"\\missing.txt", nullptr, folder + L"\\missing.zip", false},
      {folder + L"\\small.txt", "one line\r\n", folder + L"\\no such folder\\small.zip", false},
  };
  std::string expected;
  for (const auto& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.zip));
    if (row.text) {
      ASSERT_TRUE(test_support::WriteFileBytes(row.log, row.text));
    }
    EXPECT_EQ(row.zipped, ZipCrashLog(base::FilePath(row.log), base::FilePath(row.zip)));
    EXPECT_EQ(row.zipped, Exists(row.zip));
    if (row.zipped)
      expected += base::WideToUTF8(row.zip.substr(folder.size() + 1) + L"\t" + row.log.substr(folder.size() + 1)) + "\n";
  }
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.txt", expected));
}

// The crash service's answers by path: crash checks (GET) and form posts.
constexpr char kServiceFaults[] = R"({
  "/accept": [{"status": 303, "location": "/crash/view?id=abc&x=1", "times": "all"}],
  "/no-ampersand": [{"status": 303, "location": "/crash/view?id=abc", "times": "all"}],
  "/no-id": [{"status": 303, "location": "/crash/view&id=abc&x", "times": "all"}],
  "/long-location": [{"status": 303, "location": "/crash/a-location-longer-than-the-first-buffer?id=12345&more=1",
                      "times": "all"}],
  "/reject": [{"status": 503, "times": "all"}],
  "/error": [{"status": 500, "times": "all"}],
  "/found": [{"status": 302, "location": "/crash/view?id=abc&x=1", "times": "all"}],
  "/ok": [{"status": 200, "body": "fine", "times": "all"}],
  "/silent": [{"silent": true, "times": "all"}],
  "/trickle-head": [{"status": 303, "trickle": 0.1, "trickle_head": true, "trickle_for": 20, "times": "all"}],
  "/endless": [{"trickle": 0.01, "trickle_bytes": 4096, "trickle_for": 20, "times": "all"}],
  "/upload": [{"status": 200, "body": "thanks", "times": "all"}],
  "/crash": [{"status": 200, "body": "ok", "times": "all"}],
  "/collector/submit": [{"status": 200, "body": "ok", "times": "all"}],
  "/fail": [{"status": 500, "times": "all"}],
  "/short": [{"status": 200, "body": "thanks", "truncate": 3, "times": "all"}]
})";

class CrashServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    SetBrandingTextForTesting(R"({"product_name": "ServiceTest", "urls": {"crash": "https://crash.example/c"}})");
    SetPlainCollectorForTesting(true);
    std::string error;
    ASSERT_TRUE(server_.Start(served_.path(), kServiceFaults, &error)) << error;
  }
  void TearDown() override {
    SetPlainCollectorForTesting(false);
    SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", nullptr);
    SetEnvironmentVariableW(L"SERVICETEST_CRASH_EMAIL", nullptr);
  }

  // Points the crash URL at `url` as the reporter's start-up would (null: the branding's).
  static void UseCrashUrl(const wchar_t* url) {
    SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", url);
    InitCrashUrl();
  }

  // Keeps a posted body for the Linux check, with the boundary the request announced.
  void KeepBody(const test_support::LoggedRequest& request, const std::wstring& folder, const std::string& name,
                std::string* expected) {
    std::string body;
    ASSERT_TRUE(server_.ReadBody(request, &body));
    ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\" + base::UTF8ToWide(name) + L".body", body));
    *expected += name + "\tbody\t" + request.Header("Content-Type") + "\n";
  }

  test_support::ScopedTestFolder served_{L"crash_service"};
  test_support::LoopbackServer server_;
};

TEST_F(CrashServiceTest, TheServersAnswerDecidesTheCrash) {
  const struct {
    const char* path;
    const wchar_t* client_url;
    const wchar_t* origin;
    CrashUrlCheckResult result;
    const wchar_t* id;
    const char* sent_url = nullptr;  // the headers' values as sent; null: as given
    const char* sent_origin = nullptr;
  } rows[] = {
      {"/accept", L"http://shown.example/page?q=1", L"Pellow", kCrashAccepted, L"abc"},
      {"/accept", L"http://shown.example/%41\r\nX-Injected: yes", L"Pellow\r\nX-Forged: yes", kCrashAccepted,
       L"abc", "http://shown.example/%41%0D%0AX-Injected: yes", "Pellow%0D%0AX-Forged: yes"},
      {"/accept", L"\x7F\t", L"\x1B", kCrashAccepted, L"abc", "%7F%09", "%1B"},
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
    UseCrashUrl(server_.Url(row.path).c_str());
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

  // One GET per check (no redirect followed), headers only when they have values. Answers on separate
  // connections may be logged in either order: a row's request is found by its path and number on that path.
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
    EXPECT_EQ(row.sent_url ? row.sent_url : base::WideToUTF8(row.client_url), request.Header("X-Zorvi-Crash-URL"));
    EXPECT_EQ(row.sent_origin ? row.sent_origin : base::WideToUTF8(row.origin), request.Header("X-Origin"));
    // Nothing in a value becomes a header of its own.
    EXPECT_EQ("", request.Header("X-Injected"));
    EXPECT_EQ("", request.Header("X-Forged"));
    EXPECT_EQ("", request.Header("Cookie"));
  }
}

TEST_F(CrashServiceTest, ASilentServerHoldsTheCheckAndTheUploadsOnlyForTheirLimits) {
  // A server that never answers, and one whose status line and headers come a byte at a time.
  for (const std::string path : {"/silent", "/trickle-head"}) {
    SCOPED_TRACE(path);
    if (path == "/trickle-head" && test_support::IsRunningUnderWine()) {
      // Closing the request from another thread ends the send on Windows; wine's send goes on reading the head.
      printf("skipped %s: wine's WinINet does not end a send whose request handle is closed\n", path.c_str());
      continue;
    }
    UseCrashUrl(server_.Url(path).c_str());
    std::wstring id, location;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kCrashCheckFailed, CheckCrashUrl(L"", L"", &id, &location, 500));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }

  // A service that takes the log and the dump and never answers, or answers a byte at a time without end: both
  // queued uploads end, and with them the reporter's wait, well before the test gives up on them.
  for (const char* fault : {R"({"silent": true, "times": "all"})", R"({"trickle": 0.1, "times": "all"})"}) {
    SCOPED_TRACE(fault);
    test_support::LoopbackServer silent;
    std::string error;
    ASSERT_TRUE(silent.Start(served_.path(),
                             std::string(R"({"/c": [)") + fault + R"(], "/collector/submit": [)" + fault + "]}",
                             &error))
        << error;
    UseCrashUrl(silent.Url("/c").c_str());
    SetUploadTimeLimitForTesting(base::TimeDelta::FromMilliseconds(300));
    const test_support::ScopedTestFolder folder(L"silent_service");
    const std::wstring log = folder.path() + L"\\crash.txt", dump = folder.path() + L"\\crash.dmp";
    ASSERT_TRUE(test_support::WriteFileBytes(log, CrashLogText(2000)));
    ASSERT_TRUE(test_support::WriteFileBytes(dump, CrashLogText(3000)));
    ReporterLifetime& lifetime = ReporterLifetime::Get();
    ASSERT_TRUE(lifetime.Init());
    EXPECT_TRUE(QueueLogUpload(base::FilePath(log), false, {}));
    EXPECT_TRUE(QueueMinidumpUpload(base::FilePath(dump), false, {}));
    test_support::ScopedTestHandle ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread waiter([&lifetime, &ended] {
      lifetime.WaitForZero();
      SetEvent(ended.get());
    });
    const DWORD waited = WaitForSingleObject(ended.get(), 30000);
    // Stopping the server ends requests it still holds, so that the waiter returns either way.
    EXPECT_TRUE(silent.Stop());
    waiter.join();
    SetUploadTimeLimitForTesting(base::TimeDelta());
    EXPECT_EQ(WAIT_OBJECT_0, waited) << "an upload still waits for its answer";
    const auto requests = silent.Requests();
    ASSERT_EQ(2u, requests.size());
    for (const auto& request : requests) {
      EXPECT_EQ("POST", request.method);
      EXPECT_FALSE(request.complete) << request.path;
    }
    EXPECT_TRUE(Exists(log) && Exists(dump)) << "kept, as asked";
  }
}

TEST_F(CrashServiceTest, TheAddressJoinsTheQueryEscaped) {
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
    SetEnvironmentVariableW(L"SERVICETEST_CRASH_EMAIL", row.email);
    UseCrashUrl(row.url);
    EXPECT_EQ(row.crash_url, GetCrashUrl());
  }
  // The dump holds the process's memory: it goes over HTTPS to the crash address's host whatever that address's
  // scheme (the tests' plain collector aside).
  const struct {
    const wchar_t* url;
    bool plain_for_testing;
    const wchar_t* collector;
  } collectors[] = {
      {L"http://h.example/c", false, L"https://h.example:443/collector/submit"},
      {L"http://h.example:8080/c?x=1", false, L"https://h.example:443/collector/submit"},
      {L"https://h.example:8443/c", false, L"https://h.example:8443/collector/submit"},
      {L"ftp://h.example/c", false, L""},
      {L"http://h.example:8080/c", true, L"http://h.example:8080/collector/submit"},
  };
  for (const auto& row : collectors) {
    UseCrashUrl(row.url);
    SetPlainCollectorForTesting(row.plain_for_testing);
    EXPECT_EQ(row.collector, GetCollectorUrl()) << base::WideToUTF8(row.url);
  }
  SetPlainCollectorForTesting(true);

  // The escaped address reaches the server as one query field after the existing one.
  SetEnvironmentVariableW(L"SERVICETEST_CRASH_EMAIL", L"me+you&co@example.com");
  UseCrashUrl(server_.Url("/accept?lang=en").c_str());
  std::wstring id, location;
  EXPECT_EQ(kCrashAccepted, CheckCrashUrl(L"", L"", &id, &location, 10000));
  ASSERT_TRUE(server_.Stop());
  ASSERT_EQ(1u, server_.Requests().size());
  EXPECT_EQ("/accept?lang=en&email=me%2Byou%26co@example.com", server_.Requests()[0].target);
}

TEST_F(CrashServiceTest, TheFormIsPostedAsTheServerParsesIt) {
  const std::wstring folder = FreshRecordFolder(L"multipart");
  const std::wstring log = folder + L"\\crash log.txt", dump = folder + L"\\crash.dmp";
  ASSERT_TRUE(test_support::WriteFileBytes(log, CrashLogText(5000)));
  std::string dump_bytes(70000, '\0');
  for (size_t i = 0; i < dump_bytes.size(); ++i)
    dump_bytes[i] = static_cast<char>(i * 131 + 7);
  ASSERT_TRUE(test_support::WriteFileBytes(dump, dump_bytes));
  const UploadParameters form = {{L"Version", L"1.2.3.4"}, {L"ProductName", L"ZorviDesktop"},
                                 {L"Email", L"m\u00e9@example.com"}, {L"empty", L""}};
  const UploadFiles files = {{L"upload_file_minidump", dump}, {L"file", log}};
  const std::wstring suffix = L" (Edition nightly)";
  const struct {
    const char* name;
    std::wstring url;
    UploadParameters form;
    UploadFiles files;
    bool sent;
    int code;
    const wchar_t* response;
  } rows[] = {
      {"form", server_.Url("/upload"), form, files, true, 200, L"thanks"},
      {"quote in a name", server_.Url("/upload"), {{L"a\"b", L"x"}}, files, false, 0, L""},
      {"empty name", server_.Url("/upload"), {{L"", L"x"}}, {}, false, 0, L""},
      {"control character", server_.Url("/upload"), {{L"a\tb", L"x"}}, {}, false, 0, L""},
      {"missing file", server_.Url("/upload"), form, {{L"file", folder + L"\\missing.txt"}}, false, 0, L""},
      {"empty URL", L"", form, files, false, 0, L""},
      {"ftp URL", L"ftp://127.0.0.1/upload", form, files, false, 0, L""},
      {"500", server_.Url("/fail"), form, {}, false, 500, L""},
      {"short answer", server_.Url("/short"), form, {}, false, 200, L""},
      {"endless answer", server_.Url("/endless"), form, {}, false, 200, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::wstring response;
    int code = -1;
    const int timeout_ms = 30000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(row.sent, MultipartUpload::SendRequest(suffix, row.url, row.form, row.files, &timeout_ms, &response,
                                                     &code));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(timeout_ms / 2));
    EXPECT_EQ(row.code, code);
    if (row.sent) {
      EXPECT_EQ(row.response, response);
    }
  }
  // Fresh threads draw boundaries of their own (their form: the check). A value holding a boundary with a part
  // after it, posted from a fresh thread, stays one value whatever boundary that thread draws.
  std::wstring fresh[2];
  for (std::wstring& boundary : fresh)
    std::thread([&boundary] { boundary = MultipartUpload::GenerateBoundary(); }).join();
  EXPECT_NE(fresh[0], fresh[1]);
  const std::wstring forging = L"x\r\n--" + fresh[0] + L"\r\nContent-Disposition: form-data; name=\"ProductName\"" +
                               L"\r\n\r\nForged\r\n--" + fresh[0] + L"--\r\n";
  bool forging_sent = false;
  std::thread([&] {
    const int timeout_ms = 30000;
    forging_sent = MultipartUpload::SendRequest(suffix, server_.Url("/crash"), {{L"URL", forging}}, {}, &timeout_ms,
                                                nullptr, nullptr);
  }).join();
  EXPECT_TRUE(forging_sent);

  ASSERT_TRUE(server_.Stop());
  const auto requests = server_.Requests();
  ASSERT_EQ(5u, requests.size()) << "only the well-formed requests went out";
  std::string expected = "form\tfile\tfile\t" + base::WideToUTF8(log) + "\tcrash log.txt\traw\n" +
                         "form\tfile\tupload_file_minidump\t" + base::WideToUTF8(dump) + "\tcrash.dmp\traw\n";
  for (const auto& [name, value] : form)
    expected += "form\tfield\t" + base::WideToUTF8(name) + "\t" + base::WideToUTF8(value) + "\n";
  for (const auto& request : requests) {
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ(base::WideToUTF8(kCrashUploadUserAgent + suffix), request.Header("User-Agent"));
    if (request.path == "/crash")
      KeepBody(request, folder, "forging", &expected);
  }
  KeepBody(requests[0], folder, "form", &expected);
  std::string quoted;
  ASSERT_TRUE(base::EscapeJsonStringImpl(base::WideToUTF8(forging), true, &quoted));
  expected += "forging\tjson field\tURL\t" + quoted + "\n";
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.txt", expected));
}

TEST_F(CrashServiceTest, QueuedUploadsReachTheServiceAndLeaveNothingBehind) {
  const std::wstring folder = FreshRecordFolder(L"queued");
  UseCrashUrl(server_.Url("/crash").c_str());
  ReporterLifetime& lifetime = ReporterLifetime::Get();
  ASSERT_TRUE(lifetime.Init());
  const std::wstring log = folder + L"\\zorvi-crashlog-1-1.txt", dump = folder + L"\\zorvi-crashlog-1-1.dmp";
  const std::string log_text = CrashLogText(1300000), dump_bytes = CrashLogText(40000);
  const std::wstring empty_log = folder + L"\\empty.txt", unqueued = folder + L"\\unqueued.txt";
  const std::pair<std::wstring, std::string> files[] = {
      {log, log_text}, {folder + L"\\sent log.txt", log_text},  // the "sent" copies are for the check
      {dump, dump_bytes}, {folder + L"\\sent dump.dmp", dump_bytes}, {empty_log, ""}, {unqueued, "x"}};
  for (const auto& [path, bytes] : files) {
    ASSERT_TRUE(test_support::WriteFileBytes(path, bytes));
  }

  EXPECT_TRUE(QueueLogUpload(base::FilePath(log), true, {{L"email", L"a@b.example"}}));
  EXPECT_TRUE(QueueMinidumpUpload(base::FilePath(dump), true, {{L"ProductName", L"ZorviDesktop"}}));
  EXPECT_TRUE(QueueLogUpload(base::FilePath(empty_log), true, {}));  // not zipped, so not sent; still deleted
  EXPECT_FALSE(QueueUploadTask(nullptr, base::FilePath(unqueued), true));
  EXPECT_FALSE(Exists(unqueued));
  ASSERT_TRUE(lifetime.WaitForZero());
  EXPECT_EQ(0, lifetime.count());
  for (const std::wstring& gone : {log, dump, empty_log, folder + L"\\zorvi-crashlog-1-1.zip", folder + L"\\empty.zip"})
    EXPECT_FALSE(Exists(gone)) << base::WideToUTF8(gone);

  // Run at once, a log and a dump stay where they are.
  const std::wstring kept = folder + L"\\kept.txt";
  ASSERT_TRUE(test_support::WriteFileBytes(kept, "kept\r\n"));
  EXPECT_TRUE(UploadLogNow(base::FilePath(kept), {}, false));
  EXPECT_TRUE(UploadMinidumpNow(base::FilePath(kept), {}));
  EXPECT_TRUE(Exists(kept));
  // The product's collector for this plain-http crash address is the HTTPS port of its host, which this server
  // does not answer: the dump does not reach it in clear (whether anything else answers decides the result).
  SetPlainCollectorForTesting(false);
  UploadMinidumpNow(base::FilePath(kept), {});
  SetPlainCollectorForTesting(true);

  ASSERT_TRUE(server_.Stop());
  const auto requests = server_.Requests();
  ASSERT_EQ(4u, requests.size());
  std::string expected = "log\tfield\temail\ta@b.example\n"
                         "log\tfile\tfile\t" + base::WideToUTF8(folder) + "\\zorvi-crashlog-1-1.zip\tsent log.txt\tzip\n"
                         "dump\tfield\tProductName\tZorviDesktop\n"
                         "dump\tfile\tupload_file_minidump\t" + base::WideToUTF8(dump) + "\tsent dump.dmp\traw\n";
  // Two of each (none from the dump sent to the product's collector): the queued ones carry the larger bodies
  // (the zipped log, the dump).
  int logs = 0, dumps = 0;
  const test_support::LoggedRequest* queued_log = nullptr;
  const test_support::LoggedRequest* queued_dump = nullptr;
  for (const auto& request : requests) {
    SCOPED_TRACE(request.target);
    const bool is_log = request.path == "/crash";
    EXPECT_TRUE(is_log || request.path == "/collector/submit");
    EXPECT_EQ(base::WideToUTF8(kCrashUploadUserAgent) + (is_log ? GetEditionSuffix() : ""),
              request.Header("User-Agent"));
    ++(is_log ? logs : dumps);
    const test_support::LoggedRequest*& largest = is_log ? queued_log : queued_dump;
    if (!largest || request.body_length > largest->body_length)
      largest = &request;
  }
  EXPECT_EQ(2, logs);
  EXPECT_EQ(2, dumps);
  ASSERT_TRUE(queued_log && queued_dump);
  KeepBody(*queued_log, folder, "log", &expected);
  KeepBody(*queued_dump, folder, "dump", &expected);

  // Without a crash URL (none set, none in the branding) nothing is sent.
  SetBrandingTextForTesting(R"({"product_name": "ServiceTest"})");
  UseCrashUrl(nullptr);
  EXPECT_EQ(L"", GetCrashUrl());
  EXPECT_FALSE(UploadLogNow(base::FilePath(kept), {}, false));
  EXPECT_FALSE(UploadMinidumpNow(base::FilePath(kept), {}));
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.txt", expected));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
