#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/bind.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_test_util.h"
#include "base/values.h"
#include "testing/test_support.h"

namespace base {
namespace trace_event {
namespace {

// The flags and the bind id cannot be passed in each other's place, nor as bare integers.
static_assert(std::is_invocable_v<decltype(&AddTraceEventWithBindId), char, const unsigned char*, const char*,
                                  const char*, unsigned long long, TraceEventFlags, TraceBindId>);
static_assert(!std::is_invocable_v<decltype(&AddTraceEventWithBindId), char, const unsigned char*, const char*,
                                   const char*, unsigned long long, TraceBindId, TraceEventFlags>);
static_assert(!std::is_invocable_v<decltype(&AddTraceEventWithBindId), char, const unsigned char*, const char*,
                                   const char*, unsigned long long, unsigned int, unsigned long long>);

int CurrentThreadId() {
  return static_cast<int>(GetCurrentThreadId());
}

TraceEventHandle AddEvent(char phase, const unsigned char* category, const char* name,
                          TimeTicks timestamp = TimeTicks::Now(), unsigned int flags = 0) {
  return TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
      phase, category, name, nullptr, 0, 0, CurrentThreadId(), timestamp, 0, nullptr, nullptr, nullptr, nullptr,
      flags);
}

TraceEventHandle AddIntEvent(char phase, const unsigned char* category, const char* name, const char* arg_name,
                             long long value) {
  const char* names[] = {arg_name};
  const unsigned char types[] = {kTraceValueTypeInt};
  const unsigned long long values[] = {static_cast<unsigned long long>(value)};
  return TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
      phase, category, name, nullptr, 0, 0, CurrentThreadId(), TimeTicks::Now(), 1, names, types, values, nullptr,
      0);
}

std::vector<RecordedEvent> EventsNamed(const std::vector<RecordedEvent>& events, const std::string& name) {
  std::vector<RecordedEvent> named;
  for (const RecordedEvent& event : events) {
    if (event.name == name)
      named.push_back(event);
  }
  return named;
}

class CountingObserver : public TraceLog::EnabledStateObserver {
 public:
  void OnTraceLogEnabled() override { ++enabled; }
  void OnTraceLogDisabled() override { ++disabled; }
  int enabled = 0;
  int disabled = 0;
};

// ---- Category registry ----

TEST(TraceLogRegistryTest, RegistrationReturnsStablePointersUntilTheTableIsFull) {
  TraceLog::GetInstance();
  ASSERT_EQ(4u, TraceLog::GetCategoryGroupCountForTesting());
  const unsigned char* toplevel = TraceLog::GetCategoryGroupEnabled("toplevel");
  EXPECT_STREQ("toplevel", TraceLog::GetCategoryGroupName(toplevel));
  EXPECT_STREQ("__metadata", TraceLog::GetCategoryGroupName(toplevel + 3));

  char name[32] = "trace-test-first";
  const unsigned char* first = TraceLog::GetCategoryGroupEnabled(name);
  EXPECT_EQ(toplevel + 4, first);  // the first registration takes index 4
  strcpy(name, "overwritten");     // the registry keeps its own copy
  EXPECT_STREQ("trace-test-first", TraceLog::GetCategoryGroupName(first));
  EXPECT_EQ(first, TraceLog::GetCategoryGroupEnabled("trace-test-first"));

  // 101 new names fill indices 4 to 104; the 102nd gets the "exhausted" byte and registers nothing.
  for (int i = 1; i < 101; ++i) {
    const std::string group = StringPrintf("trace-test-%d", i);
    EXPECT_EQ(toplevel + 4 + i, TraceLog::GetCategoryGroupEnabled(group.c_str()));
  }
  EXPECT_EQ(TraceLog::kMaxCategoryGroups, TraceLog::GetCategoryGroupCountForTesting());
  const unsigned char* exhausted = TraceLog::GetCategoryGroupEnabled("trace-test-one-too-many");
  EXPECT_EQ(toplevel + 2, exhausted);
  EXPECT_STREQ("tracing categories exhausted; must increase MAX_CATEGORY_GROUPS",
               TraceLog::GetCategoryGroupName(exhausted));
  EXPECT_EQ(TraceLog::kMaxCategoryGroups, TraceLog::GetCategoryGroupCountForTesting());
  // Earlier names are still found.
  EXPECT_EQ(first, TraceLog::GetCategoryGroupEnabled("trace-test-first"));

  // The sentinel bytes stay 0 even while recording.
  EnableRecordingForTesting();
  EXPECT_EQ(0, LoadCategoryFlags(exhausted));
  EXPECT_EQ(0, LoadCategoryFlags(toplevel + 1));
  EXPECT_EQ(kCategoryEnabledForRecording, LoadCategoryFlags(first));
  EXPECT_EQ(0u, AddEvent('I', exhausted, "lost").chunk_seq);
}

TEST(TraceLogRegistryTest, ConcurrentRegistrationAgreesOnEveryPointer) {
  constexpr int kThreads = 4;
  constexpr int kNames = 40;
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, start);
  std::vector<std::vector<const unsigned char*>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, start, &results] {
      WaitForSingleObject(start, INFINITE);
      for (int i = 0; i < kNames; ++i) {
        // Each thread walks the names in its own order.
        const int n = (i * (t + 1) * 7) % kNames;
        const std::string group = StringPrintf("race-%d", n);
        results[t].push_back(TraceLog::GetCategoryGroupEnabled(group.c_str()));
      }
    });
  }
  SetEvent(start);
  for (std::thread& thread : threads)
    thread.join();
  CloseHandle(start);
  EXPECT_EQ(4u + kNames, TraceLog::GetCategoryGroupCountForTesting());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kNames; ++i) {
      const int n = (i * (t + 1) * 7) % kNames;
      EXPECT_STREQ(StringPrintf("race-%d", n).c_str(), TraceLog::GetCategoryGroupName(results[t][i]));
      EXPECT_EQ(TraceLog::GetCategoryGroupEnabled(StringPrintf("race-%d", n).c_str()), results[t][i]);
    }
  }
}

