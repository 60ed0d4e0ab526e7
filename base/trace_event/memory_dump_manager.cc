#include "base/trace_event/memory_dump_manager.h"

#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

namespace base {
namespace trace_event {

namespace {

constexpr char kGlobalMemoryDumpEventName[] = "GlobalMemoryDump";
constexpr char kEnableHeapProfilingSwitch[] = "enable-heap-profiling";
constexpr char kEnableMemoryBenchmarkingSwitch[] = "enable-memory-benchmarking";
constexpr char kStackFramesName[] = "stackFrames";
constexpr char kTypeNamesName[] = "typeNames";

// Dump sequence numbers; the first manager takes 0, so dumps count from 1.
std::atomic<int32_t> g_next_dump_sequence{0};
std::atomic<const MemoryDumpManager::ThreadingHooks*> g_threading_hooks{nullptr};
constinit internal::LazyInstanceState g_memory_dump_manager_state{0};

const MemoryDumpManager::ThreadingHooks* Hooks() {
  return g_threading_hooks.load(std::memory_order_acquire);
}

// A metadata argument that prints one of the tracing state's tables when the trace is written.
class TracingStateTableArgument : public ConvertableToTraceFormat {
 public:
  enum class Table { kStackFrames, kTypeNames };

  TracingStateTableArgument(scoped_refptr<MemoryTracingState> tracing_state, Table table)
      : tracing_state_(std::move(tracing_state)), table_(table) {}

  void AppendAsTraceFormat(std::string* out) const override {
    if (ConvertableToTraceFormat* table = GetTable())
      table->AppendAsTraceFormat(out);
  }
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override {
    if (ConvertableToTraceFormat* table = GetTable())
      table->EstimateTraceMemoryOverhead(overhead);
  }

 private:
  ConvertableToTraceFormat* GetTable() const {
    if (table_ == Table::kStackFrames)
      return tracing_state_->stack_frame_deduplicator();
    return tracing_state_->type_name_deduplicator();
  }

