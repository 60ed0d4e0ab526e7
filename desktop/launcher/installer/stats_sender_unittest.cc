#include "desktop/launcher/installer/stats_sender.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/simple_thread.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/update_service_test_util.h"
#include "testing/test_programs.h"

namespace zorvi::installer {
namespace {

std::unique_ptr<base::Value> Parse(const std::string& json) {
  std::unique_ptr<base::Value> value = base::JsonReader::Read(json);
  return value ? std::move(value) : base::Value::CreateNullValue();
}

// The sender's tree as the JSON writer writes it, parsed back.
std::unique_ptr<base::Value> Snapshot(StatsSender* sender) {
  std::string json;
  EXPECT_TRUE(sender->SerializeAsJson(&json));
  return Parse(json);
}

// A tree with a root view of its own, without the sender's installer facts.
struct Tree {
  std::string Json() {
    std::string json;
    base::AutoLock hold(guard.lock());
    EXPECT_TRUE(base::JsonWriter::Write(root, &json));
    return json;
  }
  StatsTreeGuard guard;
  base::DictionaryValue root;
  InstallerStats view{&root, &guard, base::TimeTicks::Now()};
};

// A run's statistics as the controllers, the settings and the package fetcher write them. testdata_check.sh
// reads the file with Python's json (the nested shapes, the download summary recomputed from the fetches),
// `date -u` (the time texts) and `wine reg query` (the Windows version).
TEST(StatsSenderTest, RunStatisticsAreWrittenAsNestedJson) {
  test::SilentUIRunner runner;
  StatsSender sender(&runner);
  InstallerStats* stats = sender.stats();
  const std::unique_ptr<base::Value> before = Snapshot(&sender);
  sender.SummarizeDownloads();
  EXPECT_TRUE(Snapshot(&sender)->Equals(before.get())) << "no fetches, no summary";

  // What Settings::WriteStats writes with the prefix "ui.initial_", then with the empty one.
  stats->SetString("ui.initial_installation_mode", "current_user");
  stats->SetString("installation_mode", "all_users");
  stats->SetInteger("autoupdate", 0);
  stats->RecordTime("ui.accepted");
  // Three fetches: chunks with and without an address; no chunks at all; one chunk.
  std::unique_ptr<InstallerStats> first = stats->AppendDictionary("fetches");
  first->RecordTime("download_start");
  first->AppendDictionary("download_chunks")->SetString("ip", "192.0.2.1");
  first->AppendDictionary("download_chunks")->SetInteger("bytes", 4096);
  first->AppendDictionary("download_chunks")->SetString("ip", "192.0.2.7");
  stats->AppendDictionary("fetches")->SetString("result", "cancelled");
  stats->AppendDictionary("fetches")->AppendDictionary("download_chunks")->SetString("ip", "2001:db8::5");
  sender.SummarizeDownloads();

  std::string json;
  ASSERT_TRUE(sender.SerializeAsJson(&json));
  EXPECT_FALSE(Parse(json)->Equals(before.get()));
  const base::FilePath folder = test::TestDataFile(L"stats");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_EQ(static_cast<int>(json.size()), base::WriteFile(folder.Append(L"run.json"), json.data(), json.size()));
}

TEST(StatsSenderTest, CommandLineArgumentsOnlyWithTheUiStatsFeature) {
  ASSERT_TRUE(base::CommandLine::Init());
  base::FeatureList* features = base::FeatureList::GetInstance();
  features->AddFeature("installer-ui-stats", false, true);
  const std::string arguments = base::WideToUTF8(base::CommandLine::ForCurrentProcess()->GetArgumentsString());
  for (bool enabled : {false, true, false}) {
    base::ListValue overrides;
    overrides.AppendString(std::string("installer-ui-stats@") + (enabled ? "1" : "2"));
    features->InitializeFromReader(base::ListFeatureReader(&overrides));
    test::SilentUIRunner runner;
  StatsSender sender(&runner);
    const std::unique_ptr<base::Value> snapshot = Snapshot(&sender);
    base::DictionaryValue* root = nullptr;
    std::string recorded;
    ASSERT_TRUE(snapshot->GetAsDictionary(&root));
    EXPECT_EQ(enabled, root->GetString("command_line_args", &recorded)) << enabled;
    EXPECT_EQ(enabled ? arguments : "", recorded);
  }
}

// A write that would delete a dictionary a live view writes into is refused and the view stays usable; without
// live views the same writes replace whatever is in their way.
TEST(StatsSenderTest, WritesReplaceWhatIsInTheirWayUnlessALiveViewWritesThere) {
  Tree tree;
  InstallerStats* stats = &tree.view;
  auto fetch = stats->AppendDictionary("fetches");
  auto chunk = std::make_unique<InstallerStats>(*fetch->AppendDictionary("download_chunks"));  // a copy counts
  auto nested = stats->AppendDictionary("nested.list");
  const std::string with_views = tree.Json();
  void (*const refused[])(InstallerStats*) = {
      [](InstallerStats* s) { s->Increment("fetches"); },
      [](InstallerStats* s) { s->SetString("fetches", "x"); },
      [](InstallerStats* s) { s->SetInteger("fetches.count", 1); },        // through the list
      [](InstallerStats* s) { s->RecordTime("fetches"); },
      [](InstallerStats* s) { s->AppendDictionary("fetches.more")->SetString("lost", "x"); },
      [](InstallerStats* s) { s->SetString("nested", "x"); },              // over the list's parent
      [](InstallerStats* s) { s->AppendDictionary("nested"); },
  };
  for (auto write : refused)
    write(stats);
  fetch->Increment("download_chunks");  // the fetch's own chunk list
  EXPECT_EQ(with_views, tree.Json());

  chunk->SetString("ip", "203.0.113.9");
  nested->Increment("n");
  EXPECT_TRUE(Parse(tree.Json())->Equals(
      Parse(R"({"fetches": [{"download_chunks": [{"ip": "203.0.113.9"}]}], "nested": {"list": [{"n": 1}]}})").get()))
      << tree.Json();

  InstallerStats assigned = *chunk;
  assigned = *stats;  // an assignment lets go of the chunk
  chunk.reset();
  fetch.reset();
  nested.reset();
  stats->Increment("fresh");
  stats->SetString("text", "seven");
  stats->Increment("text");
  stats->SetInteger("counter", 41);
  stats->Increment("counter");
  stats->SetString("list", "in the way");
  stats->AppendDictionary("list")->SetInteger("first", 1);
  stats->AppendDictionary("list");
  stats->SetInteger("a.b", 1);
  stats->SetInteger("a.b.c", 3);
  stats->Increment("fetches");
  stats->SetString("nested", "x");
  EXPECT_TRUE(Parse(tree.Json())->Equals(Parse(R"({"fetches": 1, "nested": "x", "fresh": 1, "text": 1, "counter": 42,
      "list": [{"first": 1}, {}], "a": {"b": {"c": 3}}})").get()))
      << tree.Json();
}

TEST(StatsSenderTest, ConcurrentWritersCountExactly) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 10000;
  test::SilentUIRunner runner;
  StatsSender sender(&runner);
  std::unique_ptr<InstallerStats> shared_fetch = sender.stats()->AppendDictionary("fetches");
  base::WaitableEvent go(true, false);

  class Writer : public base::SimpleThread {
   public:
    Writer(InstallerStats root, InstallerStats fetch, base::WaitableEvent* go)
        : SimpleThread("StatsWriter"), root_(root), fetch_(fetch), go_(go) {}
    void Run() override {
      go_->Wait();
      for (int i = 0; i < kCalls; ++i) {
        root_.Increment("counts.total");
        fetch_.AppendDictionary("download_chunks")->Increment("n");
        root_.AppendDictionary("events");
      }
    }

   private:
    InstallerStats root_;
    InstallerStats fetch_;
    base::WaitableEvent* go_;
  };
  std::vector<std::unique_ptr<Writer>> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.push_back(std::make_unique<Writer>(*sender.stats(), *shared_fetch, &go));
    ASSERT_TRUE(writers.back()->Start());
  }
  go.Signal();
  for (auto& writer : writers)
    writer->Join();
  sender.SummarizeDownloads();