TEST(TraceLogRegistryTest, FlagBytesFollowTheModeAndTheFilter) {
  const unsigned char* toplevel = TraceLog::GetCategoryGroupEnabled("toplevel");
  const unsigned char* flow = TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow");
  const unsigned char* base_category = TraceLog::GetCategoryGroupEnabled("base");
  for (const unsigned char* flag : {toplevel, flow, base_category})
    EXPECT_EQ(0, LoadCategoryFlags(flag));
  EXPECT_FALSE(TraceLog::GetInstance()->IsEnabled());
  EXPECT_EQ(0u, AddEvent('I', toplevel, "off").chunk_seq);

  TraceCategoryFilter filter;
  filter.AddDisabledByDefaultCategory("disabled-by-default-toplevel.flow");
  TraceLog::GetInstance()->SetEnabledForTesting(filter, kTraceRecordUntilFull);
  EXPECT_TRUE(TraceLog::GetInstance()->IsEnabled());
  EXPECT_EQ(kCategoryEnabledForRecording, LoadCategoryFlags(toplevel));
  EXPECT_EQ(kCategoryEnabledForRecording, LoadCategoryFlags(flow));
  // Registered while recording: computed at once.
  EXPECT_EQ(kCategoryEnabledForRecording, LoadCategoryFlags(TraceLog::GetCategoryGroupEnabled("late")));
  EXPECT_EQ(0, LoadCategoryFlags(TraceLog::GetCategoryGroupEnabled("disabled-by-default-late")));
  EXPECT_EQ(0, LoadCategoryFlags(TraceLog::GetCategoryGroupEnabled("LateTest")));
  EXPECT_TRUE(TraceLog::GetInstance()->GetCurrentTraceConfig().IsCategoryGroupEnabled(
      "disabled-by-default-toplevel.flow"));

  TraceLog::GetInstance()->SetDisabled();
  for (const unsigned char* flag : {toplevel, flow, base_category})
    EXPECT_EQ(0, LoadCategoryFlags(flag));
  // The configuration was cleared.
  EXPECT_FALSE(TraceLog::GetInstance()->GetCurrentTraceConfig().IsCategoryGroupEnabled(
      "disabled-by-default-toplevel.flow"));
}

// ---- Adding events ----

TEST(TraceLogTest, IdsAreMangledWithTheProcessHash) {
  TraceLog* log = TraceLog::GetInstance();
  // The hash: FNV-1a's offset basis and prime over the process id.
  const unsigned long long hash =
      (static_cast<unsigned long long>(GetCurrentProcessId()) ^ 0xCBF29CE484222325ull) * 0x100000001B3ull;
  EXPECT_EQ(hash, log->MangleEventId(0));
  EXPECT_EQ(hash ^ 0x1234, log->MangleEventId(0x1234));

  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const int tid = CurrentThreadId();
  const TimeTicks now = TimeTicks::Now();
  log->AddTraceEventWithThreadIdAndTimestamp('I', category, "plain", nullptr, 11, 22, tid, now, 0, nullptr, nullptr,
                                             nullptr, nullptr, 0);
  log->AddTraceEventWithThreadIdAndTimestamp('I', category, "mangled", nullptr, 11, 22, tid, now, 0, nullptr,
                                             nullptr, nullptr, nullptr, kTraceEventFlagMangleId);
  log->AddTraceEventWithThreadIdAndTimestamp('I', category, "flow-in", nullptr, 11, 22, tid, now, 0, nullptr,
                                             nullptr, nullptr, nullptr, 0x104);
  log->AddTraceEventWithThreadIdAndTimestamp('I', category, "flow-out", nullptr, 11, 22, tid, now, 0, nullptr,
                                             nullptr, nullptr, nullptr, 0x204);
  log->AddTraceEventWithThreadIdAndTimestamp('I', category, "flow-unmangled", nullptr, 11, 22, tid, now, 0,
                                             nullptr, nullptr, nullptr, nullptr, 0x200);
  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  struct Expected {
    const char* name;
    unsigned long long id;
    unsigned long long bind_id;
    unsigned int flags;
  } expected[] = {{"plain", 11, 22, 0},
                  {"mangled", 11 ^ hash, 22, 4},
                  {"flow-in", 11 ^ hash, 22 ^ hash, 0x104},
                  {"flow-out", 11 ^ hash, 22 ^ hash, 0x204},
                  {"flow-unmangled", 11, 22, 0x200}};
  for (const Expected& e : expected) {
    const std::vector<RecordedEvent> named = EventsNamed(events, e.name);
    ASSERT_EQ(1u, named.size()) << e.name;
    EXPECT_EQ(e.id, named[0].id) << e.name;
    EXPECT_EQ(e.bind_id, named[0].bind_id) << e.name;
    EXPECT_EQ(e.flags, named[0].flags) << e.name;
  }
}

