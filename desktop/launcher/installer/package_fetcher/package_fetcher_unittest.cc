// The package fetcher end to end: the installer whose payload it reads is a fixture (path key 6 points at it),
// the loopback server stands in for the update service, and the packages it serves are fixtures that answer the
// probes themselves. What the fetcher sent is read from the server's log; testdata_check.sh compares what it
// unpacked with 7-Zip's extraction (diff -r) and reads the statistics and preferences with Python's json.
#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_task_runner_handle.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/package_fetcher/package_test_util.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/stats_sender.h"
#include "testing/loopback_server.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"
#include "testing/trusted_test_root.h"

namespace zorvi::installer {
namespace {

using package_test::DataPath;
using package_test::Exists;
using package_test::ReadBytes;
using test_support::LoggedRequest;
using test_support::RequestsTo;

// The update service of the test branding is the loopback server below /base/; its domain is the default, empty.
constexpr char kBranding[] =
    R"({"product_name": "Test Product", "company_name": "Test Company", "expected_signer": "Test Signer",
        "domain": "", "urls": {"autoupdate": "http://127.0.0.1:%d/base/"}})";

std::string Quote(const std::string& text) {
  std::string json;
  base::JsonWriter::Write(base::StringValue(text), &json);
  return json;
}

// What sha256sum said of a served file or a tracking text.
std::string Sha256Of(const std::string& name) {
  return test_support::Sha256SumOf(DataPath(L"fetch\\sha256.txt").value(), name);
}

// An update-service reply naming a served package ("{port}" is the server's own).
std::string Reply(const std::string& package, const std::string& checksum, const std::string& more = "",
                  const std::string& host = "127.0.0.1") {
  return R"({"installer": "http://)" + host + R"(:{port}/)" + package + R"(", "installer_checksum": ")" + checksum + "\"" +
         more + "}";
}

// Replaces the package file whose extension is `g_replaced_extension`, at the moment the fetcher is about to use
// it, by a package whose archive is damaged, as another process of the user could; keeps what became of it.
std::wstring g_replaced_extension;
std::vector<test_support::ReplacementAttempt> g_replacements;

void ReplaceAtUse(const base::FilePath& file) {
  if (file.Extension() == g_replaced_extension) {
    g_replacements.push_back(
        test_support::TryToReplaceFile(file.value(), DataPath(L"fetch\\www\\corrupt_archive.exe").value()));
  }
}

// A fault that answers with `body`.
std::string Answer(const std::string& body) {
  return "{\"body\": " + Quote(body) + "}";
}

// The loopback server's fault table: per path, the answers of its requests in order.
class FaultTable {
 public:
  FaultTable& Add(const std::string& path, const std::string& fault) {
    faults_[path].push_back(fault);
    return *this;
  }
  FaultTable& Body(const std::string& path, const std::string& body) { return Add(path, Answer(body)); }
  std::string Json() const {
    std::vector<std::string> entries;
    for (const auto& [path, faults] : faults_)
      entries.push_back(Quote(path) + ": [" + base::JoinString(faults, ", ") + "]");
    return "{" + base::JoinString(entries, ", ") + "}";
  }

 private:
  std::map<std::string, std::vector<std::string>> faults_;
};

// The controller: what the fetcher tells it, in order, on its own thread. A final status ends the run.
class RecordingController : public PackageFetcherDelegate, public UICallbackRunner {
 public:
  void NotifyStatusChanged(int status) override {
    Record("status " + std::to_string(status));
    if (status == kPackageReady && !file_at_ready.empty()) {
      file_was_there_at_ready = Exists(file_at_ready);
      if (release_at_ready)
        release_at_ready->Signal();
    }
    if (status >= kPackageReady)
      quit.Run();
  }
  void NotifyTrackingDataObtained(const std::string& tracking_data) override { Record("tracking " + tracking_data); }
  void SetTotalProgress(int total) override {
    Record("total " + std::to_string(total));
    // The address request's reply has a total too: only the package's counts.
    if (on_total && !Statuses().empty() && Statuses().back() == kDownloadingPackage)
      on_total.Run();
  }
  void SetCurrentProgress(int) override {}
  void NotifyStalled() override { Record("stalled"); }
  // As a silent controller: nothing is shown, the answer is 0.
  void RunUICallbackAndPostReply(const UICallback&, const base::scoped_refptr<base::TaskRunner>& reply_task_runner,
                                 const UIReply& reply) override {
    reply_task_runner->PostTask(FROM_HERE, base::Bind(reply, 0u));
  }