  scoped_refptr<MemoryTracingState> tracing_state_;
  Table table_;
};

void AddTableMetadataEvent(const char* name, scoped_refptr<MemoryTracingState> tracing_state,
                           TracingStateTableArgument::Table table) {
  const char* arg_names[] = {name};
  const unsigned char arg_types[] = {kTraceValueTypeConvertable};
  const unsigned long long arg_values[] = {0};
  std::unique_ptr<ConvertableToTraceFormat> convertable_values[] = {
      std::make_unique<TracingStateTableArgument>(std::move(tracing_state), table)};
  TraceLog::GetInstance()->AddMetadataEvent(TraceLog::GetCategoryGroupEnabled("__metadata"), name, 1, arg_names,
                                            arg_types, arg_values, convertable_values, kTraceEventFlagNone);
}

}  // namespace

MemoryDumpProviderInfo::MemoryDumpProviderInfo(MemoryDumpProvider* dump_provider, const char* name,
                                               SingleThreadTaskRunner* task_runner)
    : dump_provider(dump_provider), name(name), task_runner(task_runner) {}

MemoryDumpProviderInfo::~MemoryDumpProviderInfo() = default;

bool MemoryDumpProviderInfo::Comparator::operator()(const scoped_refptr<MemoryDumpProviderInfo>& a,
                                                    const scoped_refptr<MemoryDumpProviderInfo>& b) const {
  const auto key = [](const scoped_refptr<MemoryDumpProviderInfo>& info) {
    return std::make_pair(reinterpret_cast<uintptr_t>(info->task_runner),
                          reinterpret_cast<uintptr_t>(info->dump_provider));
  };
  return key(a) > key(b);
}

// static
MemoryDumpManager* MemoryDumpManager::GetInstance() {
  return internal::GetOrCreateLazyInstance<MemoryDumpManager>(
      &g_memory_dump_manager_state, [] { return new MemoryDumpManager(); }, nullptr, nullptr);
}

// static
std::unique_ptr<MemoryDumpManager> MemoryDumpManager::CreateForTesting() {
  return std::unique_ptr<MemoryDumpManager>(new MemoryDumpManager());
}

// static
void MemoryDumpManager::SetThreadingHooks(const ThreadingHooks* hooks) {
  g_threading_hooks.store(hooks, std::memory_order_release);
}

MemoryDumpManager::MemoryDumpManager() {
  g_next_dump_sequence.fetch_add(1);
  EnableHeapProfilingIfNeeded();
}

// Never reached for the process-wide manager.
MemoryDumpManager::~MemoryDumpManager() {
  TraceLog::GetInstance()->RemoveEnabledStateObserver(this);
  const ThreadingHooks* hooks = Hooks();
  void* dump_thread = nullptr;
  {
    AutoLock lock(lock_);
    dump_thread = dump_thread_;
    dump_thread_ = nullptr;
  }
  if (hooks && periodic_timer_running_ && hooks->stop_repeating_timer)
    hooks->stop_repeating_timer();
  if (hooks && dump_thread && hooks->stop_thread)
    hooks->stop_thread(dump_thread);
}

void MemoryDumpManager::EnableHeapProfilingIfNeeded() {
  if (heap_profiling_enabled_ || !CommandLine::IsInitialized())
    return;
  if (!CommandLine::ForCurrentProcess()->HasSwitch(kEnableHeapProfilingSwitch))
    return;
  AllocationContextTracker::SetCaptureEnabled(true);
  std::vector<scoped_refptr<MemoryDumpProviderInfo>> providers;
  {
    AutoLock lock(lock_);
    providers.assign(dump_providers_.begin(), dump_providers_.end());
  }
  for (const auto& info : providers)
    info->dump_provider->OnHeapProfilingEnabled(true);
  AutoLock lock(lock_);
  heap_profiling_enabled_ = true;
}

bool MemoryDumpManager::IsHeapProfilingEnabled() const {
  AutoLock lock(lock_);
  return heap_profiling_enabled_;
}

void MemoryDumpManager::RegisterDumpProvider(MemoryDumpProvider* dump_provider, const char* name,
                                             SingleThreadTaskRunner* task_runner) {
  auto info = MakeRefCounted<MemoryDumpProviderInfo>(dump_provider, name, task_runner);
  bool inserted = false;
  bool heap_profiling_enabled = false;
  {
    AutoLock lock(lock_);
    inserted = dump_providers_.insert(info).second;
    heap_profiling_enabled = heap_profiling_enabled_;
  }
  if (inserted && heap_profiling_enabled)
    dump_provider->OnHeapProfilingEnabled(true);
}

void MemoryDumpManager::UnregisterDumpProvider(MemoryDumpProvider* dump_provider) {
  AutoLock lock(lock_);
  for (auto it = dump_providers_.begin(); it != dump_providers_.end(); ++it) {
    if ((*it)->dump_provider == dump_provider) {
      (*it)->disabled = true;
      dump_providers_.erase(it);
      return;
    }
  }
}

size_t MemoryDumpManager::GetProviderCountForTesting() const {
  AutoLock lock(lock_);
  return dump_providers_.size();
}

MemoryTracingState* MemoryDumpManager::tracing_state_for_testing() const {
  AutoLock lock(lock_);
  return tracing_state_.get();
}

void MemoryDumpManager::SetDelegate(MemoryDumpManagerDelegate* delegate, bool is_coordinator) {
  AutoLock lock(lock_);
  delegate_ = delegate;
  is_coordinator_ = is_coordinator;
}

void MemoryDumpManager::RequestGlobalDump(uint32_t dump_type, uint32_t level_of_detail,
                                          const MemoryDumpCallback& callback) {
  if (!IsMemoryTracingEnabled()) {
    if (!callback.is_null())
      callback.Run(0, false);
    return;
  }
  TraceLog* trace_log = TraceLog::GetInstance();
  const uint64_t guid =
      trace_log->MangleEventId(static_cast<uint32_t>(g_next_dump_sequence.fetch_add(1)));
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled(kMemoryInfraCategory);
  if (IsCategoryGroupEnabledForAnyMode(category)) {
    trace_log->AddTraceEventWithThreadIdAndTimestamp(
        kTraceEventPhaseNestableAsyncBegin, category, kGlobalMemoryDumpEventName, nullptr, guid, 0,
        static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(), 0, nullptr, nullptr, nullptr, nullptr,
        kTraceEventFlagNone);
  }
  const MemoryDumpCallback wrapped_callback =
      Bind(&MemoryDumpManager::FinishGlobalDump, Unretained(this), callback);

  MemoryDumpManagerDelegate* delegate = nullptr;
  {
    AutoLock lock(lock_);
    delegate = delegate_;
  }
  if (!delegate) {
    // Nobody can carry the request: it completes as failed instead of being dropped.
    wrapped_callback.Run(guid, false);
    return;
  }
  MemoryDumpRequestArgs args;
  args.dump_guid = guid;
  args.dump_type = dump_type;
  args.level_of_detail = level_of_detail;
  delegate->RequestGlobalMemoryDump(args, wrapped_callback);
}

void MemoryDumpManager::FinishGlobalDump(const MemoryDumpCallback& callback, uint64_t dump_guid, bool success) {
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled(kMemoryInfraCategory);
  if (IsCategoryGroupEnabledForAnyMode(category)) {
    const char* arg_names[] = {"success"};
    const unsigned char arg_types[] = {kTraceValueTypeBool};
    const unsigned long long arg_values[] = {success ? 1ull : 0ull};
    TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
        kTraceEventPhaseNestableAsyncEnd, category, kGlobalMemoryDumpEventName, nullptr, dump_guid, 0,
        static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(), 1, arg_names, arg_types, arg_values, nullptr,
        kTraceEventFlagNone);
  }
  if (!callback.is_null())
    callback.Run(dump_guid, success);
}

// static
MemoryDumpManager::PeriodicDumpSchedule MemoryDumpManager::ComputePeriodicDumpSchedule(
    const std::vector<MemoryDumpTrigger>& triggers) {
  PeriodicDumpSchedule schedule;
  uint32_t heavy_dump_period_ms = 0;
  for (const MemoryDumpTrigger& trigger : triggers) {
    if (trigger.periodic_interval_ms == 0)
      continue;
    if (schedule.min_period_ms == 0 || trigger.periodic_interval_ms < schedule.min_period_ms)
      schedule.min_period_ms = trigger.periodic_interval_ms;
    if (trigger.level_of_detail == kMemoryDumpLevelOfDetailDetailed)
      heavy_dump_period_ms = trigger.periodic_interval_ms;
  }
  if (schedule.min_period_ms != 0)
    schedule.heavy_dump_rate = heavy_dump_period_ms / schedule.min_period_ms;
  return schedule;
}

void MemoryDumpManager::RequestPeriodicDump() {
  uint32_t level_of_detail = kMemoryDumpLevelOfDetailLight;
  if (heavy_dump_rate_ != 0) {
    if (periodic_dumps_count_ == 0)
      level_of_detail = kMemoryDumpLevelOfDetailDetailed;
    if (++periodic_dumps_count_ == heavy_dump_rate_)
      periodic_dumps_count_ = 0;
  }
  RequestGlobalDump(kMemoryDumpTypePeriodicInterval, level_of_detail, MemoryDumpCallback());
}

// static
void MemoryDumpManager::PeriodicDumpTask() {
  GetInstance()->RequestPeriodicDump();
}

void MemoryDumpManager::OnTraceLogEnabled() {
  if (!IsCategoryGroupEnabledForAnyMode(TraceLog::GetCategoryGroupEnabled(kMemoryInfraCategory)))
    return;
  // Before any lock is taken: setting up the buffer may register this thread's buffer as a provider.
  TraceLog::GetInstance()->InitializeThreadLocalEventBufferIfSupported();

  const ThreadingHooks* hooks = Hooks();
  void* dump_thread = hooks && hooks->start_thread ? hooks->start_thread("MemoryInfra") : nullptr;
  if (!dump_thread) {
    LOG(ERROR) << "Failed to start the memory-infra thread for tracing";
    return;
  }

  void* previous_thread = nullptr;
  bool start_timer = false;
  PeriodicDumpSchedule schedule;
  {
    AutoLock lock(lock_);
    tracing_state_ = MakeRefCounted<MemoryTracingState>();
    if (heap_profiling_enabled_) {
      tracing_state_->SetStackFrameDeduplicator(std::make_unique<StackFrameDeduplicator>());
      tracing_state_->SetTypeNameDeduplicator(std::make_unique<TypeNameDeduplicator>());
      AddTableMetadataEvent(kStackFramesName, tracing_state_, TracingStateTableArgument::Table::kStackFrames);
      AddTableMetadataEvent(kTypeNamesName, tracing_state_, TracingStateTableArgument::Table::kTypeNames);
    }
    previous_thread = dump_thread_;
    dump_thread_ = dump_thread;
    memory_tracing_enabled_.store(1, std::memory_order_release);

    if (is_coordinator_ && !(CommandLine::IsInitialized() &&
                             CommandLine::ForCurrentProcess()->HasSwitch(kEnableMemoryBenchmarkingSwitch))) {
      periodic_dumps_count_ = 0;
      schedule = ComputePeriodicDumpSchedule(TraceLog::GetInstance()->GetCurrentTraceConfig().memory_dump_triggers());
      if (schedule.min_period_ms != 0) {
        heavy_dump_rate_ = schedule.heavy_dump_rate;
        start_timer = hooks->start_repeating_timer != nullptr;
        periodic_timer_running_ = start_timer;
      }
    }
  }
  if (previous_thread && hooks->stop_thread)
    hooks->stop_thread(previous_thread);
  if (start_timer) {
    hooks->start_repeating_timer(schedule.min_period_ms, &MemoryDumpManager::PeriodicDumpTask,
                                 Location("base::trace_event::MemoryDumpManager::OnTraceLogEnabled", __FILE__,
                                          __LINE__, nullptr));
  }
}

void MemoryDumpManager::OnTraceLogDisabled() {
  memory_tracing_enabled_.store(0, std::memory_order_release);
  void* dump_thread = nullptr;
  bool timer_running = false;
  {
    AutoLock lock(lock_);
    dump_thread = dump_thread_;
    dump_thread_ = nullptr;
    tracing_state_ = nullptr;
    timer_running = periodic_timer_running_;
    periodic_timer_running_ = false;
  }
  const ThreadingHooks* hooks = Hooks();
  if (timer_running && hooks && hooks->stop_repeating_timer)
    hooks->stop_repeating_timer();
  if (dump_thread && hooks && hooks->stop_thread)
    hooks->stop_thread(dump_thread);
}

}  // namespace trace_event
}  // namespace base