TEST(TraceLogTest, AddTraceEventWithBindIdKnownPair) {
  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  // A task-queue id: (sequence number << 32) | the low 32 bits of the queue's address.
  const unsigned long long id = (7ull << 32) | 0xDEADBEEFull;
  const unsigned long long bind_id = (9ull << 32) | 0x00C0FFEEull;
  const TimeTicks before = TimeTicks::Now();
  const TraceEventHandle handle = AddTraceEventWithBindId('X', category, "MessageLoop::PostTask", nullptr, id,
                                                          TraceEventFlags(0x204), TraceBindId(bind_id));
  const TimeTicks after = TimeTicks::Now();
  EXPECT_NE(0u, handle.chunk_seq);
  const std::vector<RecordedEvent> events = EventsNamed(TakeRecordedEvents(), "MessageLoop::PostTask");
  ASSERT_EQ(1u, events.size());
  const RecordedEvent& event = events[0];
  const unsigned long long hash = TraceLog::GetInstance()->MangleEventId(0);
  EXPECT_EQ('X', event.phase);
  EXPECT_EQ(0x204u, event.flags);
  EXPECT_EQ(id ^ hash, event.id);
  EXPECT_EQ(bind_id ^ hash, event.bind_id);
  EXPECT_EQ(CurrentThreadId(), event.thread_id);
  EXPECT_TRUE(event.arg_names.empty());
  EXPECT_LE(before.ToInternalValue(), event.timestamp_us);
  EXPECT_GE(after.ToInternalValue(), event.timestamp_us);
  EXPECT_EQ("toplevel", event.category);
}

TEST(TraceLogTest, CompleteEventsAreClosedThroughTheirHandles) {
  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  TraceLog* log = TraceLog::GetInstance();
  const TimeTicks five_ms_ago = TimeTicks::Now() - TimeDelta::FromMicroseconds(5000);
  const TraceEventHandle closed = AddEvent('X', category, "closed", five_ms_ago);
  const TraceEventHandle open = AddEvent('X', category, "open", five_ms_ago);
  ASSERT_NE(0u, closed.chunk_seq);
  EXPECT_EQ(closed.chunk_seq, open.chunk_seq);
  EXPECT_EQ(closed.event_index + 1, open.event_index);
  log->UpdateTraceEventDuration(category, "closed", closed);
  const TimeTicks end = TimeTicks::Now();
  // Handles that resolve to nothing change nothing.
  log->UpdateTraceEventDuration(category, "none", TraceEventHandle());
  TraceEventHandle wrong_seq = open;
  wrong_seq.chunk_seq += 1;
  log->UpdateTraceEventDuration(category, "open", wrong_seq);
  TraceEventHandle wrong_chunk = open;
  wrong_chunk.chunk_index += 5;
  log->UpdateTraceEventDuration(category, "open", wrong_chunk);

  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  const std::vector<RecordedEvent> closed_events = EventsNamed(events, "closed");
  ASSERT_EQ(1u, closed_events.size());
  EXPECT_GE(closed_events[0].duration_us, 5000);
  EXPECT_LE(closed_events[0].duration_us, (end - five_ms_ago).InMicroseconds());
  const std::vector<RecordedEvent> open_events = EventsNamed(events, "open");
  ASSERT_EQ(1u, open_events.size());
  EXPECT_EQ(-1, open_events[0].duration_us);

  // After the buffer moved on, the old handle no longer resolves.
  EnableRecordingForTesting();
  const TraceEventHandle fresh = AddEvent('X', category, "fresh", five_ms_ago);
  log->UpdateTraceEventDuration(category, "closed", closed);
  const std::vector<RecordedEvent> later = TakeRecordedEvents();
  ASSERT_EQ(1u, EventsNamed(later, "fresh").size());
  EXPECT_EQ(-1, EventsNamed(later, "fresh")[0].duration_us);
  EXPECT_NE(0u, fresh.chunk_seq);
}