  std::vector<int> Statuses() const {
    std::vector<int> statuses;
    for (const std::string& event : events) {
      if (base::StartsWith(event, "status ", base::CompareCase::SENSITIVE))
        statuses.push_back(std::stoi(event.substr(7)));
    }
    return statuses;
  }

  std::vector<std::string> events;
  bool fetcher_gone = false;
  int calls_after_fetcher_gone = 0;
  base::Closure quit = base::Bind([] {});
  base::Closure on_total;
  base::FilePath file_at_ready;
  bool file_was_there_at_ready = false;
  base::WaitableEvent* release_at_ready = nullptr;

 private:
  void Record(const std::string& event) {
    calls_after_fetcher_gone += fetcher_gone;
    events.push_back(event);
  }
};

class PackageFetcherTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::CommandLine::Init());
    SetDownloadRetryDelayForTesting(0);
    // The stalled download's connection stays open until the server ends: its session is not waited for.
    SetDownloadTerminationWaitForTesting(0);
    std::string error;
    ASSERT_TRUE(test_support::TrustTestRootCertificate(DataPath(L"certs\\ca.pem").value(), &error)) << error;
  }

  // Starts the server and sets the branding whose update service it is; the statistics start here.
  void StartServer(const FaultTable& faults, int port = 0) {
    std::string error;
    ASSERT_TRUE(server_.Start(DataPath(L"fetch\\www").value(), faults.Json(), &error, port)) << error;
    SetBrandingTextForTesting(base::StringPrintf(kBranding, server_.port()));
    stats_ = std::make_unique<StatsSender>(&controller_);
  }
  void UseInstaller(const std::wstring& name) {
    ASSERT_TRUE(base::PathService::Override(base::kExeFile, DataPath(L"fetch\\own\\" + name)));
  }
  void UseSwitches(const std::vector<std::wstring>& switches) {
    std::vector<std::wstring> arguments = {L"fetcher_test.exe"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    base::CommandLine::ForCurrentProcess()->ResetFromArguments(arguments);
  }
  std::wstring ReplySwitch(const std::string& path) { return L"--internal-package-server=" + server_.Url(path); }

  std::unique_ptr<PackageFetcher> MakeFetcher() {
    controller_.events.clear();
    return std::make_unique<PackageFetcher>(base::FilePath(download_folder_.path()), stats_->stats(), &controller_,
                                            &controller_);
  }
  // Starts the fetch and runs the controller's loop until a final status.
  void RunFetch(PackageFetcher* fetcher) {
    base::RunLoop run_loop;
    controller_.quit = run_loop.QuitClosure();
    fetcher->Start();
    run_loop.Run();
  }
  // A new fetcher run to its final status, asking `reply_path` for the package's address.
  std::unique_ptr<PackageFetcher> Fetch(const std::string& reply_path, std::vector<std::wstring> switches = {}) {
    switches.push_back(ReplySwitch(reply_path));
    UseSwitches(switches);
    std::unique_ptr<PackageFetcher> fetcher = MakeFetcher();
    RunFetch(fetcher.get());
    return fetcher;
  }
  // Destroys the fetcher: the package, its archive and the unpack folder go, and nothing more is heard.
  void DestroyFetcher(std::unique_ptr<PackageFetcher> fetcher, RecordingController* controller = nullptr) {
    RecordingController& told = controller ? *controller : controller_;  // the fetcher's
    const base::FilePath package = fetcher->package_path();
    fetcher.reset();
    told.fetcher_gone = true;
    // Whatever the worker queued for the controller runs (and must say nothing) before this quit.
    base::RunLoop drain;
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, drain.QuitClosure());
    drain.Run();
    EXPECT_FALSE(Exists(package));
    EXPECT_FALSE(Exists(package.ReplaceExtension(L"7z")));
    EXPECT_FALSE(Exists(package.RemoveExtension()));
    EXPECT_EQ(0, told.calls_after_fetcher_gone);
    told.fetcher_gone = false;
  }

  // The package's installer and library, which other installer processes start and load from the unpack folder,
  // hold what 7-Zip extracts from the package for as long as the fetcher lives: nobody can overwrite them or
  // rename them away (DestroyFetcher then finds them deleted).
  static void ExpectPackageFilesHeld(const PackageFetcher& fetcher) {
    for (const wchar_t* name : {L"installer.exe", L"zorvi.dll"}) {
      SCOPED_TRACE(base::WideToUTF8(name));
      const base::FilePath file = fetcher.unpack_folder().Append(name);
      const test_support::ReplacementAttempt attempt =
          test_support::TryToReplaceFile(file.value(), DataPath(L"fetch\\www\\a.dat").value());
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), attempt.overwrite_error);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), attempt.rename_error);
      EXPECT_TRUE(ReadBytes(DataPath(L"fetch\\expected").Append(name)) == ReadBytes(file)) << "changed";
    }
  }

  // The fetches recorded so far.
  std::vector<std::unique_ptr<base::DictionaryValue>> Fetches() {
    std::string json;
    EXPECT_TRUE(stats_->SerializeAsJson(&json));
    std::unique_ptr<base::Value> tree = base::JsonReader::Read(json);
    const base::DictionaryValue* root = nullptr;
    const base::ListValue* list = nullptr;
    std::vector<std::unique_ptr<base::DictionaryValue>> fetches;
    if (tree && tree->GetAsDictionary(&root) && root->GetList("fetches", &list)) {
      for (const auto& item : *list) {
        const base::DictionaryValue* fetch = nullptr;
        if (item->GetAsDictionary(&fetch))
          fetches.emplace_back(fetch->DeepCopy());
      }
    }
    return fetches;
  }
  static std::string TextAt(const base::DictionaryValue& record, const std::string& key) {
    std::string text = "<absent>";
    record.GetString(key, &text);
    return text;
  }

  // Keeps the statistics, and the unpacked tree when given, for testdata_check.sh.
  void Keep(const std::wstring& scenario, const PackageFetcher* fetcher = nullptr) {
    const base::FilePath folder = package_test::FreshOutputFolder(L"fetch\\" + scenario);
    std::string json;
    ASSERT_TRUE(stats_->SerializeAsJson(&json));
    ASSERT_TRUE(test_support::WriteFileBytes(folder.Append(L"stats.json").value(), json));
    if (fetcher) {
      ASSERT_TRUE(base::CopyDirectory(fetcher->unpack_folder(), folder.Append(L"tree"), true));
    }
  }

  base::AtExitManager at_exit_;  // shuts the preference pool down after its writes
  base::MessageLoop loop_;
  RecordingController controller_;
  test_support::ScopedTestFolder download_folder_{L"fetcher"};
  test_support::LoopbackServer server_;
  std::unique_ptr<StatsSender> stats_;
};

