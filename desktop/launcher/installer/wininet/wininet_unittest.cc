// The downloader against the loopback test server: what it sent is read from the server's request log, what
// it wrote is compared with sha256sum's digest of the served file (and with cmp by testdata_check.sh).
#include "desktop/launcher/installer/wininet/wininet.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <random>
#include <utility>

#include "base/files/file_path.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/manual_task_runner_test_util.h"
#include "base/threading/thread_name_registry.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/wininet/wininet_session.h"
#include "desktop/launcher/installer/wininet/wininet_stats_observers.h"
#include "desktop/launcher/installer/wininet/wininet_test_util.h"
#include "testing/loopback_server.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test_support::LoggedRequest;
using namespace wininet_test;

std::unique_ptr<WininetFileResponseWriter> FileWriter(const std::wstring& path) {
  auto writer = std::make_unique<WininetFileResponseWriter>();
  EXPECT_TRUE(writer->Open(base::FilePath(path)));
  return writer;
}

// Writes into a file and counts the pieces that came short of a whole read buffer.
class PieceCountingWriter : public WininetFileResponseWriter {
 public:
  explicit PieceCountingWriter(std::atomic<int>* short_pieces) : short_pieces_(short_pieces) {}
  bool Write(const char* data, uint32_t size) override {
    if (size < WininetSession::kReadBufferSize)
      ++*short_pieces_;
    return WininetFileResponseWriter::Write(data, size);
  }

 private:
  std::atomic<int>* const short_pieces_;
};

// Counts the questions for the available bytes that this program asks WinINet while it is held: the import's
// pointer, through which every caller in the program goes, leads to a counter in front of the real function.
extern "C" decltype(&InternetQueryDataAvailable) __imp_InternetQueryDataAvailable;
std::atomic<int> g_questions{0};
decltype(&InternetQueryDataAvailable) g_real_question = nullptr;

BOOL WINAPI CountedQuestion(HINTERNET request, DWORD* available, DWORD flags, DWORD_PTR context) {
  ++g_questions;
  return g_real_question(request, available, flags, context);
}

class ScopedQuestionCounter {
 public:
  ScopedQuestionCounter() { g_real_question = Swap(&CountedQuestion); }
  ~ScopedQuestionCounter() { Swap(g_real_question); }
  ScopedQuestionCounter(const ScopedQuestionCounter&) = delete;
  ScopedQuestionCounter& operator=(const ScopedQuestionCounter&) = delete;

  int TakeCount() { return g_questions.exchange(0); }

 private:
  // Points the import at `target`; returns where it pointed.
  static decltype(g_real_question) Swap(decltype(g_real_question) target) {
    DWORD protection = 0;
    EXPECT_TRUE(VirtualProtect(&__imp_InternetQueryDataAvailable, sizeof(void*), PAGE_READWRITE, &protection));
    const auto previous = std::exchange(__imp_InternetQueryDataAvailable, target);
    VirtualProtect(&__imp_InternetQueryDataAvailable, sizeof(void*), protection, &protection);
    return previous;
  }
};

std::string ReadOutput(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(test_support::ReadFileBytes(path, &bytes));
  return bytes;
}

// The records of the list at `key`.
std::vector<const base::DictionaryValue*> Records(const base::DictionaryValue& tree, const char* key) {
  std::vector<const base::DictionaryValue*> records;
  const base::ListValue* list = nullptr;
  if (tree.GetList(key, &list)) {
    for (const auto& item : *list) {
      const base::DictionaryValue* record = nullptr;
      if (item->GetAsDictionary(&record))
        records.push_back(record);
    }
  }
  return records;
}

// The one record of the list at `key`; null (and a test failure) when there is not exactly one.
const base::DictionaryValue* OnlyRecord(const base::DictionaryValue& tree, const char* key) {
  const std::vector<const base::DictionaryValue*> records = Records(tree, key);
  EXPECT_EQ(1u, records.size()) << "records in " << key;
  return records.size() == 1 ? records[0] : nullptr;
}

// A record's integer or text at `key`; kAbsent or "<absent>" when it has none.
constexpr int kAbsent = -999;
int IntegerAt(const base::DictionaryValue* record, const std::string& key) {
  int value = kAbsent;
  return record && record->GetInteger(key, &value) ? value : kAbsent;
}
std::string TextAt(const base::DictionaryValue* record, const std::string& key) {
  std::string value = "<absent>";
  return record && record->GetString(key, &value) ? value : "<absent>";
}

class WininetTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDownloadRetryDelayForTesting(0); }
  void TearDown() override {
    SetDownloadRetryDelayForTesting(-1);
    SetDownloadMaximumRetriesForTesting(-1);
  }

  void StartServer(const std::string& faults = "") {
    std::string error;
    ASSERT_TRUE(server_.Start(ServedFolder(), faults, &error)) << error;
  }
  std::unique_ptr<WininetObserver> ChunkObserver() {
    return std::make_unique<WininetChunkStatsObserver>(stats_.root(), "download_chunks");
  }
  test_support::ScopedLogCapture log_;
  test_support::LoopbackServer server_;
  StatsTree stats_;
  DownloaderHarness harness_;
};