TEST(TraceLogTest, FullSharedChunkIsReturnedBeforeTheNextEvent) {
  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const TimeTicks start = TimeTicks::Now() - TimeDelta::FromMicroseconds(1000);
  std::vector<TraceEventHandle> handles;
  for (int i = 0; i < 65; ++i)
    handles.push_back(AddEvent('X', category, "e", start));
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(handles[0].chunk_index, handles[i].chunk_index);
    EXPECT_EQ(static_cast<uint32_t>(i), handles[i].event_index);
  }
  EXPECT_NE(handles[0].chunk_index, handles[64].chunk_index);
  EXPECT_NE(handles[0].chunk_seq, handles[64].chunk_seq);
  EXPECT_EQ(0u, handles[64].event_index);
  // The returned chunk's events are still found through the buffer.
  TraceLog::GetInstance()->UpdateTraceEventDuration(category, "e", handles[10]);
  TraceLog::GetInstance()->UpdateTraceEventDuration(category, "e", handles[64]);
  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  ASSERT_EQ(65u, events.size());
  for (int i = 0; i < 65; ++i)
    EXPECT_EQ(i == 10 || i == 64, events[i].duration_us >= 1000) << i;
}

TEST(TraceLogTest, BufferFullDisablesOnceAndStillWritesTheEvent) {
  CountingObserver observer;
  TraceLog* log = TraceLog::GetInstance();
  log->AddEnabledStateObserver(&observer);
  EnableRecordingForTesting();
  EXPECT_EQ(1, observer.enabled);
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  size_t added = 0;
  while (log->IsEnabled()) {
    ASSERT_NE(0u, AddEvent('I', category, "fill").chunk_seq);
    ++added;
  }
  // The vector holds 4000 chunks; the event that took the 4000th chunk was still written.
  EXPECT_EQ(3999u * 64 + 1, added);
  EXPECT_EQ(1, observer.disabled);
  EXPECT_EQ(0, LoadCategoryFlags(category));
  EXPECT_EQ(0u, AddEvent('I', category, "after").chunk_seq);
  log->SetDisabled();  // already off: observers are not told again
  EXPECT_EQ(1, observer.disabled);

  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  EXPECT_EQ(added, EventsNamed(events, "fill").size());
  EXPECT_TRUE(EventsNamed(events, "after").empty());
  const std::vector<RecordedEvent> overflow = EventsNamed(events, "trace_buffer_overflowed");
  ASSERT_EQ(1u, overflow.size());
  EXPECT_EQ('M', overflow[0].phase);
  EXPECT_EQ("__metadata", overflow[0].category);
  ASSERT_EQ(1u, overflow[0].arg_names.size());
  EXPECT_EQ("overflowed_at_ts", overflow[0].arg_names[0]);
  EXPECT_LT(0, std::stoll(overflow[0].arg_values_json[0]));
  log->RemoveEnabledStateObserver(&observer);
}

TEST(TraceLogTest, ObserverThatDisablesAgainIsIgnored) {
  class Reentrant : public TraceLog::EnabledStateObserver {
   public:
    void OnTraceLogEnabled() override {}
    void OnTraceLogDisabled() override {
      ++calls;
      TraceLog::GetInstance()->SetDisabled();
    }
    int calls = 0;
  } observer;
  TraceLog* log = TraceLog::GetInstance();
  log->AddEnabledStateObserver(&observer);
  EnableRecordingForTesting();
  log->SetDisabled();
  EXPECT_EQ(1, observer.calls);
  log->RemoveEnabledStateObserver(&observer);
  EnableRecordingForTesting();
  log->SetDisabled();
  EXPECT_EQ(1, observer.calls);
}

TEST(TraceLogTest, MetadataIsWrittenWhenRecordingStops) {
  TraceLog* log = TraceLog::GetInstance();
  EnableRecordingForTesting();
  log->SetProcessName("installer \"main\"");
  log->SetProcessSortIndex(-3);
  log->UpdateProcessLabel(1, "first");
  log->UpdateProcessLabel(2, "gone");
  log->UpdateProcessLabel(2, "");
  log->SetThreadSortIndex(4242, 7);
  log->SetThreadSortIndex(4343, 0);  // zero is not written
  const char* names[] = {"custom_arg"};
  const unsigned char types[] = {kTraceValueTypeInt};
  const unsigned long long values[] = {5};
  log->AddMetadataEvent(TraceLog::GetCategoryGroupEnabled("__metadata"), "first_pending", 1, names, types, values,
                        nullptr, 0);
  log->AddMetadataEvent(TraceLog::GetCategoryGroupEnabled("__metadata"), "second_pending", 0, nullptr, nullptr,
                        nullptr, nullptr, 0);
  log->SetDisabled();
  const std::vector<RecordedEvent> events = TakeRecordedEvents();

  std::vector<std::string> metadata_names;
  for (const RecordedEvent& event : events) {
    EXPECT_EQ('M', event.phase);
    metadata_names.push_back(event.name);
  }
  // Pending records first (last added first), then the log's own, in this order.
  EXPECT_EQ(std::vector<std::string>({"second_pending", "first_pending", "num_cpus", "process_sort_index",
                                      "process_name", "process_labels", "thread_sort_index"}),
            metadata_names);
  EXPECT_EQ("5", EventsNamed(events, "first_pending")[0].arg_values_json[0]);
  const RecordedEvent cpus = EventsNamed(events, "num_cpus")[0];
  EXPECT_EQ(0, cpus.thread_id);
  SYSTEM_INFO system_info;
  GetSystemInfo(&system_info);  // the system's count, which an affinity mask does not narrow
  EXPECT_EQ(std::to_string(system_info.dwNumberOfProcessors), cpus.arg_values_json[0]);
  EXPECT_EQ(0, cpus.timestamp_us);
  EXPECT_EQ("-3", EventsNamed(events, "process_sort_index")[0].arg_values_json[0]);
  EXPECT_EQ(CurrentThreadId(), EventsNamed(events, "process_name")[0].thread_id);
  EXPECT_EQ("\"installer \\\"main\\\"\"", EventsNamed(events, "process_name")[0].arg_values_json[0]);
  EXPECT_EQ("\"first\"", EventsNamed(events, "process_labels")[0].arg_values_json[0]);
  EXPECT_EQ(4242, EventsNamed(events, "thread_sort_index")[0].thread_id);
  EXPECT_EQ("7", EventsNamed(events, "thread_sort_index")[0].arg_values_json[0]);

  // Pending metadata was consumed: a second stop writes only the log's own records.
  EnableRecordingForTesting();
  log->SetDisabled();
  EXPECT_TRUE(EventsNamed(TakeRecordedEvents(), "first_pending").empty());
}