TEST_F(PackageFetcherTest, FullPackageInTheInstallerIsUnpackedWithoutAnyRequest) {
  StartServer(FaultTable());
  UseInstaller(L"full.exe");
  std::unique_ptr<PackageFetcher> fetcher = Fetch("/reply");
  EXPECT_EQ((std::vector<int>{0, 1, 4, 6}), controller_.Statuses());
  const base::FilePath unpacked = fetcher->unpack_folder();
  for (const wchar_t* absent : {L"installer_prefs_include.json", L"server_tracking_data"})
    EXPECT_FALSE(Exists(unpacked.Append(absent))) << absent;
  EXPECT_FALSE(Exists(fetcher->package_path().ReplaceExtension(L"7z"))) << "the archive goes once unpacked";
  ExpectPackageFilesHeld(*fetcher);
  Keep(L"full_package", fetcher.get());
  DestroyFetcher(std::move(fetcher));
  EXPECT_TRUE(server_.StopAndReadLog().empty());
}

// Tracking data from the installer's payload or the command line is announced before the address request and
// posted with it, and saved beside the unpacked package; an installer whose package lies outside its signature
// has none, and asks with a GET.
TEST_F(PackageFetcherTest, TrackingDataIsPostedAndKeptBesideThePackage) {
  const struct {
    const wchar_t* installer;
    std::vector<std::wstring> switches;
    std::string tracking;
    bool payload_read;
    const char* package;  // a signed installer takes only a package of the expected signer
  } kRows[] = {
      {L"tracking.exe", {}, "abc", true, "good.exe"},
      {L"plain.exe", {L"--server-tracking-blob=blob-7"}, "blob-7", false, "good.exe"},
      {L"signed_full_after_table.exe", {}, "", false, "signed_test.exe"},
      // The switch without a value brings no tracking data, and the refused package is none either.
      {L"signed_full_after_table.exe", {L"--server-tracking-blob"}, "", false, "signed_test.exe"},
  };
  const std::string welcome = "https://welcome.example/first run?x=1";
  FaultTable faults;
  for (size_t i = 0; i < std::size(kRows); ++i) {
    // The first package comes from a host of its own: its connection is new, so its address is recorded.
    faults.Body("/reply/" + std::to_string(i),
                Reply(kRows[i].package, Sha256Of(kRows[i].package), ", \"url_welcome\": " + Quote(welcome),
                      i == 0 ? "127.0.0.2" : "127.0.0.1"));
  }
  StartServer(faults);
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const auto& row = kRows[i];
    SCOPED_TRACE(row.installer);
    test_support::ScopedLogCapture log;
    UseInstaller(row.installer);
    std::vector<std::wstring> switches = row.switches;
    switches.push_back(ReplySwitch("/reply/" + std::to_string(i)));
    UseSwitches(switches);
    std::unique_ptr<PackageFetcher> fetcher = MakeFetcher();
    const base::FilePath prefs = fetcher->unpack_folder().Append(L"installer_prefs_include.json");
    controller_.file_at_ready = prefs;
    // The preference file's sequence is held up: only a fetcher that waits for the write finds the file there
    // when it reports the package ready. The hold ends at that report, or after a second.
    base::WaitableEvent release(true, false);
    if (i == 0) {
      controller_.release_at_ready = &release;
      JsonPrefStore::GetTaskRunnerForFile(prefs, PrefsTaskPool::GetInstance()->pool())
          ->PostTask(FROM_HERE, base::Bind([](base::WaitableEvent* hold) {
                       hold->TimedWait(base::TimeDelta::FromSeconds(1));
                     }, &release));
    }
    RunFetch(fetcher.get());
    release.Signal();
    controller_.release_at_ready = nullptr;

    std::vector<std::string> expected = {"status 0", "status 1"};
    if (!row.tracking.empty())
      expected.push_back("tracking " + row.tracking);
    expected.push_back("status 2");
    ASSERT_LE(expected.size(), controller_.events.size());
    EXPECT_EQ(expected, std::vector<std::string>(controller_.events.begin(),
                                                 controller_.events.begin() + expected.size()));
    EXPECT_EQ(6, controller_.Statuses().back());
    EXPECT_TRUE(controller_.file_was_there_at_ready);
    EXPECT_EQ(row.tracking.empty() ? "<missing>" : row.tracking,
              ReadBytes(fetcher->unpack_folder().Append(L"server_tracking_data")));
    EXPECT_EQ(!row.payload_read, log.HasLineStartingWith("Failed reading payload", logging::LOG_WARNING));
    if (i == 0)
      Keep(L"tracking", fetcher.get());
    DestroyFetcher(std::move(fetcher));
  }
  const std::vector<LoggedRequest> log = server_.StopAndReadLog();
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const std::vector<LoggedRequest> asked = RequestsTo(log, "/reply/" + std::to_string(i));
    ASSERT_EQ(1u, asked.size());
    EXPECT_EQ(kRows[i].tracking.empty() ? "GET" : "POST", asked[0].method);
    EXPECT_EQ(static_cast<int64_t>(kRows[i].tracking.size()), asked[0].body_length);
    if (!kRows[i].tracking.empty()) {
      EXPECT_EQ(Sha256Of(kRows[i].tracking), asked[0].body_sha256);
    }
  }
  for (const char* package : {"good.exe", "signed_test.exe"}) {
    size_t rows = 0;
    for (const auto& row : kRows)
      rows += std::string(row.package) == package;
    EXPECT_EQ(rows, RequestsTo(log, std::string("/") + package).size()) << package;
  }
}

