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
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/simple_thread.h"
#include "desktop/launcher/installer/installer_test_util.h"

namespace zorvi::installer {
namespace {

// The sender's tree as the JSON writer writes it, parsed back.
std::unique_ptr<base::DictionaryValue> Snapshot(StatsSender* sender) {
  std::string json;
  EXPECT_TRUE(sender->SerializeAsJson(&json));
  std::unique_ptr<base::Value> root = base::JsonReader::Read(json);
  base::DictionaryValue* dictionary = nullptr;
  if (!root || !root->GetAsDictionary(&dictionary))
    return std::make_unique<base::DictionaryValue>();
  root.release();
  return std::unique_ptr<base::DictionaryValue>(dictionary);
}

// A run's statistics as the controllers, the settings and the package fetcher write them. The file goes to
// testdata_check.sh, where Python's json reads the shapes, `date -u` the time texts, `wine reg query` the
// Windows version and the sums of the download summary.
TEST(StatsSenderTest, RunStatisticsAreWrittenAsNestedJson) {
  StatsSender sender(nullptr);
  InstallerStats* stats = sender.stats();
  // What Settings::WriteStats writes with the prefix "ui.initial_", then with the empty one.
  stats->SetString("ui.initial_installation_mode", "current_user");
  stats->SetString("ui.initial_installation_operation", "installing");
  stats->SetString("installation_mode", "all_users");
  stats->SetInteger("autoupdate", 0);
  stats->RecordTime("ui.accepted");
  {
    // Three fetches: two chunks with addresses and one without; none at all; one chunk with an address.
    std::unique_ptr<InstallerStats> first = stats->AppendDictionary("fetches");
    first->RecordTime("download_start");
    first->AppendDictionary("download_chunks")->SetString("ip", "192.0.2.1");
    first->AppendDictionary("download_chunks")->SetInteger("bytes", 4096);
    first->AppendDictionary("download_chunks")->SetString("ip", "192.0.2.7");
    stats->AppendDictionary("fetches")->SetString("result", "cancelled");
    stats->AppendDictionary("fetches")->AppendDictionary("download_chunks")->SetString("ip", "2001:db8::5");
  }
  sender.SummarizeDownloads();

  std::string json;
  ASSERT_TRUE(sender.SerializeAsJson(&json));
  const base::FilePath folder = test::TestDataFile(L"stats");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(base::WriteFile(folder.Append(L"run.json"), json.data(), static_cast<int>(json.size())));

  std::unique_ptr<base::DictionaryValue> root = Snapshot(&sender);
  int retries = 0;
  std::string addresses;
  EXPECT_TRUE(root->GetInteger("wininet_retries", &retries));
  EXPECT_TRUE(root->GetString("download_ips", &addresses));
  EXPECT_EQ(4, retries);
  EXPECT_EQ("192.0.2.1; 192.0.2.7; 2001:db8::5", addresses);
  EXPECT_FALSE(root->HasKey("command_line_args")) << "the feature installer-ui-stats was not registered";
}

TEST(StatsSenderTest, CommandLineArgumentsOnlyWithTheUiStatsFeature) {
  ASSERT_TRUE(base::CommandLine::Init());
  base::FeatureList* features = base::FeatureList::GetInstance();
  features->AddFeature("installer-ui-stats", false, true);
  const std::string arguments = base::WideToUTF8(base::CommandLine::ForCurrentProcess()->GetArgumentsString());
  ASSERT_FALSE(arguments.empty()) << "ctest passes a test filter";
  for (bool enabled : {false, true, false}) {
    base::ListValue overrides;
    overrides.AppendString(std::string("installer-ui-stats@") + (enabled ? "1" : "2"));
    features->InitializeFromReader(base::ListFeatureReader(&overrides));
    StatsSender sender(nullptr);
    std::string recorded;
    EXPECT_EQ(enabled, Snapshot(&sender)->GetString("command_line_args", &recorded)) << enabled;
    EXPECT_EQ(enabled ? arguments : "", recorded);
  }
}

TEST(StatsSenderTest, SummaryOfDownloads) {
  // Each fetch: its chunks, each with or without an address ("" for none); -1 for a fetch without the list.
  struct Case {
    const char* name;
    std::vector<std::vector<const char*>> fetches;
    bool has_fetches;
  } const cases[] = {
      {"no fetches list", {}, false},
      {"empty fetches list", {}, true},
      {"a fetch without chunks adds 0", {{}}, true},
      {"chunks without ip add no address", {{"", ""}, {"198.51.100.3"}}, true},
      {"addresses in list order", {{"198.51.100.1", "198.51.100.2"}, {}, {"198.51.100.1"}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StatsSender sender(nullptr);
    std::unique_ptr<base::DictionaryValue> before = Snapshot(&sender);
    int expected_chunks = 0;
    std::string expected_addresses;
    if (c.has_fetches) {
      sender.stats()->AppendDictionary("fetches");  // the first fetch of a case never has chunks
      for (const auto& chunks : c.fetches) {
        std::unique_ptr<InstallerStats> fetch = sender.stats()->AppendDictionary("fetches");
        for (const char* address : chunks) {
          std::unique_ptr<InstallerStats> chunk = fetch->AppendDictionary("download_chunks");
          ++expected_chunks;
          if (*address) {
            chunk->SetString("ip", address);
            expected_addresses += (expected_addresses.empty() ? "" : "; ") + std::string(address);
          }
        }
      }
      // A fetch entry that is not a dictionary, and one whose chunks are not a list, count nothing.
      std::unique_ptr<InstallerStats> odd = sender.stats()->AppendDictionary("fetches");
      odd->SetString("download_chunks", "not a list");
      before = Snapshot(&sender);
    }
    sender.SummarizeDownloads();
    std::unique_ptr<base::DictionaryValue> after = Snapshot(&sender);
    if (!c.has_fetches) {
      EXPECT_TRUE(after->Equals(before.get())) << "nothing is written without fetches";
      continue;
    }
    int chunks = -1;
    std::string addresses = "unset";
    EXPECT_TRUE(after->GetInteger("wininet_retries", &chunks));
    EXPECT_TRUE(after->GetString("download_ips", &addresses));
    EXPECT_EQ(expected_chunks, chunks);
    EXPECT_EQ(expected_addresses, addresses);
  }
}

TEST(StatsSenderTest, WritesReplaceWhatIsInTheirWay) {
  StatsSender sender(nullptr);
  InstallerStats* stats = sender.stats();
  stats->Increment("fresh");
  stats->SetString("text", "seven");
  stats->Increment("text");
  stats->SetInteger("counter", 41);
  stats->Increment("counter");
  stats->SetString("scalar", "in the way");
  stats->AppendDictionary("scalar");
  stats->AppendDictionary("twice");
  stats->AppendDictionary("twice")->SetInteger("second", 2);
  stats->SetString("a.b", "x");
  stats->SetInteger("a.b.c", 3);  // "a.b" becomes a dictionary

  std::unique_ptr<base::DictionaryValue> root = Snapshot(&sender);
  int value = 0;
  const base::ListValue* list = nullptr;
  EXPECT_TRUE(root->GetInteger("fresh", &value) && value == 1) << value;
  EXPECT_TRUE(root->GetInteger("text", &value) && value == 1) << value;
  EXPECT_TRUE(root->GetInteger("counter", &value) && value == 42) << value;
  EXPECT_TRUE(root->GetList("scalar", &list) && list->GetSize() == 1);
  EXPECT_TRUE(root->GetList("twice", &list) && list->GetSize() == 2);
  EXPECT_TRUE(root->GetInteger("a.b.c", &value) && value == 3) << value;
}

// The first dictionary of the list at `path`, or null.
const base::DictionaryValue* FirstEntry(const base::DictionaryValue& dictionary, const std::string& path) {
  const base::ListValue* list = nullptr;
  const base::Value* first = nullptr;
  const base::DictionaryValue* entry = nullptr;
  if (dictionary.GetList(path, &list) && list->Get(0, &first) && first->GetAsDictionary(&entry))
    return entry;
  return nullptr;
}

// A write that would delete a dictionary a live view writes into is refused; the view stays usable. Once the
// views are gone, the same writes go through.
TEST(StatsSenderTest, WritesNeverDeleteWhatLiveViewsWriteInto) {
  StatsSender sender(nullptr);
  InstallerStats* stats = sender.stats();
  auto fetch = stats->AppendDictionary("fetches");
  auto chunk = std::make_unique<InstallerStats>(*fetch->AppendDictionary("download_chunks"));  // a copy counts
  stats->AppendDictionary("nested.list");
  auto nested = stats->AppendDictionary("nested.list");

  struct Write {
    const char* name;
    void (*write)(InstallerStats* stats);
  } const writes[] = {
      {"Increment on the list", [](InstallerStats* s) { s->Increment("fetches"); }},
      {"SetString on the list", [](InstallerStats* s) { s->SetString("fetches", "x"); }},
      {"SetInteger through the list", [](InstallerStats* s) { s->SetInteger("fetches.count", 1); }},
      {"RecordTime through the list", [](InstallerStats* s) { s->RecordTime("fetches"); }},
      {"AppendDictionary through the list", [](InstallerStats* s) { s->AppendDictionary("fetches.more"); }},
      {"SetString over the list's parent", [](InstallerStats* s) { s->SetString("nested", "x"); }},
      {"AppendDictionary over the list's parent", [](InstallerStats* s) { s->AppendDictionary("nested"); }},
  };
  for (const Write& w : writes) {
    const std::unique_ptr<base::DictionaryValue> before = Snapshot(&sender);
    w.write(stats);
    EXPECT_TRUE(Snapshot(&sender)->Equals(before.get())) << w.name;
  }
  // A fetch replacing its own chunk list is refused too, and a refused AppendDictionary writes nowhere.
  const std::unique_ptr<base::DictionaryValue> before = Snapshot(&sender);
  fetch->Increment("download_chunks");
  stats->AppendDictionary("fetches.more")->SetString("lost", "x");
  EXPECT_TRUE(Snapshot(&sender)->Equals(before.get()));

  // The views still write where they did.
  chunk->SetString("ip", "203.0.113.9");
  nested->Increment("still_writable");
  std::unique_ptr<base::DictionaryValue> root = Snapshot(&sender);
  const base::DictionaryValue* fetch_entry = FirstEntry(*root, "fetches");
  const base::DictionaryValue* chunk_entry = fetch_entry ? FirstEntry(*fetch_entry, "download_chunks") : nullptr;
  std::string address;
  ASSERT_TRUE(chunk_entry);
  EXPECT_TRUE(chunk_entry->GetString("ip", &address));
  EXPECT_EQ("203.0.113.9", address);

  // Once the views are gone (a copy assigned over counts as gone too), the same writes replace as usual.
  InstallerStats assigned = *chunk;
  chunk.reset();
  fetch.reset();
  nested.reset();
  assigned = *stats;
  stats->Increment("fetches");
  stats->SetString("nested", "x");
  root = Snapshot(&sender);
  int count = 0;
  std::string text;
  EXPECT_TRUE(root->GetInteger("fetches", &count));
  EXPECT_EQ(1, count);
  EXPECT_TRUE(root->GetString("nested", &text));
  EXPECT_EQ("x", text);
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
        fetch_.Increment("chunk_count");
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
  writers.clear();
  shared_fetch.reset();

  std::unique_ptr<base::DictionaryValue> root = Snapshot(&sender);
  int total = 0;
  EXPECT_TRUE(root->GetInteger("counts.total", &total));
  EXPECT_EQ(kThreads * kCalls, total);
  const base::ListValue* events = nullptr;
  ASSERT_TRUE(root->GetList("events", &events));
  EXPECT_EQ(static_cast<size_t>(kThreads * kCalls), events->GetSize());
  sender.SummarizeDownloads();
  int chunks = 0;
  EXPECT_TRUE(Snapshot(&sender)->GetInteger("wininet_retries", &chunks));
  EXPECT_EQ(kThreads * kCalls, chunks);
  const base::DictionaryValue* fetch_dictionary = FirstEntry(*root, "fetches");
  ASSERT_TRUE(fetch_dictionary);
  int chunk_count = 0;
  EXPECT_TRUE(fetch_dictionary->GetInteger("chunk_count", &chunk_count));
  EXPECT_EQ(kThreads * kCalls, chunk_count);
  const base::ListValue* chunk_list = nullptr;
  ASSERT_TRUE(fetch_dictionary->GetList("download_chunks", &chunk_list));
  int ones = 0;
  for (const auto& chunk : *chunk_list) {
    const base::DictionaryValue* chunk_dictionary = nullptr;
    int n = 0;
    ones += chunk->GetAsDictionary(&chunk_dictionary) && chunk_dictionary->GetInteger("n", &n) && n == 1;
  }
  EXPECT_EQ(kThreads * kCalls, ones);
}

}  // namespace
}  // namespace zorvi::installer
