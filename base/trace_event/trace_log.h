// The process-wide collector of trace events. A traced site names a category group, asks once for that
// group's flag byte, keeps the pointer and adds an event only while the byte has any of the bits
// kCategoryEnabledMask set. The log records events into its trace buffer (per-thread chunks for threads with a
// message loop, a shared chunk for the others), passes them to an event callback or to the ETW export, closes
// complete events with their duration, writes process and thread metadata when recording stops, and reports
// its own memory use. Nothing in the product switches recording on.
#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stack>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/callback.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local.h"
#include "base/time/time.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_category_filter.h"
#include "base/trace_event/trace_event.h"

namespace base {

class SingleThreadTaskRunner;

namespace trace_event {

// Bits of a category group's flag byte.
constexpr unsigned char kCategoryEnabledForRecording = 1;
constexpr unsigned char kCategoryEnabledForEventCallback = 4;
constexpr unsigned char kCategoryEnabledForEtwExport = 8;
constexpr unsigned char kCategoryEnabledMask =
    kCategoryEnabledForRecording | kCategoryEnabledForEventCallback | kCategoryEnabledForEtwExport;

// What a traced site tests on every pass: one byte load. The log writes the byte under its lock.
inline unsigned char LoadCategoryFlags(const unsigned char* category_group_enabled) {
  return std::atomic_ref<unsigned char>(*const_cast<unsigned char*>(category_group_enabled))
      .load(std::memory_order_relaxed);
}
inline bool IsCategoryGroupEnabledForAnyMode(const unsigned char* category_group_enabled) {
  return (LoadCategoryFlags(category_group_enabled) & kCategoryEnabledMask) != 0;
}

// Option bits of the log; they choose the kind and size of the trace buffer.
constexpr int kTraceRecordUntilFull = 1;           // a vector of 4000 chunks
constexpr int kTraceRecordContinuously = 2;        // a ring of 1000 chunks
constexpr int kTraceEchoToConsole = 8;             // events also logged (a ring of 256 chunks)
constexpr int kTraceRecordAsMuchAsPossible = 16;   // a vector of 8000000 chunks

// The flags and the bind id of an event are both plain integers at the call site; these wrappers make a
// swapped pair a compile error.
struct TraceEventFlags {
  constexpr explicit TraceEventFlags(uint32_t flags) : value(flags) {}
  uint32_t value;
};
struct TraceBindId {
  constexpr explicit TraceBindId(unsigned long long id) : value(id) {}
  unsigned long long value;
};

class TraceLog : public MemoryDumpProvider {
 public:
  static constexpr size_t kMaxCategoryGroups = 105;

  // Told when recording starts and stops.
  class EnabledStateObserver {
   public:
    virtual ~EnabledStateObserver() = default;
    virtual void OnTraceLogEnabled() = 0;
    virtual void OnTraceLogDisabled() = 0;
  };

  using EventCallback = void (*)(TimeTicks timestamp, char phase, const unsigned char* category_group_enabled,
                                 const char* name, const char* scope, unsigned long long id, int num_args,
                                 const char* const arg_names[], const unsigned char arg_types[],
                                 const unsigned long long arg_values[], unsigned int flags);

  // What the log needs of the threading layer, which is built on top of it and installs these once: the
  // calling thread's message loop (an identity, null without one), a way to hear that it is about to be
  // destroyed, its task runner, and the thread's registered name (interned: the pointer is stable).
  struct ThreadingHooks {
    void* (*current_message_loop)() = nullptr;
    void (*add_destruction_observer)(void* message_loop, void (*will_destroy)(void* context),
                                     void* context) = nullptr;
    void (*remove_destruction_observer)(void* message_loop, void* context) = nullptr;
    SingleThreadTaskRunner* (*current_task_runner)() = nullptr;
    const char* (*current_thread_name)() = nullptr;
  };
  // `hooks` must outlive every thread that traces; null removes them.
  static void SetThreadingHooks(const ThreadingHooks* hooks);

  // Never null; made on first use and never destroyed.
  static TraceLog* GetInstance();

  // The flag byte of a comma-separated category group, registered on first use. The pointer stays valid for
  // the life of the process. When the registry is full, the byte of the "categories exhausted" group.
  static const unsigned char* GetCategoryGroupEnabled(const char* category_group);
  static const char* GetCategoryGroupName(const unsigned char* category_group_enabled);

  // Adds an event of at most two arguments (type-8 arguments are taken over from `convertable_values`).
  // Returns the handle of the recorded event, or a zero handle.
  TraceEventHandle AddTraceEventWithThreadIdAndTimestamp(
      char phase, const unsigned char* category_group_enabled, const char* name, const char* scope,
      unsigned long long id, unsigned long long bind_id, int thread_id, const TimeTicks& timestamp, int num_args,
      const char* const* arg_names, const unsigned char* arg_types, const unsigned long long* arg_values,
      std::unique_ptr<ConvertableToTraceFormat>* convertable_values, unsigned int flags);

  // Closes the complete event behind `handle`; a stale handle changes nothing.
  void UpdateTraceEventDuration(const unsigned char* category_group_enabled, const char* name,
                                TraceEventHandle handle);

  // Queues a metadata event, written into the buffer when recording stops.
  void AddMetadataEvent(const unsigned char* category_group_enabled, const char* name, int num_args,
                        const char* const* arg_names, const unsigned char* arg_types,
                        const unsigned long long* arg_values,
                        std::unique_ptr<ConvertableToTraceFormat>* convertable_values, unsigned int flags);

  // Gives the calling thread its own chunk now when it runs a message loop (instead of at its first event).
  void InitializeThreadLocalEventBufferIfSupported();

  // Stops recording: flag bytes are recomputed, metadata written, observers told.
  void SetDisabled();