// A reply the fetcher cannot use or a package that fails its checks (version and stream probes, the archive
// inside, and the signer, which an unsigned installer does not ask for) ends the fetch; a package whose first
// answer is 503 is asked again from its start. A package or archive that another process tries to replace once
// checked, as it is about to be used, stays what was checked. Each row is a fresh fetcher asking /reply/<row>.
TEST_F(PackageFetcherTest, RepliesAndPackagesDecideHowTheFetchEnds) {
  const std::string good = Sha256Of("good.exe");
  const auto answer = [](const std::string& package) { return Answer(Reply(package, Sha256Of(package))); };
  const char* const kUnparsable = "Failed parsing json reply";
  const char* const kOlder = "Downloaded package is older than the installer";
  const char* const kSigner = "Signature incorrect for the downloaded package";
  const struct {
    const char* name;
    const wchar_t* installer;  // in fetch\own
    std::string reply;         // a fault of the reply's path ("" for no request expected)
    int status;                // the final one
    const char* failure_reason;
    const wchar_t* replaced_at_use = L"";  // the extension of the file ReplaceAtUse replaces
    bool probes_meet = false;              // each probe answers only while the other runs (package_probe.c)
  } kRows[] = {
      {"no checksum", L"plain.exe", Answer(R"({"installer": "http://127.0.0.1:{port}/good.exe"})"), 8, kUnparsable},
      {"installer not a string", L"plain.exe", Answer(R"({"installer": 5, "installer_checksum": ")" + good + "\"}"), 8,
       kUnparsable},
      {"malformed", L"plain.exe", Answer(R"({"installer": )"), 8, kUnparsable},
      {"a list", L"plain.exe", Answer("[" + Reply("good.exe", good) + "]"), 8, kUnparsable},
      {"trailing comma", L"plain.exe", Answer(Reply("good.exe", good, ",")), 8, kUnparsable},
      {"address not found", L"plain.exe", R"({"status": 404})", 8, "Failed fetching the download URL"},
      {"upper-case checksum", L"plain.exe", Answer(Reply("good.exe", base::ToUpperASCII(good))), 8,
       "Checksum incorrect for the downloaded package"},
      {"package not found", L"plain.exe", Answer(Reply("missing.exe", good)), 8, "Failed downloading the Zorvi package"},
      {"installer's payload corrupted", L"corrupted.exe", "", 9, "Corrupted payload"},
      {"503, then the rest", L"plain.exe", Answer(Reply("retried.exe", good)), 6, "<absent>"},
      {"version empty", L"plain.exe", answer("version_empty.exe"), 8, kOlder},
      {"version lower", L"plain.exe", answer("version_lower.exe"), 8, kOlder},
      {"version equal, written shorter", L"plain.exe", answer("version_short.exe"), 6, "<absent>"},
      {"stream in other case", L"plain.exe", answer("stream_case.exe"), 8,
       "Downloaded package is of a different stream than the installer"},
      {"no archive", L"plain.exe", answer("no_archive.exe"), 8, "Could not find 7z payload in full package"},
      {"corrupt archive", L"plain.exe", answer("corrupt_archive.exe"), 9, "Archive unpacking failed"},
      {"unsigned installer, other signer", L"plain.exe", answer("signed_other.exe"), 6, "<absent>"},
      {"signed installer, expected signer", L"signed.exe", answer("signed_test.exe"), 6, "<absent>"},
      {"signed installer, other signer", L"signed.exe", answer("signed_other.exe"), 8, kSigner},
      {"signed installer, unsigned package", L"signed.exe", answer("good.exe"), 8, kSigner},
      {"installer no image, unsigned package", L"not_pe.exe", answer("good.exe"), 8, kSigner},
      {"package replaced once checked", L"plain.exe", answer("good.exe"), 6, "<absent>", L".exe"},
      {"archive replaced before its unpacking", L"plain.exe", answer("good.exe"), 6, "<absent>", L".7z"},
      {"probes side by side", L"plain.exe", answer("good.exe"), 6, "<absent>", L"", true},
  };
  FaultTable faults;
  for (size_t i = 0; i < std::size(kRows); ++i) {
    if (!kRows[i].reply.empty())
      faults.Add("/reply/" + std::to_string(i), kRows[i].reply);
  }
  faults.Add("/retried.exe", R"({"status": 503})").Add("/retried.exe", R"({"body_file": "/good.exe"})");
  StartServer(faults);
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const auto& row = kRows[i];
    SCOPED_TRACE(row.name);
    UseInstaller(row.installer);
    g_replaced_extension = row.replaced_at_use;
    g_replacements.clear();
    SetPackageFileUseHookForTesting(*row.replaced_at_use ? &ReplaceAtUse : nullptr);
    const std::wstring meeting = test_support::UniqueName(L"probes");
    SetEnvironmentVariableW(L"ZORVI_PROBE_MEETING", row.probes_meet ? meeting.c_str() : nullptr);
    std::unique_ptr<PackageFetcher> fetcher = Fetch("/reply/" + std::to_string(i));
    SetEnvironmentVariableW(L"ZORVI_PROBE_MEETING", nullptr);
    SetPackageFileUseHookForTesting(nullptr);
    if (*row.replaced_at_use) {
      ASSERT_EQ(1u, g_replacements.size());
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_replacements[0].overwrite_error);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_replacements[0].rename_error);
    }
    ASSERT_FALSE(controller_.Statuses().empty());
    EXPECT_EQ(row.status, controller_.Statuses().back());
    const auto fetches = Fetches();
    ASSERT_EQ(i + 1, fetches.size());
    EXPECT_EQ(row.failure_reason, TextAt(*fetches[i], "failure_reason"));
    EXPECT_EQ(GetFetcherResultName(row.status), TextAt(*fetches[i], "result"));
    // A package that fails to unpack stays until the fetcher goes.
    EXPECT_EQ(row.status == kUnpackingFailed && row.reply.size(),
              Exists(fetcher->package_path().ReplaceExtension(L"7z")));
    if (row.status == kPackageReady)
      ExpectPackageFilesHeld(*fetcher);
    DestroyFetcher(std::move(fetcher));
  }
  const std::vector<LoggedRequest> log = server_.StopAndReadLog();
  for (size_t i = 0; i < std::size(kRows); ++i)
    EXPECT_EQ(kRows[i].reply.empty() ? 0u : 1u, RequestsTo(log, "/reply/" + std::to_string(i)).size()) << kRows[i].name;
  const std::vector<LoggedRequest> retried = RequestsTo(log, "/retried.exe");
  ASSERT_EQ(2u, retried.size());
  EXPECT_EQ(503, retried[0].status);
  EXPECT_EQ("bytes=0-", retried[1].Header("Range"));
  EXPECT_EQ(206, retried[1].status);
}