// Downloads that end well, each one record for the whole download ended at its last byte. A body cut short
// resumes at once from the bytes received (a resume that waited for the retry delay would not end within the
// bound) and counts as no retry; a whole body answering the range starts over, telling the delegate the new
// total; a body without a length ends with its data. The delegate hears of the count at most once a progress step
// and at the end of each body, and WinINet is asked what is available only when a request's body starts or a read
// came back short of the buffer.
TEST_F(WininetTest, DownloadsMatchTheServedFile) {
  SetDownloadRetryDelayForTesting(3600 * 1000);
  constexpr int kSize = -1;  // stands for the served file's size
  const struct {
    const char* name;
    const char* file;
    const char* faults;
    int resumed_status;  // of the second request; 0 when there is none
    std::vector<int> totals;
  } kRows[] = {
      {"ten MiB", "ten.bin", "", 0, {kSize}},
      {"forty MiB", "forty.bin", "", 0, {kSize}},
      {"cut short", "small.bin", R"([{"truncate": 100000}])", 206, {kSize}},
      {"range ignored", "small.bin", R"([{"truncate": 100000}, {"ignore_range": true}])", 200, {kSize, kSize}},
      {"no length", "small.bin", R"([{"no_content_length": true}])", 0, {0}},
  };
  ScopedQuestionCounter questions;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::string path = std::string("/") + row.file;
    StartServer(*row.faults ? "{\"" + path + "\": " + row.faults + "}" : "");
    test_support::ScopedLogCapture log;
    DownloaderHarness harness;
    StatsTree stats;
    const std::wstring output = OutputPath(L"download." + std::to_wstring(&row - kRows), row.file);
    std::atomic<int> short_pieces{0};
    auto writer = std::make_unique<PieceCountingWriter>(&short_pieces);
    ASSERT_TRUE(writer->Open(base::FilePath(output)));
    questions.TakeCount();
    ASSERT_EQ(Wininet::kCompleted,
              harness.Download(server_.Url(path), "", std::move(writer),
                               std::make_unique<WininetChunkStatsObserver>(stats.root(), "download_chunks")))
        << log.Text();
    const int asked = questions.TakeCount();
    const std::string body = ReadOutput(output);
    EXPECT_EQ(ServedSha256(row.file), Sha256Of(body));
    const int size = static_cast<int>(body.size());

    const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
    ASSERT_EQ(row.resumed_status ? 2u : 1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("Zorvi NetInstaller/" + GetFullVersionString(), requests[0].Header("User-Agent"));
    EXPECT_EQ("", requests[0].Header("Range"));
    EXPECT_EQ(0, requests[0].body_length);
    if (row.resumed_status) {
      EXPECT_EQ(100000, requests[0].bytes_sent);
      EXPECT_EQ("bytes=100000-", requests[1].Header("Range"));
      EXPECT_EQ(row.resumed_status, requests[1].status);
    }
    EXPECT_EQ(row.totals != std::vector<int>{0}, !requests[0].ResponseHeader("Content-Length").empty())
        << "a total of 0 is a body without a length";
    EXPECT_FALSE(log.HasLineStartingWith("Retrying ")) << log.Text();
    const RecordingDelegate::Seen seen = harness.delegate().seen();
    std::vector<int> totals = row.totals;
    std::replace(totals.begin(), totals.end(), kSize, size);
    EXPECT_EQ(totals, seen.totals);
    EXPECT_EQ(size, seen.last_progress);
    EXPECT_EQ(0, seen.off_owner_thread);
    EXPECT_EQ(0, seen.stalls);
    const int step = static_cast<int>(
        std::max(Wininet::kProgressStep, static_cast<uint32_t>(seen.totals.back()) / Wininet::kProgressUpdates));
    int64_t body_bytes = 0;
    for (const LoggedRequest& request : requests)
      body_bytes += request.bytes_sent;
    const int bodies = static_cast<int>(requests.size());
    EXPECT_LE(seen.progress_calls, body_bytes / step + bodies) << "step " << step << " over " << body_bytes;
    // Each body's start asks, and so may its end when WinINet answers a pending question or read with nothing.
    EXPECT_LE(bodies, asked);
    EXPECT_LE(asked, 2 * bodies + short_pieces.load()) << short_pieces.load() << " short reads";

    std::unique_ptr<base::DictionaryValue> tree = stats.Snapshot();
    const base::DictionaryValue* chunk = OnlyRecord(*tree, "download_chunks");
    EXPECT_EQ("127.0.0.1", TextAt(chunk, "ip"));
    for (const char* header : {"Date", "Server", "X-Served-By"})
      EXPECT_EQ(requests.back().ResponseHeader(header), TextAt(chunk, std::string("headers.") + header)) << header;
    EXPECT_EQ(requests.back().status, IntegerAt(chunk, "http_status"));
    EXPECT_EQ(0, IntegerAt(chunk, "wininet_error"));
    EXPECT_EQ(row.resumed_status ? 0 : kAbsent, IntegerAt(chunk, "retry_count"));
    EXPECT_EQ(size, IntegerAt(chunk, "chunk_end"));
  }
}

TEST_F(WininetTest, PostSendsTheBodyUnchangedAndRecordsUnderThePrefix) {
  constexpr char kTarget[] = "/tiny.bin?product=Zorvi%20Beta&version=1&token=a%2Bb%2Fc%3D%26d";
  StartServer();
  std::string body;
  ASSERT_TRUE(test_support::ReadFileBytes(DataPath(L"www\\body.bin"), &body));
  std::string reply;
  ASSERT_EQ(Wininet::kCompleted,
            harness_.Download(server_.Url(kTarget), body,
                              std::make_unique<WininetStringResponseWriter>(&reply),
                              std::make_unique<WininetErrorStatusObserver>(stats_.root(), "fetch_download_url_")))
      << log_.Text();
  EXPECT_EQ(ServedSha256("tiny.bin"), Sha256Of(reply));
  const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ(kTarget, requests[0].target) << "sent as given, escapes and all";
  EXPECT_EQ(static_cast<int64_t>(body.size()), requests[0].body_length);
  EXPECT_EQ(ServedSha256("body.bin"), requests[0].body_sha256);

  std::unique_ptr<base::DictionaryValue> tree = stats_.Snapshot();
  EXPECT_EQ(0, IntegerAt(tree.get(), "fetch_download_url_wininet_error"));
  EXPECT_EQ(200, IntegerAt(tree.get(), "fetch_download_url_http_status"));
}

