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
  StatsSender sender(nullptr);
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
    StatsSender sender(nullptr);
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
  StatsSender sender(nullptr);
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

}  // namespace
}  // namespace zorvi::installer