// The bare switch asks the development server on this machine (port 3002, under a ctest resource lock), a
// valued one exactly its value, and without it the branding's service; hosts outside the list are not asked.
TEST_F(PackageFetcherTest, AddressRequestGoesWhereTheSwitchesSay) {
  StartServer(FaultTable(), 3002);
  const struct {
    std::vector<std::wstring> switches;
    std::string target;  // "" for no request
  } kRows[] = {
      {{L"--internal-package-server"}, "/netinstaller/nightly"},
      {{}, "/base/netinstaller/nightly"},
      {{ReplySwitch("/any/path?product=x&v=1")}, "/any/path?product=x&v=1"},
      {{L"--internal-package-server=" + server_.Url("/other/host", "127.0.0.2")}, ""},
  };
  UseInstaller(L"plain.exe");
  std::vector<std::string> targets;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.target);
    UseSwitches(row.switches);
    std::unique_ptr<PackageFetcher> fetcher = MakeFetcher();
    RunFetch(fetcher.get());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 8}), controller_.Statuses());
    EXPECT_EQ("Failed fetching the download URL", TextAt(*Fetches().back(), "failure_reason"));
    DestroyFetcher(std::move(fetcher));
    if (!row.target.empty())
      targets.push_back(row.target);
  }
  std::vector<std::string> asked;
  for (const LoggedRequest& request : server_.StopAndReadLog())
    asked.push_back(request.target);
  EXPECT_EQ(targets, asked);
}