TEST(TraceLogTest, ThreadNamesAccumulate) {
  InstallFakeThreadingHooks();
  TraceLog* log = TraceLog::GetInstance();
  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  static const char kNameA[] = "Worker A";
  static const char kNameB[] = "Worker B";
  static const char kNameAAgain[] = "Worker A";  // same text, another pointer
  SetFakeThreadName(kNameA);
  AddEvent('I', category, "1");
  SetFakeThreadName(kNameB);
  AddEvent('I', category, "2");
  SetFakeThreadName(kNameAAgain);
  AddEvent('I', category, "3");
  SetFakeThreadName("");
  AddEvent('I', category, "4");
  // An event stamped with another thread's id does not name this thread.
  SetFakeThreadName("Elsewhere");
  log->AddTraceEventWithThreadIdAndTimestamp('I', category, "other", nullptr, 0, 0, CurrentThreadId() + 1,
                                             TimeTicks::Now(), 0, nullptr, nullptr, nullptr, nullptr, 0);
  log->SetDisabled();
  const std::vector<RecordedEvent> names = EventsNamed(TakeRecordedEvents(), "thread_name");
  ASSERT_EQ(1u, names.size());
  EXPECT_EQ(CurrentThreadId(), names[0].thread_id);
  EXPECT_EQ("\"Worker A,Worker B\"", names[0].arg_values_json[0]);
  SetFakeThreadName(nullptr);
  RemoveFakeThreadingHooks();
}

struct LoopThreadResult {
  TraceEventHandle first;
  TraceEventHandle second;
  size_t providers_while_running = 0;
  size_t observers_while_running = 0;
};

TEST(TraceLogTest, ThreadsWithAMessageLoopFillTheirOwnChunk) {
  InstallFakeThreadingHooks();
  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  MemoryDumpManager* manager = MemoryDumpManager::GetInstance();
  const size_t providers_before = manager->GetProviderCountForTesting();
  const TraceEventHandle shared = AddEvent('I', category, "shared");  // this thread has no loop

  LoopThreadResult result;
  std::thread worker([&] {
    FakeMessageLoop loop;
    const TimeTicks start = TimeTicks::Now() - TimeDelta::FromMicroseconds(2000);
    result.first = AddEvent('X', category, "own-1", start);
    result.second = AddEvent('X', category, "own-2", start);
    TraceLog::GetInstance()->UpdateTraceEventDuration(category, "own-1", result.first);
    result.providers_while_running = MemoryDumpManager::GetInstance()->GetProviderCountForTesting();
    result.observers_while_running = loop.destruction_observer_count();
  });  // the loop goes away at the end of the thread and hands the chunk back
  worker.join();

  EXPECT_EQ(providers_before + 1, result.providers_while_running);
  EXPECT_EQ(1u, result.observers_while_running);
  EXPECT_EQ(providers_before, manager->GetProviderCountForTesting());
  EXPECT_EQ(result.first.chunk_index, result.second.chunk_index);
  EXPECT_NE(shared.chunk_index, result.first.chunk_index);
  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  ASSERT_EQ(1u, EventsNamed(events, "own-1").size());
  ASSERT_EQ(1u, EventsNamed(events, "own-2").size());
  EXPECT_GE(EventsNamed(events, "own-1")[0].duration_us, 2000);
  EXPECT_EQ(-1, EventsNamed(events, "own-2")[0].duration_us);
  EXPECT_NE(CurrentThreadId(), EventsNamed(events, "own-1")[0].thread_id);
  RemoveFakeThreadingHooks();
}