  bool IsEnabled() const;
  int trace_options() const { return trace_options_.load(std::memory_order_relaxed); }
  TraceCategoryFilter GetCurrentTraceConfig() const;
  // `id` made unique to this process.
  unsigned long long MangleEventId(unsigned long long id) const { return id ^ process_id_hash_; }
  int process_id() const { return process_id_; }

  void AddEnabledStateObserver(EnabledStateObserver* observer);
  void RemoveEnabledStateObserver(EnabledStateObserver* observer);

  // Data of the metadata written when recording stops.
  void SetProcessName(const std::string& process_name);
  void SetProcessSortIndex(int sort_index);
  void UpdateProcessLabel(int label_id, const std::string& current_label);
  void SetThreadSortIndex(int thread_id, int sort_index);

  // Reports the log's memory (the buffer and pending metadata) under "tracing/main_trace_log".
  bool OnMemoryDump(const MemoryDumpArgs& args, ProcessMemoryDump* pmd) override;

  // Tests: recording is switched on only here. Starts a fresh buffer chosen by `trace_options`.
  void SetEnabledForTesting(const TraceCategoryFilter& config, int trace_options);
  void SetEventCallbackEnabledForTesting(const TraceCategoryFilter& config, EventCallback callback);
  void SetEventCallbackDisabledForTesting();
  // Runs `callback` when an event named `event_name` is added in the group `category_name`.
  void SetWatchEventForTesting(const char* category_name, const std::string& event_name, Closure callback);
  // Returns the shared chunk and this thread's chunk to the buffer and hands the buffer over for reading,
  // leaving a fresh one behind.
  std::unique_ptr<TraceBuffer> TakeTraceBufferForTesting();
  // The number of category groups registered so far, built-in groups included.
  static size_t GetCategoryGroupCountForTesting();

 private:
  class ThreadLocalEventBuffer;
  class OptionalAutoLock;

  TraceLog();
  ~TraceLog() override;

  const unsigned char* GetCategoryGroupEnabledInternal(const char* category_group);
  void UpdateCategoryGroupEnabledFlag(size_t category_index);
  void UpdateCategoryGroupEnabledFlags();

  std::unique_ptr<TraceBuffer> CreateTraceBuffer(uint32_t first_chunk_seq) const;
  // Starts a new buffer and generation; returns the old buffer.
  std::unique_ptr<TraceBuffer> UseNextTraceBuffer();
  bool CheckGeneration(int generation) const { return generation == generation_.load(std::memory_order_acquire); }

  ThreadLocalEventBuffer* GetOrCreateThreadLocalEventBuffer();
  void RecordThreadName(int thread_id);
  TraceEvent* AddEventToThreadSharedChunkWhileLocked(TraceEventHandle* handle, bool check_buffer_is_full);
  void ReturnSharedChunkWhileLocked();
  void CheckIfBufferIsFullWhileLocked();
  void SetDisabledWhileLocked();
  void AddMetadataEventsWhileLocked();
  TraceEvent* GetEventByHandleInternal(TraceEventHandle handle, OptionalAutoLock* lock);
  std::string EventToConsoleMessage(char phase, const TimeTicks& timestamp, TraceEvent* trace_event);

  TimeTicks OffsetNow() const { return OffsetTimestamp(TimeTicks::Now()); }
  TimeTicks OffsetTimestamp(const TimeTicks& timestamp) const { return timestamp - time_offset_; }

  // Guards everything below except the thread-information maps.
  mutable Lock lock_;
  // Guards thread names, sort indices, colours and start times.
  Lock thread_info_lock_;
  int mode_ = 0;  // 0 disabled, 1 recording
  std::unique_ptr<TraceBuffer> logged_events_;
  std::vector<std::unique_ptr<TraceEvent>> metadata_events_;
  std::atomic<EventCallback> event_callback_{nullptr};
  bool dispatching_to_observer_list_ = false;
  std::vector<EnabledStateObserver*> enabled_state_observer_list_;

  std::string process_name_;
  std::unordered_map<int, std::string> process_labels_;
  int process_sort_index_ = 0;
  std::unordered_map<int, int> thread_sort_indices_;
  std::unordered_map<int, std::string> thread_names_;
  std::unordered_map<int, std::stack<TimeTicks>> thread_event_start_times_;
  std::unordered_map<std::string, int> thread_colors_;

  TimeTicks buffer_limit_reached_timestamp_;
  unsigned long long process_id_hash_ = 0;
  int process_id_ = 0;
  TimeDelta time_offset_;

  std::atomic<const unsigned char*> watch_category_{nullptr};
  std::string watch_event_name_;
  Closure watch_event_callback_;

  std::atomic<int> trace_options_{kTraceRecordUntilFull};
  TraceCategoryFilter trace_config_;
  TraceCategoryFilter event_callback_trace_config_;

  ThreadLocalPointer<ThreadLocalEventBuffer> thread_local_event_buffer_;
  ThreadLocalBoolean thread_blocks_message_loop_;
  ThreadLocalBoolean thread_is_in_trace_event_;
  // The name this thread reported last (interned by the thread registry; compared by address).
  ThreadLocalPointer<void> current_thread_name_;

  std::unordered_set<void*> thread_message_loops_;
  std::unique_ptr<TraceBufferChunk> thread_shared_chunk_;
  size_t thread_shared_chunk_index_ = 0;
  std::atomic<int> generation_{0};
};

// Adds an event of the current thread at TimeTicks::Now without arguments; flags pass through unchanged.
TraceEventHandle AddTraceEventWithBindId(char phase, const unsigned char* category_group_enabled, const char* name,
                                         const char* scope, unsigned long long id, TraceEventFlags flags,
                                         TraceBindId bind_id);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