// Partner files land in the unpack folder and its files list. One whose checksum never matches is tried four
// times and given up, which still ends with the package ready but without a result. A name that is not one plain
// name inside the unpack folder, ends in a blank, names a device or a file the installer reads from there that the
// package or the fetcher writes in some runs makes the entry unusable, and the file is not even downloaded; one
// already in the package, in any case, is downloaded but leaves the package's file as it was.
TEST_F(PackageFetcherTest, PartnerFilesJoinThePackage) {
  const auto partner = [](const std::string& href, const std::string& name, const std::string& checksum) {
    return R"({"href": "http://127.0.0.1:{port}/)" + href + R"(", "filename": )" + Quote(name) +
           R"(, "checksum": ")" + checksum + "\"}";
  };
  struct Row {
    std::string name;
    std::string partners;
    const char* listed;  // added to the files list
    const char* result;
    bool refused;
    std::string package = "good.exe";
    std::wstring tree = L"tree";  // the package's tree in the test data
  };
  std::vector<Row> rows = {
      {"listed", partner("a.dat", "a.dat", Sha256Of("a.dat")) + ", " + partner("b.dat", "b.dat", Sha256Of("b.dat")),
       "a.dat\r\nb.dat\r\n", "package_ready", false},
      {"never matches", partner("b.dat?never", "b.dat", Sha256Of("a.dat")), "", "<absent>", false},
      {"the package's readme", partner("b.dat", "README.TXT", Sha256Of("b.dat")), "", "package_ready", false},
      {"the files list", partner("b.dat", "files_list", Sha256Of("b.dat")), "", "package_ready", false},
      // What is in place when a later entry fails stays listed.
      {"listed, then the package's readme",
       partner("b.dat", "b.dat", Sha256Of("b.dat")) + ", " + partner("b.dat", "README.TXT", Sha256Of("b.dat")),
       "b.dat\r\n", "package_ready", false},
      {"after a last line without a line break", partner("b.dat", "b.dat", Sha256Of("b.dat")), "\r\nb.dat\r\n",
       "package_ready", false, "open_list.exe", L"open_list"},
  };
  const std::string outside = base::WideToUTF8(download_folder_.path()) + "\\evil.dat";
  for (const std::string name :
       {"..\\evil.dat", "../evil.dat", "sub\\evil.dat", "C:evil.dat", outside.c_str(), "evil\x01.dat", "..", "",
        "nul ", "com5", "CON .txt", "lpt9.dat", "CONOUT$", "conin$.txt", "CONOUT$ .log",
        "Installer_Prefs_Include.json", "server_tracking_data", "server_tracking_data ",
        "installer_prefs_include.json ", "pref_default_overrides", "Root_Files_List"}) {
    rows.push_back({name, partner("a.dat", name, Sha256Of("a.dat")), "", "package_ready", true});
  }
  FaultTable faults;
  for (size_t i = 0; i < rows.size(); ++i) {
    faults.Body("/reply/" + std::to_string(i),
                Reply(rows[i].package, Sha256Of(rows[i].package), ", \"partner_content\": [" + rows[i].partners + "]"));
  }
  StartServer(faults);
  UseInstaller(L"plain.exe");
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    test_support::ScopedLogCapture log;
    std::unique_ptr<PackageFetcher> fetcher = Fetch("/reply/" + std::to_string(i));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6}), controller_.Statuses());
    EXPECT_EQ(ReadBytes(DataPath(L"fetch\\" + rows[i].tree + L"\\files_list")) + rows[i].listed,
              ReadBytes(fetcher->unpack_folder().Append(L"files_list")));
    EXPECT_EQ(ReadBytes(DataPath(L"fetch\\tree\\readme.txt")),
              ReadBytes(fetcher->unpack_folder().Append(L"readme.txt")));
    EXPECT_EQ(rows[i].result, TextAt(*Fetches().back(), "result"));
    EXPECT_EQ(rows[i].refused,
              log.HasLineStartingWith("Failed parsing partner content part of JSON reply", logging::LOG_ERROR));
    // No partner download is left: the package, its unpack folder and the run's claim only.
    EXPECT_EQ(3u, package_test::ListFolder(base::FilePath(download_folder_.path())).size());
    if (i == 0)
      Keep(L"partners", fetcher.get());
    DestroyFetcher(std::move(fetcher));
    if (i == 1)
      Keep(L"partners_given_up");
  }
  const std::vector<LoggedRequest> log = server_.StopAndReadLog();
  EXPECT_EQ(1u, RequestsTo(log, "/a.dat").size()) << "only the listed row asks for it";
  int never_asked = 0;
  for (const LoggedRequest& request : log)
    never_asked += request.target == "/b.dat?never";
  EXPECT_EQ(4, never_asked);
}

