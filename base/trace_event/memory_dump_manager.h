// The process-wide coordinator of memory dumps: components register as dump providers; while tracing with the
// category "disabled-by-default-memory-infra" is on, it runs a "MemoryInfra" thread and a periodic timer that
// requests global dumps through a delegate, and it switches heap-profiling context capture on when the
// command line asks for it. Nothing in the product enables memory tracing, so the manager only keeps the
// provider list.
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <set>
#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/synchronization/lock.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/memory_tracing_state.h"
#include "base/trace_event/trace_category_filter.h"
#include "base/trace_event/trace_log.h"

namespace base {

class SingleThreadTaskRunner;

namespace trace_event {

inline constexpr char kMemoryInfraCategory[] = "disabled-by-default-memory-infra";

constexpr uint32_t kMemoryDumpTypePeriodicInterval = 2;
constexpr uint32_t kMemoryDumpLevelOfDetailLight = 0;
constexpr uint32_t kMemoryDumpLevelOfDetailDetailed = 1;

struct MemoryDumpRequestArgs {
  uint64_t dump_guid = 0;
  uint32_t dump_type = 0;
  uint32_t level_of_detail = 0;
};

// (dump id, success).
using MemoryDumpCallback = Callback<void(uint64_t, bool)>;

// Carries a global dump request to the process that coordinates dumps; nothing in the product installs one.
class MemoryDumpManagerDelegate {
 public:
  virtual void RequestGlobalMemoryDump(const MemoryDumpRequestArgs& args, const MemoryDumpCallback& callback) = 0;

 protected:
  virtual ~MemoryDumpManagerDelegate() = default;
};

// One registration.
class MemoryDumpProviderInfo : public RefCountedThreadSafe<MemoryDumpProviderInfo> {
 public:
  MemoryDumpProviderInfo(MemoryDumpProvider* dump_provider, const char* name, SingleThreadTaskRunner* task_runner);
  MemoryDumpProviderInfo(const MemoryDumpProviderInfo&) = delete;
  MemoryDumpProviderInfo& operator=(const MemoryDumpProviderInfo&) = delete;

  // Ordered by (task runner, provider) address, descending: records without a task runner come last.
  struct Comparator {
    bool operator()(const scoped_refptr<MemoryDumpProviderInfo>& a,
                    const scoped_refptr<MemoryDumpProviderInfo>& b) const;
  };

  MemoryDumpProvider* const dump_provider;
  const char* const name;
  SingleThreadTaskRunner* const task_runner;  // may be null
  bool disabled = false;

 private:
  friend class RefCountedThreadSafe<MemoryDumpProviderInfo>;
  ~MemoryDumpProviderInfo();
};

class MemoryDumpManager : public TraceLog::EnabledStateObserver {
 public:
  // What memory tracing needs of the threading layer, which sits above tracing: the "MemoryInfra" thread
  // and the repeating timer of periodic dumps. Without hooks the thread cannot be started.
  struct ThreadingHooks {
    // A started thread with a message loop, or null when it could not be started.
    void* (*start_thread)(const char* name) = nullptr;
    // Stops the thread (waiting for it) and destroys it.
    void (*stop_thread)(void* thread) = nullptr;
    // Runs `task` every `period_ms` milliseconds until stopped.
    void (*start_repeating_timer)(uint32_t period_ms, void (*task)(), const Location& location) = nullptr;
    void (*stop_repeating_timer)() = nullptr;
  };

  // The periodic schedule derived from the configuration's triggers.
  struct PeriodicDumpSchedule {
    uint32_t min_period_ms = 0;     // 0: no periodic dumps
    uint32_t heavy_dump_rate = 0;   // every n-th periodic dump is detailed; 0: none
  };

  static MemoryDumpManager* GetInstance();

  // A second registration of the same provider on the same task runner is ignored.
  void RegisterDumpProvider(MemoryDumpProvider* dump_provider, const char* name,
                            SingleThreadTaskRunner* task_runner);
  void UnregisterDumpProvider(MemoryDumpProvider* dump_provider);

  // Completes at once with (0, false) while memory tracing is off.
  void RequestGlobalDump(uint32_t dump_type, uint32_t level_of_detail, const MemoryDumpCallback& callback);

  // TraceLog::EnabledStateObserver.
  void OnTraceLogEnabled() override;
  void OnTraceLogDisabled() override;

  // Triggers with a period of 0 are ignored (they cannot pace a timer).
  static PeriodicDumpSchedule ComputePeriodicDumpSchedule(const std::vector<MemoryDumpTrigger>& triggers);

  void SetDelegate(MemoryDumpManagerDelegate* delegate, bool is_coordinator);
  static void SetThreadingHooks(const ThreadingHooks* hooks);

  bool IsMemoryTracingEnabled() const { return memory_tracing_enabled_.load(std::memory_order_acquire) != 0; }
  bool IsHeapProfilingEnabled() const;
  size_t GetProviderCountForTesting() const;
  // Makes a manager of its own (the process-wide one is never destroyed).
  static std::unique_ptr<MemoryDumpManager> CreateForTesting();
  // The task of the periodic timer, on this manager.
  void RequestPeriodicDumpForTesting() { RequestPeriodicDump(); }
  MemoryTracingState* tracing_state_for_testing() const;

  ~MemoryDumpManager() override;

 private:
  using ProviderSet = std::set<scoped_refptr<MemoryDumpProviderInfo>, MemoryDumpProviderInfo::Comparator>;

  MemoryDumpManager();

  void EnableHeapProfilingIfNeeded();
  void RequestPeriodicDump();
  static void PeriodicDumpTask();
  void FinishGlobalDump(const MemoryDumpCallback& callback, uint64_t dump_guid, bool success);

  ProviderSet dump_providers_;
  scoped_refptr<MemoryTracingState> tracing_state_;
  MemoryDumpManagerDelegate* delegate_ = nullptr;
  bool is_coordinator_ = false;
  mutable Lock lock_;
  std::atomic<int> memory_tracing_enabled_{0};
  bool periodic_timer_running_ = false;
  void* dump_thread_ = nullptr;
  bool heap_profiling_enabled_ = false;
  uint32_t periodic_dumps_count_ = 0;
  uint32_t heavy_dump_rate_ = 0;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
