#include "base/trace_event/memory_dump_manager.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/trace_event/trace_test_util.h"
#include "testing/test_support.h"

namespace base {
namespace trace_event {
namespace {

class CountingProvider : public MemoryDumpProvider {
 public:
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override { return true; }
  void OnHeapProfilingEnabled(bool enabled) override { heap_profiling_calls += enabled ? 1 : 100; }
  int heap_profiling_calls = 0;
};

SingleThreadTaskRunner* FakeTaskRunner(uintptr_t value) {
  return reinterpret_cast<SingleThreadTaskRunner*>(value);  // compared by address only, never used
}

TEST(MemoryDumpManagerTest, RegistrationsAreKeptOncePerProviderAndTaskRunner) {
  std::unique_ptr<MemoryDumpManager> manager = MemoryDumpManager::CreateForTesting();
  CountingProvider a, b;
  manager->RegisterDumpProvider(&a, "A", nullptr);
  manager->RegisterDumpProvider(&a, "A again", nullptr);
  EXPECT_EQ(1u, manager->GetProviderCountForTesting());
  manager->RegisterDumpProvider(&a, "A elsewhere", FakeTaskRunner(0x1000));
  manager->RegisterDumpProvider(&b, "B", nullptr);
  EXPECT_EQ(3u, manager->GetProviderCountForTesting());
  CountingProvider unknown;
  manager->UnregisterDumpProvider(&unknown);
  EXPECT_EQ(3u, manager->GetProviderCountForTesting());
  manager->UnregisterDumpProvider(&a);  // one record at a time
  EXPECT_EQ(2u, manager->GetProviderCountForTesting());
  manager->UnregisterDumpProvider(&a);
  manager->UnregisterDumpProvider(&b);
  EXPECT_EQ(0u, manager->GetProviderCountForTesting());
  EXPECT_EQ(0, a.heap_profiling_calls);  // heap profiling is off without the switch
  EXPECT_FALSE(manager->IsHeapProfilingEnabled());
}

TEST(MemoryDumpManagerTest, ProcessWideManagerHoldsTheTraceLog) {
  TraceLog::GetInstance();
  EXPECT_EQ(1u, MemoryDumpManager::GetInstance()->GetProviderCountForTesting());
  EXPECT_EQ(MemoryDumpManager::GetInstance(), MemoryDumpManager::GetInstance());
}

TEST(MemoryDumpManagerTest, OrderPutsRecordsWithoutTaskRunnerLast) {
  CountingProvider p1, p2;
  auto with_runner = MakeRefCounted<MemoryDumpProviderInfo>(&p1, "r", FakeTaskRunner(0x10));
  auto without_runner_1 = MakeRefCounted<MemoryDumpProviderInfo>(&p1, "n1", nullptr);
  auto without_runner_2 = MakeRefCounted<MemoryDumpProviderInfo>(&p2, "n2", nullptr);
  MemoryDumpProviderInfo::Comparator less;
  EXPECT_TRUE(less(with_runner, without_runner_1));
  EXPECT_FALSE(less(without_runner_1, with_runner));
  // Between equal task runners the higher provider address comes first.
  const bool p1_higher = &p1 > &p2;
  EXPECT_EQ(p1_higher, less(without_runner_1, without_runner_2));
  EXPECT_FALSE(less(without_runner_1, without_runner_1));
}

struct DumpResult {
  int calls = 0;
  uint64_t id = 99;
  bool success = true;
};

void RecordDump(DumpResult* result, uint64_t id, bool success) {
  ++result->calls;
  result->id = id;
  result->success = success;
}

TEST(MemoryDumpManagerTest, GlobalDumpWhileTracingIsOffFailsAtOnce) {
  DumpResult result;
  MemoryDumpManager::GetInstance()->RequestGlobalDump(kMemoryDumpTypePeriodicInterval, 0,
                                                      Bind(&RecordDump, &result));
  EXPECT_EQ(1, result.calls);
  EXPECT_EQ(0u, result.id);
  EXPECT_FALSE(result.success);
  MemoryDumpManager::GetInstance()->RequestGlobalDump(kMemoryDumpTypePeriodicInterval, 0, MemoryDumpCallback());
}

// Fake threading layer for the manager: records what it was asked to do.
struct FakeDumpThreading {
  int threads_started = 0;
  int threads_stopped = 0;
  int timers_started = 0;
  int timers_stopped = 0;
  uint32_t timer_period_ms = 0;
  void (*timer_task)() = nullptr;
  std::string timer_location;
  bool fail_thread_start = false;
} g_threading;
int g_fake_thread_object = 0;

const MemoryDumpManager::ThreadingHooks kFakeDumpHooks = {
    [](const char* name) -> void* {
      EXPECT_STREQ("MemoryInfra", name);
      if (g_threading.fail_thread_start)
        return nullptr;
      ++g_threading.threads_started;
      return &g_fake_thread_object;
    },
    [](void* thread) {
      EXPECT_EQ(&g_fake_thread_object, thread);
      ++g_threading.threads_stopped;
    },
    [](uint32_t period_ms, void (*task)(), const Location& location) {
      ++g_threading.timers_started;
      g_threading.timer_period_ms = period_ms;
      g_threading.timer_task = task;
      g_threading.timer_location = location.function_name();
    },
    [] { ++g_threading.timers_stopped; },
};

class RecordingDelegate : public MemoryDumpManagerDelegate {
 public:
  void RequestGlobalMemoryDump(const MemoryDumpRequestArgs& args, const MemoryDumpCallback& callback) override {
    requests.push_back(args);
    callback.Run(args.dump_guid, true);
  }
  std::vector<MemoryDumpRequestArgs> requests;
};

void EnableMemoryInfraTracing(const std::vector<MemoryDumpTrigger>& triggers) {
  TraceCategoryFilter filter;
  filter.AddDisabledByDefaultCategory(kMemoryInfraCategory);
  for (const MemoryDumpTrigger& trigger : triggers)
    filter.AddMemoryDumpTrigger(trigger);
  TraceLog::GetInstance()->SetEnabledForTesting(filter, kTraceRecordUntilFull);
}

TEST(MemoryDumpManagerTest, WithoutTheMemoryInfraCategoryTracingStartsNothing) {
  g_threading = FakeDumpThreading();
  MemoryDumpManager::SetThreadingHooks(&kFakeDumpHooks);
  MemoryDumpManager* manager = MemoryDumpManager::GetInstance();
  TraceLog::GetInstance()->AddEnabledStateObserver(manager);
  EnableRecordingForTesting();  // the default filter leaves disabled-by-default categories off
  EXPECT_EQ(0, g_threading.threads_started);
  EXPECT_FALSE(manager->IsMemoryTracingEnabled());
  EXPECT_EQ(nullptr, manager->tracing_state_for_testing());
  TraceLog::GetInstance()->SetDisabled();
  EXPECT_EQ(0, g_threading.threads_stopped);
  TraceLog::GetInstance()->RemoveEnabledStateObserver(manager);
  MemoryDumpManager::SetThreadingHooks(nullptr);
}

std::vector<std::string>* g_errors = nullptr;
bool CaptureErrors(int severity, const char*, int, size_t message_start, const std::string& text) {
  if (g_errors && severity == logging::LOG_ERROR)
    g_errors->push_back(text.substr(message_start));
  return true;
}

TEST(MemoryDumpManagerTest, ThreadThatCannotStartLeavesTheManagerIdle) {
  g_threading = FakeDumpThreading();
  g_threading.fail_thread_start = true;
  MemoryDumpManager::SetThreadingHooks(&kFakeDumpHooks);
  std::vector<std::string> errors;
  g_errors = &errors;
  logging::SetLogMessageHandler(&CaptureErrors);
  EnableMemoryInfraTracing({});
  MemoryDumpManager::GetInstance()->OnTraceLogEnabled();
  logging::SetLogMessageHandler(nullptr);
  g_errors = nullptr;
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].find("Failed to start the memory-infra thread for tracing"));
  EXPECT_FALSE(MemoryDumpManager::GetInstance()->IsMemoryTracingEnabled());
  MemoryDumpManager::SetThreadingHooks(nullptr);
}

TEST(MemoryDumpManagerTest, PeriodicDumpsFollowTheTriggers) {
  g_threading = FakeDumpThreading();
  MemoryDumpManager::SetThreadingHooks(&kFakeDumpHooks);
  MemoryDumpManager* manager = MemoryDumpManager::GetInstance();
  RecordingDelegate delegate;
  manager->SetDelegate(&delegate, true);
  TraceLog::GetInstance()->AddEnabledStateObserver(manager);
  EnableMemoryInfraTracing({{250, kMemoryDumpLevelOfDetailLight}, {1000, kMemoryDumpLevelOfDetailDetailed}});
  ASSERT_TRUE(manager->IsMemoryTracingEnabled());
  EXPECT_EQ(1, g_threading.threads_started);
  ASSERT_EQ(1, g_threading.timers_started);
  EXPECT_EQ(250u, g_threading.timer_period_ms);
  EXPECT_EQ("base::trace_event::MemoryDumpManager::OnTraceLogEnabled", g_threading.timer_location);
  ASSERT_NE(nullptr, g_threading.timer_task);
  for (int i = 0; i < 9; ++i)
    g_threading.timer_task();
  ASSERT_EQ(9u, delegate.requests.size());
  std::vector<uint32_t> levels;
  for (const MemoryDumpRequestArgs& args : delegate.requests) {
    levels.push_back(args.level_of_detail);
    EXPECT_EQ(kMemoryDumpTypePeriodicInterval, args.dump_type);
  }
  EXPECT_EQ(std::vector<uint32_t>({1, 0, 0, 0, 1, 0, 0, 0, 1}), levels);
  // Dump ids are consecutive sequence numbers made process-unique.
  const unsigned long long hash = TraceLog::GetInstance()->MangleEventId(0);
  EXPECT_EQ((delegate.requests[0].dump_guid ^ hash) + 1, delegate.requests[1].dump_guid ^ hash);

  TraceLog::GetInstance()->SetDisabled();
  EXPECT_FALSE(manager->IsMemoryTracingEnabled());
  EXPECT_EQ(1, g_threading.timers_stopped);
  EXPECT_EQ(1, g_threading.threads_stopped);
  EXPECT_EQ(nullptr, manager->tracing_state_for_testing());

  // Each dump is a begin/end pair of "GlobalMemoryDump" with the same id and the outcome.
  const std::vector<RecordedEvent> events = TakeRecordedEvents();
  int begins = 0, ends = 0;
  for (const RecordedEvent& event : events) {
    if (event.name != "GlobalMemoryDump")
      continue;
    EXPECT_EQ(kMemoryInfraCategory, event.category);
    if (event.phase == 'b') {
      EXPECT_EQ(delegate.requests[begins].dump_guid, event.id);
      ++begins;
    } else if (event.phase == 'e') {
      EXPECT_EQ(delegate.requests[ends].dump_guid, event.id);
      ASSERT_EQ(1u, event.arg_names.size());
      EXPECT_EQ("success", event.arg_names[0]);
      EXPECT_EQ("true", event.arg_values_json[0]);
      ++ends;
    }
  }
  EXPECT_EQ(9, begins);
  EXPECT_EQ(9, ends);
  manager->SetDelegate(nullptr, false);
  TraceLog::GetInstance()->RemoveEnabledStateObserver(manager);
  MemoryDumpManager::SetThreadingHooks(nullptr);
}

TEST(MemoryDumpManagerTest, NonCoordinatorStartsNoTimer) {
  g_threading = FakeDumpThreading();
  MemoryDumpManager::SetThreadingHooks(&kFakeDumpHooks);
  MemoryDumpManager* manager = MemoryDumpManager::GetInstance();
  EnableMemoryInfraTracing({{250, kMemoryDumpLevelOfDetailLight}});
  manager->OnTraceLogEnabled();
  EXPECT_TRUE(manager->IsMemoryTracingEnabled());
  EXPECT_NE(nullptr, manager->tracing_state_for_testing());
  EXPECT_EQ(0, g_threading.timers_started);
  // A second start replaces (and stops) the previous thread.
  manager->OnTraceLogEnabled();
  EXPECT_EQ(2, g_threading.threads_started);
  EXPECT_EQ(1, g_threading.threads_stopped);
  // Without a delegate a dump completes as failed, with its id.
  DumpResult result;
  manager->RequestGlobalDump(kMemoryDumpTypePeriodicInterval, 0, Bind(&RecordDump, &result));
  EXPECT_EQ(1, result.calls);
  EXPECT_NE(0u, result.id);
  EXPECT_FALSE(result.success);
  manager->OnTraceLogDisabled();
  EXPECT_EQ(2, g_threading.threads_stopped);
  EXPECT_EQ(0, g_threading.timers_stopped);
  MemoryDumpManager::SetThreadingHooks(nullptr);
}

TEST(MemoryDumpManagerTest, ScheduleIgnoresTriggersWithoutAPeriod) {
  using Schedule = MemoryDumpManager::PeriodicDumpSchedule;
  Schedule schedule = MemoryDumpManager::ComputePeriodicDumpSchedule({});
  EXPECT_EQ(0u, schedule.min_period_ms);
  schedule = MemoryDumpManager::ComputePeriodicDumpSchedule({{0, kMemoryDumpLevelOfDetailDetailed}});
  EXPECT_EQ(0u, schedule.min_period_ms);  // no timer rather than a division by zero
  EXPECT_EQ(0u, schedule.heavy_dump_rate);
  schedule = MemoryDumpManager::ComputePeriodicDumpSchedule(
      {{0, kMemoryDumpLevelOfDetailLight}, {100, kMemoryDumpLevelOfDetailLight}, {0, kMemoryDumpLevelOfDetailDetailed}});
  EXPECT_EQ(100u, schedule.min_period_ms);
  EXPECT_EQ(0u, schedule.heavy_dump_rate);
  schedule = MemoryDumpManager::ComputePeriodicDumpSchedule(
      {{1000, kMemoryDumpLevelOfDetailDetailed}, {250, kMemoryDumpLevelOfDetailLight}});
  EXPECT_EQ(250u, schedule.min_period_ms);
  EXPECT_EQ(4u, schedule.heavy_dump_rate);
  // The last detailed trigger sets the heavy period.
  schedule = MemoryDumpManager::ComputePeriodicDumpSchedule({{300, kMemoryDumpLevelOfDetailDetailed},
                                                             {100, kMemoryDumpLevelOfDetailLight},
                                                             {700, kMemoryDumpLevelOfDetailDetailed}});
  EXPECT_EQ(7u, schedule.heavy_dump_rate);
}

// The switch is read from the process command line when the manager is made, so it is tried in a child.
std::string RunHeapProfilingChild(const std::wstring& switches) {
  const std::wstring child = test_support::ExecutableDir() + L"\\memory_dump_manager_test_child.exe";
  DWORD exit_code = 99;
  std::string output;
  EXPECT_TRUE(test_support::RunProcess(L"\"" + child + L"\" " + switches, &exit_code, &output));
  EXPECT_EQ(0u, exit_code) << output;
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
    output.pop_back();
  return output;
}

TEST(MemoryDumpManagerTest, SwitchesOfTheProcessCommandLine) {
  EXPECT_EQ("heap_profiling=1 capture=1 provider_calls=1 tables=1 timers=1",
            RunHeapProfilingChild(L"--enable-heap-profiling"));
  EXPECT_EQ("heap_profiling=0 capture=0 provider_calls=0 tables=0 timers=1", RunHeapProfilingChild(L"--other-switch"));
  // Benchmarking runs take their dumps themselves: no periodic timer.
  EXPECT_EQ("heap_profiling=0 capture=0 provider_calls=0 tables=0 timers=0",
            RunHeapProfilingChild(L"--enable-memory-benchmarking"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