TEST_F(PackageFetcherTest, StartAfterAFailureRunsTheWholeFetchAgain) {
  StartServer(FaultTable()
                  .Add("/reply", R"({"status": 404, "times": 2})")
                  .Body("/reply", Reply("good.exe", Sha256Of("good.exe"))));
  UseInstaller(L"plain.exe");
  UseSwitches({ReplySwitch("/reply")});
  std::unique_ptr<PackageFetcher> fetcher = MakeFetcher();
  for (const int status : {8, 8, 6}) {
    controller_.events.clear();
    RunFetch(fetcher.get());
    EXPECT_EQ(0, controller_.Statuses().front());
    EXPECT_EQ(status, controller_.Statuses().back());
  }
  Keep(L"restarts", fetcher.get());
  DestroyFetcher(std::move(fetcher));
  EXPECT_EQ(3u, RequestsTo(server_.StopAndReadLog(), "/reply").size());
}

TEST_F(PackageFetcherTest, DestroyedDuringADownloadLeavesNothingAndSaysNothing) {
  StartServer(FaultTable()
                  .Body("/reply", Reply("stalled.exe", Sha256Of("good.exe")))
                  .Add("/stalled.exe", R"({"body_file": "/good.exe", "stall": 2000})"));
  UseInstaller(L"plain.exe");
  UseSwitches({ReplySwitch("/reply")});
  std::unique_ptr<PackageFetcher> fetcher = MakeFetcher();
  base::RunLoop body_started;
  controller_.on_total = body_started.QuitClosure();
  fetcher->Start();
  body_started.Run();
  EXPECT_TRUE(Exists(fetcher->package_path()));
  DestroyFetcher(std::move(fetcher));
  EXPECT_EQ(3, controller_.Statuses().back());
  const std::vector<LoggedRequest> stalled = RequestsTo(server_.StopAndReadLog(), "/stalled.exe");
  ASSERT_EQ(1u, stalled.size());
  EXPECT_FALSE(stalled[0].complete);
  EXPECT_EQ(2000, stalled[0].bytes_sent);
}