// Transient failures go through the retry count; each row is a fresh downloader, since the count outlives a
// failed download. A range answer cut short resumes at once, like a whole one, and is no retry.
TEST_F(WininetTest, RetriesFollowTheCountAndTheMaximum) {
  struct Row {
    const char* name;
    const char* faults;  // for /small.bin
    int maximum;         // -1: the product's 600
    bool closed_port;
    size_t attempts;  // requests the server logged, or connection attempts for the closed port
    int state;
    int stalls;
    int resumed_from;  // the last request resumes a body cut short here; 0: it does not
  } rows[] = {
      {"503 three times", R"([{"status": 503, "times": 3}])", -1, false, 4, Wininet::kCompleted, 1, 0},
      {"502 then 504", R"([{"status": 502}, {"status": 504}])", -1, false, 3, Wininet::kCompleted, 0, 0},
      {"503, then a 206 cut short, then the rest", R"([{"status": 503}, {"truncate": 100000}])", -1, false, 3,
       Wininet::kCompleted, 0, 100000},
      {"maximum 0", R"([{"status": 503, "times": "all"}])", 0, false, 2, Wininet::kFailed, 0, 0},
      {"maximum 2", R"([{"status": 503, "times": "all"}])", 2, false, 4, Wininet::kFailed, 2, 0},
      {"heads only", R"([{"truncate": 0, "times": "all"}])", 2, false, 4, Wininet::kFailed, 2, 0},
      {"404", R"([{"status": 404, "times": "all"}])", -1, false, 1, Wininet::kFailed, 0, 0},
      {"500", R"([{"status": 500, "times": "all"}])", -1, false, 1, Wininet::kFailed, 0, 0},
      {"closed port", "[]", 0, true, 2, Wininet::kFailed, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartServer(std::string(R"({"/small.bin": )") + row.faults + "}");
    test_support::ScopedLogCapture log;
    DownloaderHarness harness;
    if (row.maximum >= 0)
      harness.RunOnOwner([&](Wininet* wininet) { wininet->set_maximum_retries(row.maximum); });
    const std::wstring url = row.closed_port ? L"http://127.0.0.1:" + std::to_wstring(server_.closed_port()) + L"/x"
                                             : server_.Url("/small.bin");
    StatsTree stats;
    const std::wstring output = OutputPath(L"retries." + base::UTF8ToWide(row.name),
                                           row.state == Wininet::kCompleted ? "small.bin" : "");
    EXPECT_EQ(row.state, harness.Download(url, "", FileWriter(output),
                                          std::make_unique<WininetChunkStatsObserver>(stats.root(), "chunks")))
        << log.Text();
    harness.DestroyDownloader();
    EXPECT_EQ(1, harness.completions());
    EXPECT_EQ(row.stalls, harness.delegate().seen().stalls);
    const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
    size_t retried = 0;
    for (const auto& line : log.lines())
      retried += line.text.rfind("Retrying ", 0) == 0 ? 1 : 0;
    if (row.closed_port) {
      EXPECT_TRUE(requests.empty());
      EXPECT_EQ(row.attempts, retried + 1);
      std::unique_ptr<base::DictionaryValue> tree = stats.Snapshot();
      const base::DictionaryValue* chunk = OnlyRecord(*tree, "chunks");
      EXPECT_EQ(ERROR_INTERNET_CANNOT_CONNECT, IntegerAt(chunk, "wininet_error"));
      EXPECT_EQ(kAbsent, IntegerAt(chunk, "http_status")) << "no server ever answered";
      continue;
    }
    ASSERT_EQ(row.attempts, requests.size());
    const size_t resumes = row.resumed_from ? 1 : 0;
    EXPECT_EQ(row.attempts - 1 - resumes, retried);
    if (row.maximum < 0 && retried > 0) {
      EXPECT_TRUE(log.HasLineStartingWith("Retrying 0 of 600")) << log.Text();
    }
    for (size_t i = 1; i < requests.size() - resumes; ++i)
      EXPECT_EQ("bytes=0-", requests[i].Header("Range")) << "request " << i + 1;
    if (resumes) {
      const LoggedRequest& cut = requests[requests.size() - 2];
      EXPECT_EQ(206, cut.status);
      EXPECT_EQ(row.resumed_from, cut.bytes_sent);
      EXPECT_EQ("bytes=" + std::to_string(row.resumed_from) + "-", requests.back().Header("Range"));
      EXPECT_EQ(206, requests.back().status);
    }
    if (row.state == Wininet::kCompleted) {
      const std::string body = ReadOutput(output);
      EXPECT_EQ(ServedSha256("small.bin"), Sha256Of(body));
      // The body came in range answers only: the delegate hears the size once, from the first of them.
      EXPECT_EQ(std::vector<int>{static_cast<int>(body.size())}, harness.delegate().seen().totals);
    }
  }
}

// A whole body answering a range request starts the body over, and one that brings no byte beyond the most the
// download held is a retry. Range answers that continue the body resume at once with any byte, short of that too,
// and make up for the other retries but not for the restarts: a server that cuts every whole body at the same byte,
// or that restarts and continues the body by turns, ends the download at the maximum. (Counts of cut answers, not
// "all": a downloader that never gives up still ends once they are used up.)
TEST_F(WininetTest, BodiesStartedOverAreRetriesUntilTheyGetFurther) {
  const struct {
    const char* name;
    const char* faults;  // for /small.bin, whose first answer has no range to ignore
    int maximum;
    std::vector<int> statuses;  // of the requests, in order
    std::vector<int> retries;   // the count each "Retrying" line states: one per delayed retry
    int state;
  } kRows[] = {
      {"cut at the same byte", R"([{"truncate": 1000, "ignore_range": true, "times": 20}])", 2,
       {200, 200, 200, 200, 200}, {0, 1, 2}, Wininet::kFailed},
      {"started over, then continued",
       R"([{"truncate": 150000}, {"ignore_range": true, "truncate": 50000}, {"truncate": 50000, "times": 3}])", 1,
       {200, 200, 206, 206, 206, 206}, {0}, Wininet::kCompleted},
      {"503s between the continuations",
       R"([{"truncate": 150000}, {"ignore_range": true, "truncate": 50000}, {"truncate": 50000}, {"status": 503},
           {"truncate": 50000}, {"status": 503}])",
       1, {200, 200, 206, 503, 206, 503, 206}, {0, 1, 1}, Wininet::kCompleted},
      {"restarted and continued by turns",
       R"([{"truncate": 150000}, {"ignore_range": true, "truncate": 50000}, {"truncate": 50000},
           {"ignore_range": true, "truncate": 50000}, {"truncate": 50000}, {"ignore_range": true, "truncate": 50000},
           {"truncate": 50000}, {"ignore_range": true, "truncate": 50000}, {"truncate": 50000}])",
       1, {200, 200, 206, 200, 206, 200}, {0, 1}, Wininet::kFailed},
  };
  std::string served;
  ASSERT_TRUE(test_support::ReadFileBytes(DataPath(L"www\\small.bin"), &served));
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    StartServer(std::string(R"({"/small.bin": )") + row.faults + "}");
    test_support::ScopedLogCapture log;
    DownloaderHarness harness;
    harness.RunOnOwner([&](Wininet* wininet) { wininet->set_maximum_retries(row.maximum); });
    const std::wstring output = OutputPath(L"started_over." + base::UTF8ToWide(row.name),
                                           row.state == Wininet::kCompleted ? "small.bin" : "");
    EXPECT_EQ(row.state, harness.Download(server_.Url("/small.bin"), "", FileWriter(output),
                                          std::make_unique<WininetObserver>()))
        << log.Text();
    harness.DestroyDownloader();
    const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
    std::vector<int> statuses;
    for (const LoggedRequest& request : requests)
      statuses.push_back(request.status);
    EXPECT_EQ(row.statuses, statuses);
    // Each request asks for the rest of the body its predecessors left: a whole body replaces it, a range answer
    // is appended to it.
    int64_t held = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
      EXPECT_EQ(i ? "bytes=" + std::to_string(held) + "-" : "", requests[i].Header("Range")) << "request " << i + 1;
      if (requests[i].status == 200)
        held = requests[i].bytes_sent;
      else if (requests[i].status == 206)
        held += requests[i].bytes_sent;
    }
    const std::string body = ReadOutput(output);
    EXPECT_EQ(held, static_cast<int64_t>(body.size()));
    EXPECT_TRUE(served.compare(0, body.size(), body) == 0) << "the file is the start of the served one";
    if (row.state == Wininet::kCompleted) {
      EXPECT_EQ(ServedSha256("small.bin"), Sha256Of(body));
    }
    std::vector<int> retries;
    for (const auto& line : log.lines()) {
      int count = 0;
      int maximum = 0;
      if (sscanf(line.text.c_str(), "Retrying %d of %d", &count, &maximum) == 2) {
        EXPECT_EQ(row.maximum, maximum);
        retries.push_back(count);
      }
    }
    EXPECT_EQ(row.retries, retries) << log.Text();
  }
}

