// Started by the memory dump manager tests with or without "--enable-heap-profiling" and
// "--enable-memory-benchmarking": reports what a manager made under that command line did, as one line on
// standard output.
#include <cstdio>

#include "base/command_line.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/memory_dump_manager.h"

namespace {

class CountingProvider : public base::trace_event::MemoryDumpProvider {
 public:
  bool OnMemoryDump(const base::trace_event::MemoryDumpArgs&, base::trace_event::ProcessMemoryDump*) override {
    return true;
  }
  void OnHeapProfilingEnabled(bool enabled) override { calls += enabled ? 1 : 100; }
  int calls = 0;
};

int g_thread = 0;
int g_timers_started = 0;
const base::trace_event::MemoryDumpManager::ThreadingHooks kHooks = {
    [](const char*) -> void* { return &g_thread; }, [](void*) {},
    [](uint32_t, void (*)(), const base::Location&) { ++g_timers_started; }, [] {}};

}  // namespace

int main() {
  using base::trace_event::MemoryDumpManager;
  if (!base::CommandLine::Init())
    return 2;
  std::unique_ptr<MemoryDumpManager> manager = MemoryDumpManager::CreateForTesting();
  CountingProvider provider;
  manager->RegisterDumpProvider(&provider, "Counting", nullptr);
  manager->RegisterDumpProvider(&provider, "Counting", nullptr);  // not a new registration

  // Memory tracing with heap profiling keeps the heap profiler's tables.
  MemoryDumpManager::SetThreadingHooks(&kHooks);
  base::trace_event::TraceCategoryFilter filter;
  filter.AddDisabledByDefaultCategory(base::trace_event::kMemoryInfraCategory);
  filter.AddMemoryDumpTrigger({250, base::trace_event::kMemoryDumpLevelOfDetailLight});
  manager->SetDelegate(nullptr, true);  // the coordinator starts periodic dumps unless benchmarking
  base::trace_event::TraceLog::GetInstance()->SetEnabledForTesting(filter, base::trace_event::kTraceRecordUntilFull);
  manager->OnTraceLogEnabled();
  base::trace_event::MemoryTracingState* state = manager->tracing_state_for_testing();
  const bool tables = state && state->stack_frame_deduplicator() && state->type_name_deduplicator();
  manager->OnTraceLogDisabled();

  printf("heap_profiling=%d capture=%d provider_calls=%d tables=%d timers=%d\n",
         manager->IsHeapProfilingEnabled() ? 1 : 0,
         base::trace_event::AllocationContextTracker::capture_enabled() ? 1 : 0, provider.calls, tables ? 1 : 0,
         g_timers_started);
  return 0;
}