// Destroyed while a partner file downloads: its temporary file goes with the package. A second run sharing the
// download folder, made moments later, fetches meanwhile and keeps to its own package, unpack folder and partner
// download; it removes the packages of runs that ended without cleaning up, nothing of the living one, nor other
// files.
TEST_F(PackageFetcherTest, DestroyedDuringAPartnerDownloadLeavesNothing) {
  const auto reply = [](const std::string& file) {
    return Reply("good.exe", Sha256Of("good.exe"),
                 R"(, "partner_content": [{"href": "http://127.0.0.1:{port}/)" + file + R"(", "filename": ")" + file +
                     R"(", "checksum": ")" + Sha256Of(file) + "\"}]");
  };
  StartServer(
      FaultTable().Body("/reply", reply("b.dat")).Add("/b.dat", R"({"stall": 100})").Body("/second", reply("a.dat")));
  UseInstaller(L"plain.exe");
  UseSwitches({ReplySwitch("/reply")});
  const base::FilePath folder(download_folder_.path());
  RecordingController first_controller;
  auto fetcher = std::make_unique<PackageFetcher>(folder, stats_->stats(), &first_controller, &first_controller);
  fetcher->Start();
  ASSERT_TRUE(server_.WaitForRequest("/b.dat", 120000));
  ASSERT_TRUE(Exists(fetcher->package_path().ReplaceExtension(L"partner.tmp")));
  // A killed run's files (its claim went with it), one whose claim nobody holds, and files of other names.
  const std::vector<std::wstring> ended = {L"zorvi_installer_20200102030405_4242_0.exe",
                                           L"zorvi_installer_20200102030405_4242_0.7z",
                                           L"zorvi_installer_20200102030405_4242_0.partner.tmp",
                                           L"zorvi_installer_20200102030405_4242_0\\files_list",
                                           L"zorvi_installer_20200102030405_4243_1.lock",
                                           L"zorvi_installer_20200102030405_4243_1\\installer.exe"};
  const std::vector<std::wstring> others = {L"zorvi_installer_20200102030405.log", L"zorvi_installer_2020_1_0.exe",
                                            L"zorvi_installer_20200102030405_4242_0.txt", L"installer.lck"};
  for (const std::vector<std::wstring>* files : {&ended, &others}) {
    for (const std::wstring& file : *files)
      ASSERT_TRUE(base::CreateDirectory(folder.Append(file).DirName()) &&
                  test_support::WriteFileBytes(folder.Append(file).value(), "x"));
  }
  std::unique_ptr<PackageFetcher> second = Fetch("/second");
  EXPECT_NE(fetcher->package_path().value(), second->package_path().value());
  EXPECT_NE(fetcher->unpack_folder().value(), second->unpack_folder().value());
  EXPECT_EQ(ReadBytes(DataPath(L"fetch\\tree\\files_list")) + "a.dat\r\n",
            ReadBytes(second->unpack_folder().Append(L"files_list")));
  DestroyFetcher(std::move(second));
  // What is left is the first run's and the files of other names; once it is gone, those only.
  const auto left = [&] {
    const std::vector<std::wstring> listed = package_test::ListFolder(folder);
    return std::set<std::wstring>(listed.begin(), listed.end());
  };
  std::set<std::wstring> first_files(others.begin(), others.end());
  first_files.insert({fetcher->package_path().BaseName().value(),
                      fetcher->package_path().ReplaceExtension(L"partner.tmp").BaseName().value(),
                      fetcher->package_path().ReplaceExtension(L"lock").BaseName().value(),
                      fetcher->unpack_folder().BaseName().value()});
  EXPECT_EQ(first_files, left());
  DestroyFetcher(std::move(fetcher), &first_controller);
  EXPECT_EQ(std::set<std::wstring>(others.begin(), others.end()), left());
  server_.StopAndReadLog();
}

}  // namespace
}  // namespace zorvi::installer