TEST(TraceLogTest, ThreadBufferOfAnOldBufferGenerationIsReplaced) {
  InstallFakeThreadingHooks();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  EnableRecordingForTesting();
  {
    FakeMessageLoop loop;
    AddEvent('I', category, "old-generation");
    EXPECT_EQ(1u, loop.destruction_observer_count());
    EnableRecordingForTesting();  // a new buffer: the thread's chunk belongs to the old one
    AddEvent('I', category, "new-generation");
    EXPECT_EQ(1u, loop.destruction_observer_count());  // the old buffer went, a new one watches the loop
  }
  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  EXPECT_TRUE(EventsNamed(events, "old-generation").empty());
  EXPECT_EQ(1u, EventsNamed(events, "new-generation").size());
  RemoveFakeThreadingHooks();
}

// ---- Console echo, callbacks, watch, re-entrancy ----

std::vector<std::string>* g_log_lines = nullptr;

bool CaptureLogLine(int severity, const char*, int, size_t message_start, const std::string& text) {
  if (g_log_lines && severity == logging::LOG_ERROR) {
    std::string line = text.substr(message_start);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    g_log_lines->push_back(line);
  }
  return true;
}

TEST(TraceLogTest, ConsoleEchoIndentsNestedEventsAndShowsDurations) {
  InstallFakeThreadingHooks();
  static const char kThreadName[] = "Echo";
  SetFakeThreadName(kThreadName);
  std::vector<std::string> lines;
  g_log_lines = &lines;
  logging::SetLogMessageHandler(&CaptureLogLine);
  EnableRecordingForTesting(kTraceEchoToConsole);
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  AddEvent('B', category, "Outer");
  const TraceEventHandle inner = AddIntEvent('X', category, "Inner", "n", 3);
  TraceLog::GetInstance()->UpdateTraceEventDuration(category, "Inner", inner);
  AddEvent('E', category, "Outer");
  logging::SetLogMessageHandler(nullptr);
  g_log_lines = nullptr;

  ASSERT_EQ(4u, lines.size());
  // The first thread name seen gets colour 1; each open scope indents by "| ".
  EXPECT_EQ("Echo: \x1b[0;31mOuter[toplevel]\x1b[0;m", lines[0]);
  EXPECT_EQ("Echo: \x1b[0;31m| Inner[toplevel], {n:3}\x1b[0;m", lines[1]);
  const std::regex inner_end("Echo: \x1b\\[0;31m\\| Inner\\[toplevel\\], \\{n:3\\} \\([0-9]+\\.[0-9]{3} ms\\)\x1b\\[0;m");
  EXPECT_TRUE(std::regex_match(lines[2], inner_end)) << lines[2];
  const std::regex outer_end("Echo: \x1b\\[0;31mOuter\\[toplevel\\] \\([0-9]+\\.[0-9]{3} ms\\)\x1b\\[0;m");
  EXPECT_TRUE(std::regex_match(lines[3], outer_end)) << lines[3];
  // Echo uses the small ring buffer: it never reports full.
  EXPECT_TRUE(TraceLog::GetInstance()->IsEnabled());
  SetFakeThreadName(nullptr);
  RemoveFakeThreadingHooks();
}

struct CallbackRecord {
  char phase;
  std::string name;
  int num_args;
  unsigned long long id;
};
std::vector<CallbackRecord>* g_callback_records = nullptr;
std::atomic<int> g_nested_handles_nonzero{0};

void RecordingCallback(TimeTicks, char phase, const unsigned char* category, const char* name, const char*,
                       unsigned long long id, int num_args, const char* const[], const unsigned char[],
                       const unsigned long long[], unsigned int) {
  g_callback_records->push_back({phase, name, num_args, id});
  // A callback that traces does not reach the log again.
  if (AddEvent('I', category, "from-callback").chunk_seq != 0)
    ++g_nested_handles_nonzero;
}

TEST(TraceLogTest, EventCallbackSeesCompleteEventsAsBeginAndEnd) {
  std::vector<CallbackRecord> records;
  g_callback_records = &records;
  TraceLog* log = TraceLog::GetInstance();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const unsigned char* other = TraceLog::GetCategoryGroupEnabled("callback-other");
  TraceCategoryFilter callback_filter;
  callback_filter.AddIncludedCategory("toplevel");
  log->SetEventCallbackEnabledForTesting(callback_filter, &RecordingCallback);
  EnableRecordingForTesting();
  EXPECT_EQ(kCategoryEnabledForRecording | kCategoryEnabledForEventCallback, LoadCategoryFlags(category));
  EXPECT_EQ(kCategoryEnabledForRecording, LoadCategoryFlags(other));

  const TraceEventHandle handle = AddIntEvent('X', category, "Task", "n", 1);
  log->UpdateTraceEventDuration(category, "Task", handle);
  AddEvent('I', other, "not-for-callback");
  log->SetEventCallbackDisabledForTesting();
  AddEvent('I', category, "after-callback");
  g_callback_records = nullptr;

  ASSERT_EQ(2u, records.size());
  EXPECT_EQ('B', records[0].phase);
  EXPECT_EQ("Task", records[0].name);
  EXPECT_EQ(1, records[0].num_args);
  EXPECT_EQ('E', records[1].phase);
  EXPECT_EQ(0, records[1].num_args);
  EXPECT_EQ(0, g_nested_handles_nonzero.load());
  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  EXPECT_TRUE(EventsNamed(events, "from-callback").empty());
  EXPECT_EQ(1u, EventsNamed(events, "Task").size());
  EXPECT_EQ(1u, EventsNamed(events, "after-callback").size());
}