  base::DictionaryValue* root = nullptr;
  const base::ListValue* events = nullptr;
  int total = 0;
  int chunks = 0;
  std::unique_ptr<base::Value> snapshot = Snapshot(&sender);
  ASSERT_TRUE(snapshot->GetAsDictionary(&root) && root->GetList("events", &events));
  EXPECT_TRUE(root->GetInteger("counts.total", &total));
  EXPECT_TRUE(root->GetInteger("wininet_retries", &chunks));
  EXPECT_EQ(kThreads * kCalls, total);
  EXPECT_EQ(kThreads * kCalls, chunks);
  EXPECT_EQ(static_cast<size_t>(kThreads * kCalls), events->GetSize());
  std::string json;
  ASSERT_TRUE(sender.SerializeAsJson(&json));
  EXPECT_EQ(static_cast<size_t>(kThreads * kCalls), [&] {
    size_t ones = 0;
    for (size_t at = 0; (at = json.find(R"({"n":1})", at)) != std::string::npos; ++at)
      ++ones;
    return ones;
  }()) << "every chunk incremented exactly once";
}

class StatsSenderSendTest : public test::UpdateServiceTest {};

// The statistics posted to the service: the summary of the downloads made first, the body exactly the tree's
// JSON (testdata_check.sh: sha256sum of the text against the digest the server logged; Python's json recomputes
// the summary).
TEST_F(StatsSenderSendTest, StatisticsArePostedAsTheirJson) {
  StartServer("");
  SetAutoupdateUrl("localhost", "/base/");
  StatsSender sender(ui_runner());
  std::unique_ptr<InstallerStats> fetch = sender.stats()->AppendDictionary("fetches");
  fetch->AppendDictionary("download_chunks")->SetString("ip", "192.0.2.1");
  fetch->AppendDictionary("download_chunks")->SetInteger("chunk_start", 100);
  sender.stats()->AppendDictionary("fetches")->AppendDictionary("download_chunks")->SetString("ip", "::1");
  fetch.reset();
  test::DoneCounter done;
  EXPECT_TRUE(sender.Send(done.Callback(), true));
  EXPECT_EQ(0, done.count());
  EXPECT_EQ(1, done.Wait());
  std::string sent;
  ASSERT_TRUE(sender.SerializeAsJson(&sent));
  const std::vector<test_support::LoggedRequest> log = server().StopAndReadLog();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ("POST", log[0].method);
  EXPECT_EQ("/base/netinstaller/feedback", log[0].target);
  EXPECT_EQ(static_cast<int64_t>(sent.size()), log[0].body_length);
  const base::FilePath folder = test::TestDataFile(L"stats");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_EQ(static_cast<int>(sent.size()), base::WriteFile(folder.Append(L"sent.json"), sent.data(), sent.size()));
  ASSERT_EQ(64, base::WriteFile(folder.Append(L"sent.sha256"), log[0].body_sha256.data(), log[0].body_sha256.size()));
}

// However the service answers, done runs once: a send that may not wait for the network gives up after two
// retries, one that may keeps going; an address outside the allow-list (the branding has no domain of its own,
// and the list names this machine only as "localhost") is not asked at all.
TEST_F(StatsSenderSendTest, DoneRunsOnceWhateverTheServiceDoes) {
  const struct {
    const char* name;
    bool wait_for_network;
    const char* host;
    const char* fault;
    bool sent;
    size_t requests;
  } kRows[] = {
      {"unavailable, no wait", false, "localhost", R"([{"status": 503, "times": "all"}])", true, 4},
      {"unavailable four times, wait", true, "localhost", R"([{"status": 503, "times": 4}])", true, 5},
      {"address by number", true, "127.0.0.1", R"([])", false, 0},
  };
  std::string faults;
  for (size_t i = 0; i < std::size(kRows); ++i) {
    faults += (i ? ", " : "") + ("\"/row" + std::to_string(i) + "/netinstaller/feedback\": ") + kRows[i].fault;
  }
  StartServer("{" + faults + "}");
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const auto& row = kRows[i];
    SCOPED_TRACE(row.name);
    SetAutoupdateUrl(row.host, "/row" + std::to_string(i) + "/");
    StatsSender sender(ui_runner());
    test::DoneCounter done;
    EXPECT_EQ(row.sent, sender.Send(done.Callback(), row.wait_for_network));
    EXPECT_EQ(row.sent ? 0 : 1, done.count()) << "done runs inside Send exactly when nothing is sent";
    EXPECT_EQ(1, done.Wait());
  }
  const std::vector<test_support::LoggedRequest> log = server().StopAndReadLog();
  for (size_t i = 0; i < std::size(kRows); ++i) {
    EXPECT_EQ(kRows[i].requests,
              test_support::RequestsTo(log, "/row" + std::to_string(i) + "/netinstaller/feedback").size())
        << kRows[i].name;
  }
}

// The switch names the local statistics server, this machine on port 3000, whatever its value; the server holds
// the port under a lock shared with every other user of the fixed ports.
TEST_F(StatsSenderSendTest, LocalStatsServerIsThisMachineOnItsPort) {
  StartServer("", 3000);
  if (IsSkipped())  // another program holds the port
    return;
  const std::vector<std::wstring> kSwitches[] = {{L"--local-stats-server"},
                                                 {L"--local-stats-server=http://127.0.0.2:1/elsewhere"}};
  for (const auto& switches : kSwitches) {
    UseSwitches(switches);
    StatsSender sender(ui_runner());
    test::DoneCounter done;
    EXPECT_TRUE(sender.Send(done.Callback(), false));
    EXPECT_EQ(1, done.Wait());
  }
  const std::vector<test_support::LoggedRequest> log = server().StopAndReadLog();
  ASSERT_EQ(2u, log.size());
  for (const test_support::LoggedRequest& request : log) {
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("/", request.target);
  }
}

}  // namespace
}  // namespace zorvi::installer