// A range answer that starts at another byte than asked, or that is part of a body of another size (the file
// changed on the server), cannot be joined to the body held: the body starts over with a request for all of it,
// as a retry, and a server that always answers so ends the download at the maximum.
TEST_F(WininetTest, ARangeAnswerFromAnotherByteStartsTheBodyOver) {
  const struct {
    const char* name;
    const char* answer;  // to the range requests
    const char* times;
    const char* content_range;  // how the first answer to a range request begins
    int state;
  } kRows[] = {
      {"once", R"("range_start": 50000)", "1", "bytes 50000-", Wininet::kCompleted},
      {"always", R"("range_start": 50000)", "\"all\"", "bytes 50000-", Wininet::kFailed},
      {"another size", R"("body_file": "/body.bin")", "1", "bytes 100000-", Wininet::kCompleted},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    StartServer(std::string(R"({"/small.bin": [{"truncate": 100000}, {)") + row.answer + R"(, "times": )" +
                row.times + "}]}");
    test_support::ScopedLogCapture log;
    DownloaderHarness harness;
    constexpr int kMaximum = 1;
    harness.RunOnOwner([](Wininet* wininet) { wininet->set_maximum_retries(kMaximum); });
    const std::wstring output = OutputPath(L"misplaced." + base::UTF8ToWide(row.name), "");
    EXPECT_EQ(row.state, harness.Download(server_.Url("/small.bin"), "", FileWriter(output),
                                          std::make_unique<WininetObserver>()))
        << log.Text();
    if (row.state == Wininet::kCompleted) {
      EXPECT_EQ(ServedSha256("small.bin"), Sha256Of(ReadOutput(output)));
    }
    const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ("bytes=100000-", requests[1].Header("Range"));
    EXPECT_EQ(0u, requests[1].ResponseHeader("Content-Range").rfind(row.content_range, 0));
    EXPECT_EQ("bytes=0-", requests[2].Header("Range"));
    if (row.state == Wininet::kCompleted) {
      EXPECT_EQ(3u, requests.size());
    } else {
      EXPECT_EQ(static_cast<size_t>(kMaximum + 3), requests.size());
      EXPECT_TRUE(log.HasLineStartingWith("Retrying 1 of 1")) << log.Text();
    }
  }
}

