#include "desktop/windows/crash_reporter/crash_upload.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/product_info.h"
#include "desktop/launcher/installer/test_seams.h"
#include "desktop/windows/crash_reporter/crash_log_zip.h"
#include "desktop/windows/crash_reporter/crash_url.h"
#include "desktop/windows/crash_reporter/multipart_upload.h"
#include "desktop/windows/crash_reporter/reporter_lifetime.h"
#include "desktop/windows/crash_reporter/scripted_crash_server_test_util.h"
#include "testing/loopback_server.h"

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

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(CrashLogZipTest, ALogBecomesOneDeflatedEntryAndAFailureLeavesNoArchive) {
  const std::wstring folder = FreshRecordFolder(L"zip");
  // A folder outside any ANSI code page, as a user's temporary folder can be.
  const std::wstring unicode_folder = folder + L"\\T\u00ebst-\u65e5\u672c";
  ASSERT_TRUE(CreateDirectoryW(unicode_folder.c_str(), nullptr));
  const struct {
    std::wstring log;
    std::string text;  // written unless empty
    bool create;
    std::wstring zip;
    bool zipped;
  } rows[] = {
      {unicode_folder + L"\\crash.txt", CrashLogText(2500000), true, unicode_folder + L"\\crash.zip", true},
      {folder + L"\\small.txt", "one line\r\n", true, folder + L"\\small.zip", true},
      {folder + L"\\empty.txt", "", true, folder + L"\\empty.zip", false},
      {folder + L"\\missing.txt", "", false, folder + L"\\missing.zip", false},
      {folder + L"\\small.txt", "one line\r\n", true, folder + L"\\no such folder\\small.zip", false},
  };
  std::string expected;
  for (const auto& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.zip));
    if (row.create) {
      ASSERT_TRUE(test_support::WriteFileBytes(row.log, row.text));
    }
    EXPECT_EQ(row.zipped, ZipCrashLog(base::FilePath(row.log), base::FilePath(row.zip)));
    EXPECT_EQ(row.zipped, Exists(row.zip));
    if (row.zipped)
      expected += base::WideToUTF8(row.zip.substr(folder.size() + 1) + L"\t" + row.log.substr(folder.size() + 1)) + "\n";
  }
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.txt", expected));
}

// The crash service: form posts are answered by path.
constexpr char kServiceFaults[] = R"({
  "/upload": [{"status": 200, "body": "thanks", "times": "all"}],
  "/crash": [{"status": 200, "body": "ok", "times": "all"}],
  "/collector/submit": [{"status": 200, "body": "ok", "times": "all"}],
  "/fail": [{"status": 500, "times": "all"}],
  "/short": [{"status": 200, "body": "thanks", "truncate": 3, "times": "all"}]
})";

class CrashUploadTest : public testing::Test {
 protected:
  void SetUp() override {
    SetBrandingTextForTesting(R"({"product_name": "UploadTest"})");  // no crash URL of its own
    std::string error;
    ASSERT_TRUE(server_.Start(served_.path(), kServiceFaults, &error)) << error;
  }
  void TearDown() override { SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", nullptr); }

  // Keeps a posted body for the Linux check, with the boundary the request announced.
  void KeepBody(const test_support::LoggedRequest& request, const std::wstring& folder, const std::string& name,
                std::string* expected) {
    std::string body;
    ASSERT_TRUE(server_.ReadBody(request, &body));
    ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\" + base::UTF8ToWide(name) + L".body", body));
    *expected += name + "\tbody\t" + request.Header("Content-Type") + "\n";
  }

  test_support::ScopedTestFolder served_{L"crash_upload_served"};
  test_support::LoopbackServer server_;
};

TEST_F(CrashUploadTest, TheFormIsPostedAsTheServerParsesIt) {
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
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::wstring response;
    int code = -1;
    const int timeout_ms = 30000;
    EXPECT_EQ(row.sent, MultipartUpload::SendRequest(suffix, row.url, row.form, row.files, &timeout_ms, &response,
                                                     &code));
    EXPECT_EQ(row.code, code);
    if (row.sent) {
      EXPECT_EQ(row.response, response);
    }
  }
  const std::wstring boundary = MultipartUpload::GenerateBoundary();
  EXPECT_EQ(43u, boundary.size());
  EXPECT_NE(boundary, MultipartUpload::GenerateBoundary());

  ASSERT_TRUE(server_.Stop());
  const auto requests = server_.Requests();
  ASSERT_EQ(3u, requests.size()) << "only the well-formed requests went out";
  std::string expected = "form\tfile\tfile\t" + base::WideToUTF8(log) + "\tcrash log.txt\traw\n" +
                         "form\tfile\tupload_file_minidump\t" + base::WideToUTF8(dump) + "\tcrash.dmp\traw\n";
  for (const auto& [name, value] : form)
    expected += "form\tfield\t" + base::WideToUTF8(name) + "\t" + base::WideToUTF8(value) + "\n";
  for (const auto& request : requests) {
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ(base::WideToUTF8(kCrashUploadUserAgent + suffix), request.Header("User-Agent"));
  }
  KeepBody(requests[0], folder, "form", &expected);
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.txt", expected));
}

TEST_F(CrashUploadTest, QueuedUploadsReachTheServiceAndLeaveNothingBehind) {
  const std::wstring folder = FreshRecordFolder(L"queued");
  SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", server_.Url("/crash").c_str());
  InitCrashUrl();
  ReporterLifetime& lifetime = ReporterLifetime::Get();
  ASSERT_TRUE(lifetime.Init());
  const std::wstring log = folder + L"\\zorvi-crashlog-1-1.txt", dump = folder + L"\\zorvi-crashlog-1-1.dmp";
  const std::string log_text = CrashLogText(1300000), dump_bytes = CrashLogText(40000);
  ASSERT_TRUE(test_support::WriteFileBytes(log, log_text));
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\sent log.txt", log_text));  // for the check
  ASSERT_TRUE(test_support::WriteFileBytes(dump, dump_bytes));
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\sent dump.dmp", dump_bytes));
  const std::wstring empty_log = folder + L"\\empty.txt", unqueued = folder + L"\\unqueued.txt";
  ASSERT_TRUE(test_support::WriteFileBytes(empty_log, ""));
  ASSERT_TRUE(test_support::WriteFileBytes(unqueued, "x"));

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

  ASSERT_TRUE(server_.Stop());
  const auto requests = server_.Requests();
  ASSERT_EQ(4u, requests.size());
  std::string expected = "log\tfield\temail\ta@b.example\n"
                         "log\tfile\tfile\t" + base::WideToUTF8(folder) + "\\zorvi-crashlog-1-1.zip\tsent log.txt\tzip\n"
                         "dump\tfield\tProductName\tZorviDesktop\n"
                         "dump\tfile\tupload_file_minidump\t" + base::WideToUTF8(dump) + "\tsent dump.dmp\traw\n";
  // Two of each: the queued ones carry the larger bodies (the zipped log, the dump).
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

  // Without a crash URL nothing is sent.
  SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", nullptr);
  InitCrashUrl();
  EXPECT_EQ(L"", GetCrashUrl());
  EXPECT_FALSE(UploadLogNow(base::FilePath(kept), {}, false));
  EXPECT_FALSE(UploadMinidumpNow(base::FilePath(kept), {}));
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.txt", expected));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