void Increment(int* count) {
  ++*count;
}

TEST(TraceLogTest, WatchedEventRunsItsClosure) {
  int count = 0;
  TraceLog* log = TraceLog::GetInstance();
  EnableRecordingForTesting();
  log->SetWatchEventForTesting("toplevel", "Watched", Bind(&Increment, &count));
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  AddEvent('I', category, "Other");
  AddEvent('I', TraceLog::GetCategoryGroupEnabled("base"), "Watched");
  EXPECT_EQ(0, count);
  AddEvent('I', category, "Watched");
  AddEvent('B', category, "Watched");
  EXPECT_EQ(2, count);
  log->SetDisabled();  // clears the watch
  EnableRecordingForTesting();
  AddEvent('I', category, "Watched");
  EXPECT_EQ(2, count);
}

// ---- Heap-profiler context ----

TEST(TraceLogTest, PseudoStackFollowsBeginEndAndCompleteEvents) {
  AllocationContextTracker::SetCaptureEnabled(true);
  AllocationContextTracker* tracker = AllocationContextTracker::GetInstanceForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  TraceLog* log = TraceLog::GetInstance();
  EnableRecordingForTesting();
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  static const char kOuter[] = "Outer";
  static const char kTask[] = "Task";
  AddEvent('B', category, kOuter);
  const TraceEventHandle task = AddEvent('X', category, kTask);
  ASSERT_EQ(2u, tracker->pseudo_stack().size());
  EXPECT_EQ(kOuter, tracker->pseudo_stack()[0]);
  EXPECT_EQ(kTask, tracker->pseudo_stack()[1]);
  // Copied names are not pushed, and closing a copied complete event pops nothing.
  const TraceEventHandle copied = AddEvent('X', category, "copied", TimeTicks::Now(), kTraceEventFlagCopy);
  EXPECT_EQ(2u, tracker->pseudo_stack().size());
  log->UpdateTraceEventDuration(category, "copied", copied);
  EXPECT_EQ(2u, tracker->pseudo_stack().size());
  log->UpdateTraceEventDuration(category, kTask, task);
  ASSERT_EQ(1u, tracker->pseudo_stack().size());
  AddEvent('E', category, kOuter);
  EXPECT_TRUE(tracker->pseudo_stack().empty());
  AddEvent('I', category, "instant");
  EXPECT_TRUE(tracker->pseudo_stack().empty());
}

TEST(TraceLogTest, PseudoStackIsBalancedWhenOnlyTheCallbackListens) {
  AllocationContextTracker::SetCaptureEnabled(true);
  AllocationContextTracker* tracker = AllocationContextTracker::GetInstanceForCurrentThread();
  std::vector<CallbackRecord> records;
  g_callback_records = &records;
  TraceCategoryFilter callback_filter;
  TraceLog::GetInstance()->SetEventCallbackEnabledForTesting(callback_filter, &RecordingCallback);
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  ASSERT_EQ(kCategoryEnabledForEventCallback, LoadCategoryFlags(category));
  const TraceEventHandle handle = AddEvent('X', category, "Task");
  EXPECT_EQ(1u, tracker->pseudo_stack().size());
  TraceLog::GetInstance()->UpdateTraceEventDuration(category, "Task", handle);
  EXPECT_TRUE(tracker->pseudo_stack().empty());
  TraceLog::GetInstance()->SetEventCallbackDisabledForTesting();
  g_callback_records = nullptr;
}

// ---- Memory dump ----

TEST(TraceLogTest, MemoryDumpReportsTheLogUnderItsBaseName) {
  EnableRecordingForTesting();
  AddEvent('I', TraceLog::GetCategoryGroupEnabled("toplevel"), "counted");
  TraceLog::GetInstance()->AddMetadataEvent(TraceLog::GetCategoryGroupEnabled("__metadata"), "pending", 0, nullptr,
                                            nullptr, nullptr, nullptr, 0);
  ProcessMemoryDump pmd;
  EXPECT_TRUE(TraceLog::GetInstance()->OnMemoryDump(MemoryDumpArgs(), &pmd));
  MemoryAllocatorDump* log_dump = pmd.GetAllocatorDump("tracing/main_trace_log/TraceLog");
  ASSERT_NE(nullptr, log_dump);
  std::string size;
  ASSERT_TRUE(log_dump->attributes()->ToBaseValue()->GetString("size.value", &size));
  EXPECT_EQ("3d8", size);
  EXPECT_NE(nullptr, pmd.GetAllocatorDump("tracing/main_trace_log/TraceBufferVector"));
  EXPECT_NE(nullptr, pmd.GetAllocatorDump("tracing/main_trace_log/TraceEventMemoryOverhead"));
  // The pending metadata record is counted; the event in the shared chunk is out of the buffer.
  MemoryAllocatorDump* events_dump = pmd.GetAllocatorDump("tracing/main_trace_log/TraceEvent");
  ASSERT_NE(nullptr, events_dump);
  std::string count;
  ASSERT_TRUE(events_dump->attributes()->ToBaseValue()->GetString("object_count.value", &count));
  EXPECT_EQ("1", count);
}