// One line per request as the server logged it: method, target, the address it came to, status, the range asked
// and whether it carried `posted` or another body.
std::vector<std::string> RequestLines(const std::vector<LoggedRequest>& requests, const std::string& posted_sha256) {
  std::vector<std::string> lines;
  for (const LoggedRequest& request : requests) {
    std::string line = request.method + " " + request.target + " @" +
                       request.listener.substr(0, request.listener.rfind(':')) + " " + std::to_string(request.status);
    if (!request.Header("Range").empty())
      line += " " + request.Header("Range");
    if (request.body_length > 0)
      line += request.body_sha256 == posted_sha256 ? " +body" : " +another body";
    lines.push_back(line);
  }
  return lines;
}

// The downloader follows redirects itself. An address off the allow-list is refused before anything is sent to it:
// the server's 127.0.0.2 listener sees no request. Allowed ones, relative ones made absolute against the address
// asked, are followed up to the limit: a POST asks again with a GET after 301, 302 and 303, and is repeated, body
// and all, after 307 and 308. A resume asks the download's own address again, its range carried along.
TEST_F(WininetTest, RedirectsAreFollowedOnlyToAllowedHosts) {
  struct Row {
    std::string name;
    std::string faults;  // "{port}" stands for the server's
    std::vector<std::wstring> allowed;
    bool post;
    int state;
    std::string redirected_url;
    std::vector<std::string> requests;  // as RequestLines gives them
    const char* log_line;
  };
  const auto redirect = [](int status, const std::string& location, const std::string& times = "1") {
    return R"({"/small.bin": [{"status": )" + std::to_string(status) + R"(, "location": ")" + location +
           R"(", "times": )" + times + "}]}";
  };
  const std::string evil = "http://127.0.0.2:{port}/evil";
  const std::string other = "http://127.0.0.1:{port}/other.bin";
  const char* const refused = "Attempting to redirect to a disallowed domain: 127.0.0.2";
  std::vector<Row> rows;
  for (int status : {301, 302, 303, 307, 308}) {
    const std::string code = std::to_string(status);
    rows.push_back({code + " to a refused host", redirect(status, evil), {L"127.0.0.1"}, false, Wininet::kFailed, evil,
                    {"GET /small.bin @127.0.0.1 " + code}, refused});
  }
  rows.push_back({"POST 307 to a refused host", redirect(307, evil), {L"127.0.0.1"}, true, Wininet::kFailed, evil,
                  {"POST /small.bin @127.0.0.1 307 +body"}, refused});
  rows.push_back({"a refused host without a scheme", redirect(302, "//127.0.0.2:{port}/evil"), {L"127.0.0.1"}, false,
                  Wininet::kFailed, evil, {"GET /small.bin @127.0.0.1 302"}, refused});
  rows.push_back({"302 to the same host", redirect(302, other), {L"127.0.0.1"}, false, Wininet::kCompleted, other,
                  {"GET /small.bin @127.0.0.1 302", "GET /other.bin @127.0.0.1 200"}, nullptr});
  rows.push_back({"POST 301 to a path", redirect(301, "/other.bin?x=1"), {L"127.0.0.1"}, true, Wininet::kCompleted,
                  other + "?x=1", {"POST /small.bin @127.0.0.1 301 +body", "GET /other.bin?x=1 @127.0.0.1 200"},
                  nullptr});
  rows.push_back({"POST 302 to the same host", redirect(302, other), {L"127.0.0.1"}, true, Wininet::kCompleted, other,
                  {"POST /small.bin @127.0.0.1 302 +body", "GET /other.bin @127.0.0.1 200"}, nullptr});
  rows.push_back({"POST 303 to a name in the folder", redirect(303, "other.bin"), {L"127.0.0.1"}, true,
                  Wininet::kCompleted, other, {"POST /small.bin @127.0.0.1 303 +body", "GET /other.bin @127.0.0.1 200"},
                  nullptr});
  rows.push_back({"POST 307 to a host allowed by its suffix", redirect(307, "http://127.0.0.2:{port}/other.bin"),
                  {L"127.0.0.1", L".2"}, true, Wininet::kCompleted, "http://127.0.0.2:{port}/other.bin",
                  {"POST /small.bin @127.0.0.1 307 +body", "POST /other.bin @127.0.0.2 200 +body"}, nullptr});
  rows.push_back({"POST 308 to a path", redirect(308, "/other.bin"), {L"127.0.0.1"}, true, Wininet::kCompleted, other,
                  {"POST /small.bin @127.0.0.1 308 +body", "POST /other.bin @127.0.0.1 200 +body"}, nullptr});
  // The address redirects to itself: as many times as the limit, then served; once more, refused.
  const std::string self = "http://127.0.0.1:{port}/small.bin";
  for (int times : {Wininet::kMaximumRedirects, Wininet::kMaximumRedirects + 1}) {
    Row row = {std::to_string(times) + " redirects", redirect(302, "/small.bin", std::to_string(times)),
               {L"127.0.0.1"}, false, Wininet::kCompleted, self, {}, nullptr};
    row.requests.assign(Wininet::kMaximumRedirects + 1, "GET /small.bin @127.0.0.1 302");
    if (times == Wininet::kMaximumRedirects) {
      row.requests.back() = "GET /small.bin @127.0.0.1 200";
    } else {
      row.state = Wininet::kFailed;
      row.log_line = "Too many redirects";
    }
    rows.push_back(row);
  }
  rows.push_back({"a resume through a redirect",
                  R"({"/small.bin": [{"status": 302, "location": "/other.bin", "times": "all"}],
                      "/other.bin": [{"truncate": 10000}]})",
                  {L"127.0.0.1"}, false, Wininet::kCompleted, other,
                  {"GET /small.bin @127.0.0.1 302", "GET /other.bin @127.0.0.1 200",
                   "GET /small.bin @127.0.0.1 302 bytes=10000-", "GET /other.bin @127.0.0.1 206 bytes=10000-"},
                  nullptr});

  std::string posted;
  ASSERT_TRUE(test_support::ReadFileBytes(DataPath(L"www\\body.bin"), &posted));
  const auto with_port = [this](std::string text) {
    for (size_t at; (at = text.find("{port}")) != std::string::npos;)
      text.replace(at, 6, std::to_string(server_.port()));
    return text;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartServer(row.faults);
    test_support::ScopedLogCapture log;
    DownloaderHarness harness;
    harness.RunOnOwner([&row](Wininet* wininet) { wininet->set_allowed_hosts(row.allowed); });
    StatsTree stats;
    std::string body;
    EXPECT_EQ(row.state, harness.Download(server_.Url("/small.bin"), row.post ? posted : "",
                                          std::make_unique<WininetStringResponseWriter>(&body),
                                          std::make_unique<WininetChunkStatsObserver>(stats.root(), "chunks")))
        << log.Text();
    harness.DestroyDownloader();
    EXPECT_EQ(1, harness.completions());
    std::unique_ptr<base::DictionaryValue> tree = stats.Snapshot();
    EXPECT_EQ(with_port(row.redirected_url), TextAt(OnlyRecord(*tree, "chunks"), "redirected_url"));
    const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
    EXPECT_EQ(row.requests, RequestLines(requests, ServedSha256("body.bin")));
    if (row.state == Wininet::kCompleted) {
      EXPECT_EQ(ServedSha256(requests.back().path.substr(1)), Sha256Of(body));
    } else {
      EXPECT_EQ(0u, body.size()) << "nothing of what any host sent reaches the writer";
    }
    if (row.log_line) {
      EXPECT_TRUE(log.HasLineStartingWith(row.log_line, logging::LOG_ERROR)) << log.Text();
    }
  }
}

TEST_F(WininetTest, RefusedUrlsSendNoRequestAndRunNoCallback) {
  StartServer();
  struct Row {
    std::wstring url;
    std::vector<std::wstring> allowed;
    const char* log_line;
  } rows[] = {
      {server_.Url("/tiny.bin"), {L".zorvi.example"}, "Attempting to download from a disallowed domain"},
      {server_.Url("/tiny.bin", "localhost"), {L"127.0.0.1"}, "Attempting to download from a disallowed domain"},
      {L"not a url", {}, "Could not parse URL"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.url));
    harness_.RunOnOwner([&](Wininet* wininet) { wininet->set_allowed_hosts(row.allowed); });
    EXPECT_FALSE(harness_.Start(row.url, "", std::make_unique<WininetResponseWriter>(),
                                std::make_unique<WininetObserver>()));
    EXPECT_TRUE(log_.HasLineStartingWith(row.log_line, logging::LOG_ERROR)) << log_.Text();
  }
  harness_.DestroyDownloader();
  EXPECT_EQ(0, harness_.completions());
  EXPECT_TRUE(server_.StopAndReadLog().empty());
}

TEST_F(WininetTest, HostAllowListMatchesSuffixesExactly) {
  struct Row {
    const wchar_t* host;
    std::vector<std::wstring> allowed;
    bool passes;
  } rows[] = {
      {L"anything.example", {}, true},
      {L"dl.zorvi.example", {L".zorvi.example"}, true},
      {L"zorvi.example", {L".zorvi.example"}, false},  // longer than the host
      {L"dl.Zorvi.example", {L".zorvi.example"}, false},
      {L"evilzorvi.example", {L".zorvi.example"}, false},
      {L"127.0.0.1", {L".zorvi.example", L"127.0.0.1"}, true},
      {L"other.example", {L".zorvi.example", L""}, true},  // an empty entry matches every host
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.passes, Wininet::IsHostAllowed(row.host, row.allowed)) << base::WideToUTF8(row.host);
}

TEST_F(WininetTest, ProxyAuthenticationFollowsTheUsersAnswer) {
  struct Row {
    uint32_t reply;
    int state;
    size_t requests;
    const char* log_line;
  } rows[] = {
      {ERROR_INTERNET_FORCE_RETRY, Wininet::kCompleted, 2, "Logged in to proxy - resuming download"},
      {0, Wininet::kFailed, 1, "The user cancelled the prompt for proxy credentials"},
      {ERROR_CANCELLED, Wininet::kFailed, 1, "The user cancelled the prompt for proxy credentials"},
      {ERROR_INVALID_PARAMETER, Wininet::kFailed, 1, "Failed to obtain credentials for proxy"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reply);
    StartServer(R"({"/tiny.bin": [{"status": 407, "headers": {"Proxy-Authenticate": "Basic realm=\"test\""}}]})");
    test_support::ScopedLogCapture log;
    DownloaderHarness harness;
    harness.ui_runner().set_reply(row.reply);
    std::string body;
    EXPECT_EQ(row.state, harness.Download(server_.Url("/tiny.bin"), "",
                                          std::make_unique<WininetStringResponseWriter>(&body),
                                          std::make_unique<WininetObserver>()))
        << log.Text();
    EXPECT_EQ(1, harness.ui_runner().calls());
    // Asked from the owner's thread, as a controller's runner expects.
    EXPECT_EQ(harness.owner_thread(), harness.ui_runner().last_caller());
    // A dialog that a controller holds until the download has ended shows nothing.
    EXPECT_EQ(static_cast<uint32_t>(ERROR_CANCELLED), harness.ui_runner().last_callback().Run(nullptr));
    EXPECT_TRUE(log.HasLineStartingWith(row.log_line)) << log.Text();
    EXPECT_EQ(row.requests, server_.StopAndReadLog().size());
    if (row.state == Wininet::kCompleted) {
      EXPECT_EQ(ServedSha256("tiny.bin"), Sha256Of(body));
    }
  }
}