// ---- Three threads ----

struct WorkerPlan {
  int instants;
  int nested_depth;
};

void RunWorker(const WorkerPlan& plan, HANDLE start) {
  WaitForSingleObject(start, INFINITE);
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const unsigned char* base_category = TraceLog::GetCategoryGroupEnabled("base");
  TraceLog* log = TraceLog::GetInstance();
  for (int depth = 0; depth < plan.nested_depth; ++depth)
    AddEvent('B', category, "Scope");
  for (int i = 0; i < plan.instants; ++i) {
    const TimeTicks started = TimeTicks::Now() - TimeDelta::FromMicroseconds(100 + i);
    const TraceEventHandle handle = AddEvent('X', base_category, "Work", started);
    AddIntEvent('I', category, "Instant", "index", i);
    log->UpdateTraceEventDuration(base_category, "Work", handle);
  }
  for (int depth = 0; depth < plan.nested_depth; ++depth)
    AddEvent('E', category, "Scope");
}

TEST(TraceLogTest, ThreeThreadsProduceAParsableTrace) {
  InstallFakeThreadingHooks();
  EnableRecordingForTesting();
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, start);
  const WorkerPlan plans[3] = {{50, 2}, {130, 1}, {70, 3}};  // more than one chunk on some threads
  static const char* const kNames[3] = {"worker-0", "worker-1", "worker-2"};
  std::vector<std::thread> threads;
  std::vector<int> thread_ids(3, 0);
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([t, start, &plans, &thread_ids] {
      thread_ids[t] = static_cast<int>(GetCurrentThreadId());
      SetFakeThreadName(kNames[t]);
      if (t == 1) {
        FakeMessageLoop loop;  // one thread with its own chunks, two on the shared chunk
        RunWorker(plans[t], start);
      } else {
        RunWorker(plans[t], start);
      }
    });
  }
  SetEvent(start);
  for (std::thread& thread : threads)
    thread.join();
  CloseHandle(start);
  TraceLog::GetInstance()->SetDisabled();
  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  const std::string json = RecordedEventsToJson(events);

  std::unique_ptr<Value> parsed = JsonReader::Read(json);
  ASSERT_TRUE(parsed);
  const ListValue* list = nullptr;
  ASSERT_TRUE(parsed->GetAsList(&list));
  ASSERT_EQ(events.size(), list->GetSize());
  for (int t = 0; t < 3; ++t) {
    std::string phases;
    int instants_seen = 0;
    int last_work_duration = -1;
    for (size_t i = 0; i < list->GetSize(); ++i) {
      const Value* node = nullptr;
      const DictionaryValue* event = nullptr;
      ASSERT_TRUE(list->Get(i, &node));
      ASSERT_TRUE(node->GetAsDictionary(&event));
      int tid = 0;
      std::string ph, name;
      ASSERT_TRUE(event->GetInteger("tid", &tid));
      ASSERT_TRUE(event->GetString("ph", &ph));
      ASSERT_TRUE(event->GetString("name", &name));
      if (ph == "M") {
        if (name == "thread_name" && tid == thread_ids[t]) {
          std::string thread_name;
          ASSERT_TRUE(event->GetString("args.name", &thread_name));
          EXPECT_EQ(kNames[t], thread_name);
        }
        continue;
      }
      if (tid != thread_ids[t])
        continue;
      phases += ph;
      if (ph == "I") {
        int index = -1;
        ASSERT_TRUE(event->GetInteger("args.index", &index));
        EXPECT_EQ(instants_seen++, index);  // per-thread order is kept
        EXPECT_EQ("Instant", name);
      } else if (ph == "X") {
        EXPECT_EQ("Work", name);
        ASSERT_TRUE(event->GetInteger("dur", &last_work_duration));
        EXPECT_GE(last_work_duration, 100);
        std::string category;
        ASSERT_TRUE(event->GetString("cat", &category));
        EXPECT_EQ("base", category);
      } else {
        EXPECT_EQ("Scope", name);
      }
    }
    std::string expected = std::string(plans[t].nested_depth, 'B');
    for (int i = 0; i < plans[t].instants; ++i)
      expected += "XI";
    expected += std::string(plans[t].nested_depth, 'E');
    EXPECT_EQ(expected, phases) << "thread " << t;
  }
  const std::wstring data_dir = test_support::TestDataDir();
  ASSERT_FALSE(data_dir.empty());
  ASSERT_TRUE(test_support::WriteFileBytes(data_dir + L"\\out\\three_threads_trace.json", json));
  SetFakeThreadName(nullptr);
  RemoveFakeThreadingHooks();
}

}  // namespace
}  // namespace trace_event
}  // namespace base