// Under wine a read pending on a stalled connection outlives its closed handle, so the closed session is not
// confirmed in time; it is kept until WinINet lets go of it, and the next session does not wait for it.
TEST_F(WininetTest, StopMidBodyRunsNoCallbackAndTheNextDownloadWorks) {
  SetDownloadTerminationWaitForTesting(0);
  StartServer(R"({"/small.bin": [{"stall": 150000}]})");
  harness_.delegate().WatchProgress(65536);  // the first step the delegate hears of
  ASSERT_TRUE(harness_.Start(server_.Url("/small.bin"), "", FileWriter(OutputPath(L"small.stopped")),
                             ChunkObserver()));
  ASSERT_TRUE(harness_.delegate().progress_reached().TimedWait(base::TimeDelta::FromMilliseconds(kHangBoundMs)))
      << log_.Text();
  harness_.RunOnOwner([](Wininet* wininet) { wininet->Stop(); });
  // What the delegate heard of is in the file once the stop has returned, though gathered for larger writes.
  std::string served;
  ASSERT_TRUE(test_support::ReadFileBytes(DataPath(L"www\\small.bin"), &served));
  const std::string stopped = ReadOutput(OutputPath(L"small.stopped"));
  EXPECT_GE(stopped.size(), 65536u);
  EXPECT_TRUE(served.compare(0, stopped.size(), stopped) == 0) << "the part kept is the start of the served file";
  const std::wstring output = OutputPath(L"small.after_stop", "small.bin");
  ASSERT_EQ(Wininet::kCompleted, harness_.Download(server_.Url("/small.bin"), "", FileWriter(output),
                                                   ChunkObserver()))
      << log_.Text();
  EXPECT_EQ(ServedSha256("small.bin"), Sha256Of(ReadOutput(output)));
  // The stalled connection ends with the server; WinINet's late read and callbacks find only the kept session.
  const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
  harness_.DestroyDownloader();
  EXPECT_EQ(std::vector<int>{Wininet::kCompleted}, harness_.completion_states());
  ASSERT_EQ(2u, requests.size());
  for (const LoggedRequest& request : requests)
    EXPECT_EQ(request.request_number == 2, request.complete) << "only the first answer stalled";
  std::unique_ptr<base::DictionaryValue> tree = stats_.Snapshot();
  EXPECT_EQ(2u, Records(*tree, "download_chunks").size());
}

// A writer that takes every piece but cannot put the whole body in its place.
class UnflushableWriter : public WininetResponseWriter {
 public:
  bool Flush() override { return false; }
};

TEST_F(WininetTest, WriterFailuresFailTheDownloadAndKeepWhatArrived) {
  StartServer(R"({"/small.bin": [{"truncate": 100000}, {"status": 404}, {"truncate": 100000}, {"status": 404}]})");
  // A file writer whose Open failed (on a folder) fails its first Write, and with it the download.
  auto unopened = std::make_unique<WininetFileResponseWriter>();
  EXPECT_FALSE(unopened->Open(base::FilePath(ServedFolder())));
  EXPECT_TRUE(log_.HasLineStartingWith("Could not open download file for writing", logging::LOG_ERROR));
  EXPECT_EQ(Wininet::kFailed, harness_.Download(server_.Url("/tiny.bin"), "", std::move(unopened),
                                                std::make_unique<WininetObserver>()));
  EXPECT_TRUE(log_.HasLineStartingWith("Failed writing response to downloading file", logging::LOG_ERROR));
  // A body the writer could not flush is no complete download.
  EXPECT_EQ(Wininet::kFailed, harness_.Download(server_.Url("/tiny.bin"), "", std::make_unique<UnflushableWriter>(),
                                                std::make_unique<WininetObserver>()));

  // A download that fails half-way leaves the part received: in the string, which the writer emptied when made,
  // and in the file, whose writer gathers the pieces into large writes.
  std::string served;
  ASSERT_TRUE(test_support::ReadFileBytes(DataPath(L"www\\small.bin"), &served));
  const std::wstring output = OutputPath(L"small.failed");
  for (const bool to_file : {false, true}) {
    SCOPED_TRACE(to_file ? "file" : "string");
    std::string body = "left over";
    std::unique_ptr<WininetResponseWriter> writer;
    if (to_file)
      writer = FileWriter(output);
    else
      writer = std::make_unique<WininetStringResponseWriter>(&body);
    EXPECT_EQ(Wininet::kFailed,
              harness_.Download(server_.Url("/small.bin"), "", std::move(writer), std::make_unique<WininetObserver>()));
    if (to_file)
      body = ReadOutput(output);
    EXPECT_EQ(100000u, body.size());
    EXPECT_TRUE(served.compare(0, body.size(), body) == 0) << "the part kept is the start of the served file";
  }
  const std::vector<LoggedRequest> requests = server_.StopAndReadLog();
  ASSERT_EQ(6u, requests.size());
  EXPECT_EQ(200, requests[1].status);
  EXPECT_EQ(404, requests[3].status);
  EXPECT_EQ(404, requests[5].status);
}

TEST(WininetStatsObserversTest, RecordPerChunkUnderTheirKeys) {
  StatsTree stats;
  WininetChunkStatsObserver chunks(stats.root(), "download_chunks");
  // Before the first chunk there is no record to write into.
  chunks.OnHttpStatus(200);
  chunks.OnChunkEnd(5);
  chunks.OnChunkStart(0);
  chunks.OnConnectedToIp("127.0.0.1");
  chunks.OnRetry(1);
  chunks.OnChunkEnd(10);  // a resume ends the record's request; the record goes on
  chunks.OnHeader(L"Server", L"test");
  chunks.OnChunkEnd(20);
  chunks.OnChunkStart(20);
  chunks.OnWininetError(ERROR_INTERNET_CANNOT_CONNECT);
  WininetErrorStatusObserver plain(stats.root(), "");
  plain.OnWininetError(ERROR_INTERNET_CANNOT_CONNECT);

  std::unique_ptr<base::DictionaryValue> tree = stats.Snapshot();
  const std::vector<const base::DictionaryValue*> records = Records(*tree, "download_chunks");
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(kAbsent, IntegerAt(records[0], "http_status"));
  EXPECT_EQ(20, IntegerAt(records[0], "chunk_end"));
  EXPECT_EQ(1, IntegerAt(records[0], "retry_count"));
  EXPECT_EQ("test", TextAt(records[0], "headers.Server"));
  EXPECT_NE("<absent>", TextAt(records[0], "chunk_end_time.time"));
  EXPECT_EQ(2, IntegerAt(records[1], "chunk_number")) << "each end counts";
  EXPECT_EQ(20, IntegerAt(records[1], "chunk_start"));
  EXPECT_EQ(kAbsent, IntegerAt(records[1], "chunk_end"));
  EXPECT_EQ(ERROR_INTERNET_CANNOT_CONNECT, IntegerAt(tree.get(), "wininet_error"));
  EXPECT_EQ(kAbsent, IntegerAt(tree.get(), "http_status"));
}

// Without the seams, the first retry waits the product's 6 s and counts against its 600, as the posted resume
// shows; the owner here is a task runner that runs nothing by itself, so nothing waits for the delay.
TEST_F(WininetTest, ProductionRetryDelayAndMaximumReachTheResume) {
  SetDownloadRetryDelayForTesting(-1);
  StartServer(R"({"/tiny.bin": [{"status": 503, "times": "all"}]})");
  base::scoped_refptr<base::ManualTaskRunner> owner(new base::ManualTaskRunner);
  {
    base::ThreadTaskRunnerHandle owner_handle(owner);
    RecordingUIRunner ui_runner;
    Wininet wininet(&ui_runner, nullptr);
    EXPECT_EQ(600, wininet.maximum_retries());
    ASSERT_TRUE(wininet.StartDownload(server_.Url("/tiny.bin"), "", base::Closure(),
                                      std::make_unique<WininetResponseWriter>(), std::make_unique<WininetObserver>()));
    ASSERT_TRUE(owner->TimedWaitForTask(base::TimeDelta::FromMilliseconds(kHangBoundMs))) << log_.Text();
    const std::deque<base::ManualTaskRunner::PostedTask> tasks = owner->PendingTasks();
    ASSERT_EQ(1u, tasks.size());
    EXPECT_EQ(base::TimeDelta::FromMilliseconds(6000), tasks[0].delay);
    EXPECT_TRUE(log_.HasLineStartingWith("Retrying 0 of 600")) << log_.Text();
    wininet.Stop();
  }
  EXPECT_EQ(1u, owner->RunPendingTasks());  // the resume of the stopped download does nothing
  EXPECT_EQ(1u, server_.StopAndReadLog().size());
}

// Counts writes that come after the downloader closed the writer.
std::atomic<int> g_writes_after_close{0};

class CheckedWriter : public WininetResponseWriter {
 public:
  bool Write(const char*, uint32_t) override {
    if (closed_)
      ++g_writes_after_close;
    return true;
  }
  void Close() override { closed_ = true; }

 private:
  std::atomic<bool> closed_{false};
};

int CountThreadsNamed(const std::string& prefix) {
  test_support::ScopedTestHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId() &&
        std::string(base::ThreadNameRegistry::GetInstance()->GetName(entry.th32ThreadID)).rfind(prefix, 0) == 0) {
      ++count;
    }
  }
  return count;
}

TEST_F(WininetTest, TwoHundredDownloadsWithRandomStopsOnOneDownloader) {
  // Only a hang reaches this: every session closed here must be confirmed by WinINet.
  SetDownloadTerminationWaitForTesting(kHangBoundMs);
  StartServer();
  std::mt19937 random(33);
  int completions = 0;
  int stopped = 0;
  for (int i = 0; i < 200; ++i) {
    SCOPED_TRACE(i);
    const unsigned kind = random() % 3;  // 0: runs to its end, 1: stopped at once, 2: stopped after some data
    harness_.delegate().WatchProgress(1);
    const int before = harness_.completions();
    ASSERT_TRUE(harness_.Start(server_.Url(i % 2 ? "/small.bin" : "/tiny.bin"), "",
                               std::make_unique<CheckedWriter>(), ChunkObserver()));
    if (kind == 0) {
      ASSERT_TRUE(harness_.WaitForCompletion()) << log_.Text();
      ASSERT_EQ(Wininet::kCompleted, harness_.completion_states().back());
    } else {
      if (kind == 2) {
        ASSERT_TRUE(harness_.delegate().progress_reached().TimedWait(
            base::TimeDelta::FromMilliseconds(kHangBoundMs)));
      }
      harness_.RunOnOwner([](Wininet* wininet) { wininet->Stop(); });
      ++stopped;
    }
    // A download ends at most once: by its completion or by the stop, whichever came first.
    const int ended = harness_.completions() - before;
    ASSERT_LE(ended, 1);
    if (ended == 1) {
      ASSERT_EQ(Wininet::kCompleted, harness_.completion_states().back());
    }
    completions += ended;
  }
  harness_.DestroyDownloader();
  EXPECT_EQ(completions, harness_.completions()) << "a completion callback ran after its stop";
  EXPECT_GT(stopped, 0);
  EXPECT_EQ(0, g_writes_after_close.load());
  EXPECT_EQ(0, CountThreadsNamed("Wininet Termination"));
  EXPECT_EQ(0u, WininetSession::CountForTesting()) << "every session was released";
  std::unique_ptr<base::DictionaryValue> tree = stats_.Snapshot();
  EXPECT_EQ(200u, Records(*tree, "download_chunks").size()) << "one record per download";
}

}  // namespace
}  // namespace zorvi::installer
