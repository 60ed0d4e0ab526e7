#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <utility>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/string_tokenizer.h"
#include "base/trace_event/trace_event_etw_export_win.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

namespace {

// The category-group registry, shared by every log. Names below the count are complete and never change, so
// they are read without a lock; the count is raised only after an entry is in place.
constexpr size_t kCategoryAlreadyShutdown = 1;
constexpr size_t kCategoryCategoriesExhausted = 2;
constexpr size_t kCategoryMetadata = 3;
constexpr size_t kNumBuiltinCategories = 4;
const char* g_category_groups[TraceLog::kMaxCategoryGroups] = {
    "toplevel",
    "tracing already shutdown",
    "tracing categories exhausted; must increase MAX_CATEGORY_GROUPS",
    "__metadata",
};
unsigned char g_category_group_enabled[TraceLog::kMaxCategoryGroups] = {0};
std::atomic<size_t> g_category_index{kNumBuiltinCategories};

constexpr size_t kTraceEventVectorBigBufferChunks = 8000000;
constexpr size_t kTraceEventVectorBufferChunks = 4000;
constexpr size_t kTraceEventRingBufferChunks = 1000;
constexpr size_t kEchoToConsoleTraceEventBufferChunks = 256;

constexpr char kTraceLogOverheadName[] = "TraceLog";
constexpr size_t kTraceLogEstimatedSize = 984;
constexpr char kThreadLocalEventBufferName[] = "ThreadLocalEventBuffer";

// Handles keep all 26 bits of the chunk index: a narrower field would leave events in chunks above its range
// unclosable.
constexpr size_t kMaxHandleChunkIndex = (size_t{1} << 26) - 1;

constinit internal::LazyInstanceState g_trace_log_state{0};
std::atomic<const TraceLog::ThreadingHooks*> g_threading_hooks{nullptr};

const TraceLog::ThreadingHooks* Hooks() {
  return g_threading_hooks.load(std::memory_order_acquire);
}

// The flag byte of a registered group, or null.
const unsigned char* FindCategoryGroupEnabled(const char* category_group) {
  const size_t category_count = g_category_index.load(std::memory_order_acquire);
  for (size_t i = 0; i < category_count; ++i) {
    if (strcmp(g_category_groups[i], category_group) == 0)
      return &g_category_group_enabled[i];
  }
  return nullptr;
}

void StoreCategoryFlags(size_t index, unsigned char flags) {
  std::atomic_ref<unsigned char>(g_category_group_enabled[index]).store(flags, std::memory_order_relaxed);
}

int CurrentThreadId() {
  return static_cast<int>(GetCurrentThreadId());
}

ThreadTicks ThreadNow() {
  return ThreadTicks::IsSupported() ? ThreadTicks::Now() : ThreadTicks();
}

void MakeHandle(uint32_t chunk_seq, size_t chunk_index, size_t event_index, TraceEventHandle* handle) {
  if (chunk_index > kMaxHandleChunkIndex)
    return;  // cannot be named: the event gets no handle rather than a wrong one
  handle->chunk_seq = chunk_seq;
  handle->chunk_index = static_cast<uint32_t>(chunk_index);
  handle->event_index = static_cast<uint32_t>(event_index);
}

void InitializeMetadataEvent(TraceEvent* trace_event, int thread_id, const char* metadata_name,
                             const char* arg_name, unsigned char arg_type, unsigned long long arg_value) {
  if (!trace_event)
    return;
  trace_event->Initialize(thread_id, TimeTicks(), ThreadTicks(), kTraceEventPhaseMetadata,
                          &g_category_group_enabled[kCategoryMetadata], metadata_name, nullptr, 0, 0, 1, &arg_name,
                          &arg_type, &arg_value, nullptr, kTraceEventFlagNone);
}

void InitializeMetadataEvent(TraceEvent* trace_event, int thread_id, const char* metadata_name,
                             const char* arg_name, long long value) {
  InitializeMetadataEvent(trace_event, thread_id, metadata_name, arg_name, kTraceValueTypeInt,
                          static_cast<unsigned long long>(value));
}

// String arguments of metadata are copied into the event (type 7).
void InitializeMetadataEvent(TraceEvent* trace_event, int thread_id, const char* metadata_name,
                             const char* arg_name, const std::string& value) {
  InitializeMetadataEvent(trace_event, thread_id, metadata_name, arg_name, kTraceValueTypeCopyString,
                          static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(value.c_str())));
}

// Sets a thread-local flag for the scope.
class AutoThreadLocalBoolean {
 public:
  explicit AutoThreadLocalBoolean(ThreadLocalBoolean* thread_local_boolean) : boolean_(thread_local_boolean) {
    boolean_->Set(true);
  }
  ~AutoThreadLocalBoolean() { boolean_->Set(false); }
  AutoThreadLocalBoolean(const AutoThreadLocalBoolean&) = delete;
  AutoThreadLocalBoolean& operator=(const AutoThreadLocalBoolean&) = delete;

 private:
  ThreadLocalBoolean* boolean_;
};

}  // namespace

// Takes the lock only when a path needs it, and releases it at the end of the scope.
class TraceLog::OptionalAutoLock {
 public:
  explicit OptionalAutoLock(Lock* lock) : lock_(lock) {}
  ~OptionalAutoLock() {
    if (locked_)
      lock_->Release();
  }
  OptionalAutoLock(const OptionalAutoLock&) = delete;
  OptionalAutoLock& operator=(const OptionalAutoLock&) = delete;

  void EnsureAcquired() {
    if (!locked_) {
      lock_->Acquire();
      locked_ = true;
    }
  }

 private:
  Lock* lock_;
  bool locked_ = false;
};

// The chunk of one thread that runs a message loop: filled without the log's lock, given back when full,
// when the loop goes away, or dropped when the log has moved on to a new buffer.
class TraceLog::ThreadLocalEventBuffer : public MemoryDumpProvider {
 public:
  ThreadLocalEventBuffer(TraceLog* trace_log, void* message_loop);
  ~ThreadLocalEventBuffer() override;
  ThreadLocalEventBuffer(const ThreadLocalEventBuffer&) = delete;
  ThreadLocalEventBuffer& operator=(const ThreadLocalEventBuffer&) = delete;

  TraceEvent* AddTraceEvent(TraceEventHandle* handle);
  // An event of this buffer's own chunk, or null.
  TraceEvent* GetEventByHandle(TraceEventHandle handle);
  int generation() const { return generation_; }
  // Gives the chunk back (or drops it for an old generation).
  void FlushWhileLocked();

 private:
  static void WillDestroyCurrentMessageLoop(void* buffer);
  bool OnMemoryDump(const MemoryDumpArgs& args, ProcessMemoryDump* pmd) override;

  void* message_loop_;
  TraceLog* trace_log_;
  std::unique_ptr<TraceBufferChunk> chunk_;
  size_t chunk_index_ = 0;
  int generation_;
};

TraceLog::ThreadLocalEventBuffer::ThreadLocalEventBuffer(TraceLog* trace_log, void* message_loop)
    : message_loop_(message_loop), trace_log_(trace_log), generation_(trace_log->generation_.load()) {
  const ThreadingHooks* hooks = Hooks();
  if (hooks && hooks->add_destruction_observer)
    hooks->add_destruction_observer(message_loop_, &ThreadLocalEventBuffer::WillDestroyCurrentMessageLoop, this);
  SingleThreadTaskRunner* task_runner =
      hooks && hooks->current_task_runner ? hooks->current_task_runner() : nullptr;
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(this, kThreadLocalEventBufferName, task_runner);
  AutoLock lock(trace_log_->lock_);
  trace_log_->thread_message_loops_.insert(message_loop_);
}

TraceLog::ThreadLocalEventBuffer::~ThreadLocalEventBuffer() {
  const ThreadingHooks* hooks = Hooks();
  if (hooks && hooks->remove_destruction_observer)
    hooks->remove_destruction_observer(message_loop_, this);
  MemoryDumpManager::GetInstance()->UnregisterDumpProvider(this);
  {
    AutoLock lock(trace_log_->lock_);
    FlushWhileLocked();
    trace_log_->thread_message_loops_.erase(message_loop_);
  }
  trace_log_->thread_local_event_buffer_.Set(nullptr);
}

// static
void TraceLog::ThreadLocalEventBuffer::WillDestroyCurrentMessageLoop(void* buffer) {
  delete static_cast<ThreadLocalEventBuffer*>(buffer);
}

void TraceLog::ThreadLocalEventBuffer::FlushWhileLocked() {
  if (!chunk_)
    return;
  if (trace_log_->CheckGeneration(generation_))
    trace_log_->logged_events_->ReturnChunk(chunk_index_, std::move(chunk_));
  chunk_.reset();
}

TraceEvent* TraceLog::ThreadLocalEventBuffer::AddTraceEvent(TraceEventHandle* handle) {
  if (chunk_ && chunk_->IsFull()) {
    AutoLock lock(trace_log_->lock_);
    FlushWhileLocked();
  }
  if (!chunk_) {
    AutoLock lock(trace_log_->lock_);
    // The log may have moved to a new buffer: a chunk index of the new buffer under an old generation would
    // later be dropped, so this buffer takes on the log's generation only through a new ThreadLocalEventBuffer.
    if (!trace_log_->CheckGeneration(generation_))
      return nullptr;
    chunk_ = trace_log_->logged_events_->GetChunk(&chunk_index_);
    trace_log_->CheckIfBufferIsFullWhileLocked();
  }
  if (!chunk_ || chunk_->IsFull())
    return nullptr;
  size_t event_index = 0;
  TraceEvent* trace_event = chunk_->AddTraceEvent(&event_index);
  if (handle)
    MakeHandle(chunk_->seq(), chunk_index_, event_index, handle);
  return trace_event;
}

TraceEvent* TraceLog::ThreadLocalEventBuffer::GetEventByHandle(TraceEventHandle handle) {
  if (!chunk_ || handle.chunk_seq != chunk_->seq() || handle.chunk_index != chunk_index_)
    return nullptr;
  return chunk_->GetEventAt(handle.event_index);
}

bool TraceLog::ThreadLocalEventBuffer::OnMemoryDump(const MemoryDumpArgs& /*args*/, ProcessMemoryDump* pmd) {
  if (!chunk_)
    return true;
  TraceEventMemoryOverhead overhead;
  chunk_->EstimateTraceMemoryOverhead(&overhead);
  overhead.DumpInto(StringPrintf("tracing/thread_%d", CurrentThreadId()).c_str(), pmd);
  return true;
}

// static
void TraceLog::SetThreadingHooks(const ThreadingHooks* hooks) {
  g_threading_hooks.store(hooks, std::memory_order_release);
}

// static
TraceLog* TraceLog::GetInstance() {
  return internal::GetOrCreateLazyInstance<TraceLog>(
      &g_trace_log_state, [] { return new TraceLog(); }, nullptr, nullptr);
}

TraceLog::TraceLog() {
  process_id_ = static_cast<int>(GetCurrentProcessId());
  // FNV-1a offset basis and prime: spreads the process id over 64 bits.
  const unsigned long long kOffsetBasis = 0xCBF29CE484222325ull;
  const unsigned long long kFnvPrime = 0x100000001B3ull;
  process_id_hash_ = (static_cast<unsigned long long>(static_cast<unsigned int>(process_id_)) ^ kOffsetBasis) * kFnvPrime;
  logged_events_ = CreateTraceBuffer(1);
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(this, kTraceLogOverheadName, nullptr);
}

// The log is never destroyed; the destructor exists for the interface.
TraceLog::~TraceLog() = default;

std::unique_ptr<TraceBuffer> TraceLog::CreateTraceBuffer(uint32_t first_chunk_seq) const {
  const int options = trace_options();
  if (options & kTraceRecordContinuously)
    return TraceBuffer::CreateTraceBufferRingBuffer(kTraceEventRingBufferChunks, first_chunk_seq);
  if (options & kTraceEchoToConsole)
    return TraceBuffer::CreateTraceBufferRingBuffer(kEchoToConsoleTraceEventBufferChunks, first_chunk_seq);
  if (options & kTraceRecordAsMuchAsPossible)
    return TraceBuffer::CreateTraceBufferVectorOfSize(kTraceEventVectorBigBufferChunks, first_chunk_seq);
  return TraceBuffer::CreateTraceBufferVectorOfSize(kTraceEventVectorBufferChunks, first_chunk_seq);
}

std::unique_ptr<TraceBuffer> TraceLog::UseNextTraceBuffer() {
  // The new buffer's sequence numbers continue the old one's: a handle into the old buffer must not name an
  // event of the new one.
  std::unique_ptr<TraceBuffer> old_buffer = std::move(logged_events_);
  logged_events_ = CreateTraceBuffer(old_buffer->NextChunkSeq());
  generation_.fetch_add(1, std::memory_order_acq_rel);
  thread_shared_chunk_.reset();
  thread_shared_chunk_index_ = 0;
  return old_buffer;
}

// static
const unsigned char* TraceLog::GetCategoryGroupEnabled(const char* category_group) {
  TraceLog* trace_log = GetInstance();
  if (!trace_log)
    return &g_category_group_enabled[kCategoryAlreadyShutdown];
  return trace_log->GetCategoryGroupEnabledInternal(category_group);
}

// static
const char* TraceLog::GetCategoryGroupName(const unsigned char* category_group_enabled) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(g_category_group_enabled);
  const uintptr_t address = reinterpret_cast<uintptr_t>(category_group_enabled);
  const size_t index = static_cast<size_t>(address - start);
  if (address < start || index >= g_category_index.load(std::memory_order_acquire))
    return g_category_groups[kCategoryAlreadyShutdown];
  return g_category_groups[index];
}

// static
size_t TraceLog::GetCategoryGroupCountForTesting() {
  return g_category_index.load(std::memory_order_acquire);
}

const unsigned char* TraceLog::GetCategoryGroupEnabledInternal(const char* category_group) {
  if (const unsigned char* found = FindCategoryGroupEnabled(category_group))
    return found;

  AutoLock lock(lock_);
  // Another thread may have added the name since the unlocked scan.
  if (const unsigned char* found = FindCategoryGroupEnabled(category_group))
    return found;
  const size_t category_index = g_category_index.load(std::memory_order_relaxed);
  if (category_index >= kMaxCategoryGroups)
    return &g_category_group_enabled[kCategoryCategoriesExhausted];
  // Never freed: traced sites keep pointers into the registry for the life of the process.
  const size_t length = strlen(category_group);
  char* name_copy = new char[length + 1];
  memcpy(name_copy, category_group, length + 1);
  g_category_groups[category_index] = name_copy;
  UpdateCategoryGroupEnabledFlag(category_index);
  g_category_index.store(category_index + 1, std::memory_order_release);
  return &g_category_group_enabled[category_index];
}

void TraceLog::UpdateCategoryGroupEnabledFlag(size_t category_index) {
  // The error sentinels must stay 0: events named by them are never recorded.
  if (category_index == kCategoryAlreadyShutdown || category_index == kCategoryCategoriesExhausted)
    return;
  const char* category_group = g_category_groups[category_index];
  unsigned char enabled_flag = 0;
  if (mode_ == 1 && trace_config_.IsCategoryGroupEnabled(category_group))
    enabled_flag |= kCategoryEnabledForRecording;
  if (event_callback_.load() && event_callback_trace_config_.IsCategoryGroupEnabled(category_group))
    enabled_flag |= kCategoryEnabledForEventCallback;
  if (EtwTraceExport::IsCategoryGroupEnabled(category_group))
    enabled_flag |= kCategoryEnabledForEtwExport;
  StoreCategoryFlags(category_index, enabled_flag);
}

void TraceLog::UpdateCategoryGroupEnabledFlags() {
  const size_t category_index = g_category_index.load(std::memory_order_acquire);
  for (size_t i = 0; i < category_index; ++i)
    UpdateCategoryGroupEnabledFlag(i);
}

bool TraceLog::IsEnabled() const {
  AutoLock lock(lock_);
  return mode_ == 1;
}

TraceCategoryFilter TraceLog::GetCurrentTraceConfig() const {
  AutoLock lock(lock_);
  return trace_config_;
}

TraceLog::ThreadLocalEventBuffer* TraceLog::GetOrCreateThreadLocalEventBuffer() {
  const ThreadingHooks* hooks = Hooks();
  void* message_loop = hooks && hooks->current_message_loop ? hooks->current_message_loop() : nullptr;
  if (thread_blocks_message_loop_.Get() || !message_loop)
    return nullptr;
  ThreadLocalEventBuffer* buffer = thread_local_event_buffer_.Get();
  if (buffer && !CheckGeneration(buffer->generation())) {
    delete buffer;  // clears the slot
    buffer = nullptr;
  }
  if (!buffer) {
    buffer = new ThreadLocalEventBuffer(this, message_loop);
    thread_local_event_buffer_.Set(buffer);
  }
  return buffer;
}

void TraceLog::InitializeThreadLocalEventBufferIfSupported() {
  GetOrCreateThreadLocalEventBuffer();
}

void TraceLog::RecordThreadName(int thread_id) {
  const ThreadingHooks* hooks = Hooks();
  const char* new_name = hooks && hooks->current_thread_name ? hooks->current_thread_name() : nullptr;
  if (!new_name || !*new_name || new_name == current_thread_name_.Get())
    return;
  current_thread_name_.Set(const_cast<char*>(new_name));
  AutoLock thread_info_lock(thread_info_lock_);
  auto existing = thread_names_.find(thread_id);
  if (existing == thread_names_.end()) {
    thread_names_[thread_id] = new_name;
    return;
  }
  // A thread that was renamed keeps every name it had, comma-separated.
  bool found = false;
  bool any_piece = false;
  StringTokenizer names(existing->second, ",");
  while (names.AdvanceToken()) {
    any_piece = true;
    if (names.token() == new_name) {
      found = true;
      break;
    }
  }
  if (!found) {
    if (any_piece)
      existing->second.push_back(',');
    existing->second.append(new_name);
  }
}

TraceEventHandle TraceLog::AddTraceEventWithThreadIdAndTimestamp(
    char phase, const unsigned char* category_group_enabled, const char* name, const char* scope,
    unsigned long long id, unsigned long long bind_id, int thread_id, const TimeTicks& timestamp, int num_args,
    const char* const* arg_names, const unsigned char* arg_types, const unsigned long long* arg_values,
    std::unique_ptr<ConvertableToTraceFormat>* convertable_values, unsigned int flags) {
  TraceEventHandle handle;
  const unsigned char category_flags = LoadCategoryFlags(category_group_enabled);
  if (!category_flags)
    return handle;
  // An observer, callback or allocation hook that traces must not recurse into the log.
  if (thread_is_in_trace_event_.Get())
    return handle;
  AutoThreadLocalBoolean thread_is_in_trace_event(&thread_is_in_trace_event_);

  if (flags & kTraceEventFlagMangleId) {
    if (flags & (kTraceEventFlagFlowIn | kTraceEventFlagFlowOut))
      bind_id = MangleEventId(bind_id);
    id = MangleEventId(id);
  }

  const TimeTicks offset_event_timestamp = OffsetTimestamp(timestamp);
  const ThreadTicks thread_now = ThreadNow();

  ThreadLocalEventBuffer* thread_local_event_buffer = GetOrCreateThreadLocalEventBuffer();

  if (thread_id == CurrentThreadId())
    RecordThreadName(thread_id);

  if (category_flags & kCategoryEnabledForEtwExport)
    EtwTraceExport::AddEvent(phase, category_group_enabled, name, id, num_args, arg_names, arg_types, arg_values);

  std::string console_message;
  if (category_flags & kCategoryEnabledForRecording) {
    OptionalAutoLock lock(&lock_);
    TraceEvent* trace_event = nullptr;
    if (thread_local_event_buffer) {
      trace_event = thread_local_event_buffer->AddTraceEvent(&handle);
    } else {
      lock.EnsureAcquired();
      trace_event = AddEventToThreadSharedChunkWhileLocked(&handle, true);
    }
    if (trace_event) {
      trace_event->Initialize(thread_id, offset_event_timestamp, thread_now, phase, category_group_enabled, name,
                              scope, id, bind_id, num_args, arg_names, arg_types, arg_values, convertable_values,
                              flags);
      if (trace_options() & kTraceEchoToConsole) {
        console_message = EventToConsoleMessage(
            phase == kTraceEventPhaseComplete ? kTraceEventPhaseBegin : phase, timestamp, trace_event);
      }
    }
  }
  if (!console_message.empty())
    LOG(ERROR) << console_message;

  if (watch_category_.load(std::memory_order_acquire) == category_group_enabled) {
    Closure watch_event_callback_copy;
    {
      AutoLock lock(lock_);
      if (name && watch_event_name_ == name)
        watch_event_callback_copy = watch_event_callback_;
    }
    if (!watch_event_callback_copy.is_null())
      watch_event_callback_copy.Run();
  }

  if (category_flags & kCategoryEnabledForEventCallback) {
    EventCallback event_callback = event_callback_.load();
    if (event_callback) {
      event_callback(offset_event_timestamp,
                     phase == kTraceEventPhaseComplete ? kTraceEventPhaseBegin : phase, category_group_enabled,
                     name, scope, id, num_args, arg_names, arg_types, arg_values, flags);
    }
  }

  // Copied names do not outlive the call, so they are not pushed.
  if (!(flags & kTraceEventFlagCopy) && AllocationContextTracker::capture_enabled()) {
    if (phase == kTraceEventPhaseBegin || phase == kTraceEventPhaseComplete) {
      if (AllocationContextTracker* tracker = AllocationContextTracker::GetInstanceForCurrentThread())
        tracker->PushPseudoStackFrame(name);
    } else if (phase == kTraceEventPhaseEnd) {
      if (AllocationContextTracker* tracker = AllocationContextTracker::GetInstanceForCurrentThread())
        tracker->PopPseudoStackFrame(name);
    }
  }
  return handle;
}

void TraceLog::UpdateTraceEventDuration(const unsigned char* category_group_enabled, const char* name,
                                        TraceEventHandle handle) {
  const unsigned char category_flags = LoadCategoryFlags(category_group_enabled);
  if (!category_flags)
    return;
  if (thread_is_in_trace_event_.Get())
    return;
  AutoThreadLocalBoolean thread_is_in_trace_event(&thread_is_in_trace_event_);

  const ThreadTicks thread_now = ThreadNow();
  const TimeTicks now = OffsetNow();

  if (category_flags & kCategoryEnabledForEtwExport)
    EtwTraceExport::AddCompleteEndEvent(name);

  // The pop mirrors the push made when the event was added: that push happens whatever the flag bits were,
  // and not for a copied event.
  bool pseudo_stack_frame_pushed = true;
  std::string console_message;
  if (category_flags & kCategoryEnabledForRecording) {
    OptionalAutoLock lock(&lock_);
    TraceEvent* trace_event = GetEventByHandleInternal(handle, &lock);
    if (trace_event) {
      trace_event->UpdateDuration(now, thread_now);
      pseudo_stack_frame_pushed = !(trace_event->flags() & kTraceEventFlagCopy);
      if (trace_options() & kTraceEchoToConsole)
        console_message = EventToConsoleMessage(kTraceEventPhaseEnd, now, trace_event);
    }
  }
  if (!console_message.empty())
    LOG(ERROR) << console_message;

  if (pseudo_stack_frame_pushed && AllocationContextTracker::capture_enabled()) {
    if (AllocationContextTracker* tracker = AllocationContextTracker::GetInstanceForCurrentThread())
      tracker->PopPseudoStackFrame(name);
  }

  if (category_flags & kCategoryEnabledForEventCallback) {
    EventCallback event_callback = event_callback_.load();
    if (event_callback) {
      event_callback(now, kTraceEventPhaseEnd, category_group_enabled, name, nullptr, 0, 0, nullptr, nullptr,
                     nullptr, kTraceEventFlagNone);
    }
  }
}

TraceEvent* TraceLog::GetEventByHandleInternal(TraceEventHandle handle, OptionalAutoLock* lock) {
  if (!handle.chunk_seq)
    return nullptr;
  if (ThreadLocalEventBuffer* buffer = thread_local_event_buffer_.Get()) {
    if (TraceEvent* trace_event = buffer->GetEventByHandle(handle))
      return trace_event;
  }
  lock->EnsureAcquired();
  if (thread_shared_chunk_ && handle.chunk_index == thread_shared_chunk_index_) {
    return handle.chunk_seq == thread_shared_chunk_->seq() ? thread_shared_chunk_->GetEventAt(handle.event_index)
                                                           : nullptr;
  }
  return logged_events_->GetEventByHandle(handle);
}

void TraceLog::ReturnSharedChunkWhileLocked() {
  if (thread_shared_chunk_)
    logged_events_->ReturnChunk(thread_shared_chunk_index_, std::move(thread_shared_chunk_));
  thread_shared_chunk_.reset();
}

TraceEvent* TraceLog::AddEventToThreadSharedChunkWhileLocked(TraceEventHandle* handle, bool check_buffer_is_full) {
  if (thread_shared_chunk_ && thread_shared_chunk_->IsFull())
    ReturnSharedChunkWhileLocked();
  if (!thread_shared_chunk_) {
    thread_shared_chunk_ = logged_events_->GetChunk(&thread_shared_chunk_index_);
    if (check_buffer_is_full) {
      CheckIfBufferIsFullWhileLocked();
      // Disabling wrote metadata into the shared chunk and let other threads in while observers were told.
      if (thread_shared_chunk_ && thread_shared_chunk_->IsFull())
        ReturnSharedChunkWhileLocked();
      if (!thread_shared_chunk_)
        thread_shared_chunk_ = logged_events_->GetChunk(&thread_shared_chunk_index_);
    }
  }
  if (!thread_shared_chunk_)
    return nullptr;
  size_t event_index = 0;
  TraceEvent* trace_event = thread_shared_chunk_->AddTraceEvent(&event_index);
  if (handle)
    MakeHandle(thread_shared_chunk_->seq(), thread_shared_chunk_index_, event_index, handle);
  return trace_event;
}

void TraceLog::CheckIfBufferIsFullWhileLocked() {
  if (!logged_events_->IsFull())
    return;
  if (buffer_limit_reached_timestamp_.is_null())
    buffer_limit_reached_timestamp_ = OffsetNow();
  SetDisabledWhileLocked();
}

void TraceLog::SetDisabled() {
  AutoLock lock(lock_);
  SetDisabledWhileLocked();
}

void TraceLog::SetDisabledWhileLocked() {
  if (mode_ == 0 || dispatching_to_observer_list_)
    return;
  mode_ = 0;
  trace_config_.Clear();
  watch_category_.store(nullptr, std::memory_order_release);
  watch_event_name_ = "";
  UpdateCategoryGroupEnabledFlags();
  AddMetadataEventsWhileLocked();
  metadata_events_.clear();

  dispatching_to_observer_list_ = true;
  const std::vector<EnabledStateObserver*> observer_list = enabled_state_observer_list_;
  lock_.Release();
  for (EnabledStateObserver* observer : observer_list)
    observer->OnTraceLogDisabled();
  lock_.Acquire();
  dispatching_to_observer_list_ = false;
}

void TraceLog::AddMetadataEventsWhileLocked() {
  while (!metadata_events_.empty()) {
    if (TraceEvent* event = AddEventToThreadSharedChunkWhileLocked(nullptr, false))
      event->MoveFrom(std::move(metadata_events_.back()));
    metadata_events_.pop_back();
  }

  SYSTEM_INFO system_info = {};
  GetSystemInfo(&system_info);
  InitializeMetadataEvent(AddEventToThreadSharedChunkWhileLocked(nullptr, false), 0, "num_cpus", "number",
                          static_cast<long long>(system_info.dwNumberOfProcessors));

  const int current_thread_id = CurrentThreadId();
  if (process_sort_index_ != 0) {
    InitializeMetadataEvent(AddEventToThreadSharedChunkWhileLocked(nullptr, false), current_thread_id,
                            "process_sort_index", "sort_index", static_cast<long long>(process_sort_index_));
  }
  if (!process_name_.empty()) {
    InitializeMetadataEvent(AddEventToThreadSharedChunkWhileLocked(nullptr, false), current_thread_id,
                            "process_name", "name", process_name_);
  }
  if (!process_labels_.empty()) {
    std::string labels;
    for (const auto& label : process_labels_) {
      if (!labels.empty())
        labels.push_back(',');
      labels += label.second;
    }
    InitializeMetadataEvent(AddEventToThreadSharedChunkWhileLocked(nullptr, false), current_thread_id,
                            "process_labels", "labels", labels);
  }
  for (const auto& sort_index : thread_sort_indices_) {
    if (sort_index.second == 0)
      continue;
    InitializeMetadataEvent(AddEventToThreadSharedChunkWhileLocked(nullptr, false), sort_index.first,
                            "thread_sort_index", "sort_index", static_cast<long long>(sort_index.second));
  }

  AutoLock thread_info_lock(thread_info_lock_);
  for (const auto& thread_name : thread_names_) {
    if (thread_name.second.empty())
      continue;
    InitializeMetadataEvent(AddEventToThreadSharedChunkWhileLocked(nullptr, false), thread_name.first,
                            "thread_name", "name", thread_name.second);
  }
  if (!buffer_limit_reached_timestamp_.is_null()) {
    InitializeMetadataEvent(AddEventToThreadSharedChunkWhileLocked(nullptr, false), current_thread_id,
                            "trace_buffer_overflowed", "overflowed_at_ts",
                            static_cast<long long>(buffer_limit_reached_timestamp_.ToInternalValue()));
  }
}

void TraceLog::AddMetadataEvent(const unsigned char* category_group_enabled, const char* name, int num_args,
                                const char* const* arg_names, const unsigned char* arg_types,
                                const unsigned long long* arg_values,
                                std::unique_ptr<ConvertableToTraceFormat>* convertable_values, unsigned int flags) {
  auto trace_event = std::make_unique<TraceEvent>();
  trace_event->Initialize(CurrentThreadId(), OffsetNow(), ThreadNow(), kTraceEventPhaseMetadata,
                          category_group_enabled, name, nullptr, 0, 0, num_args, arg_names, arg_types, arg_values,
                          convertable_values, flags);
  AutoLock lock(lock_);
  metadata_events_.push_back(std::move(trace_event));
}

std::string TraceLog::EventToConsoleMessage(char phase, const TimeTicks& timestamp, TraceEvent* trace_event) {
  AutoLock thread_info_lock(thread_info_lock_);
  const int thread_id = trace_event ? trace_event->thread_id() : CurrentThreadId();
  std::stack<TimeTicks>& start_times = thread_event_start_times_[thread_id];

  TimeDelta duration;
  if (phase == kTraceEventPhaseEnd && !start_times.empty()) {
    // An end without a recorded begin (tracing started inside the scope) shows no time spent.
    duration = timestamp - start_times.top();
    start_times.pop();
  }

  std::string thread_name;
  auto name = thread_names_.find(thread_id);
  if (name != thread_names_.end())
    thread_name = name->second;
  auto color = thread_colors_.find(thread_name);
  if (color == thread_colors_.end()) {
    const int new_color = static_cast<int>(thread_colors_.size() % 6) + 1;
    color = thread_colors_.emplace(thread_name, new_color).first;
  }

  std::ostringstream log;
  log << StringPrintf("%s: \x1b[0;3%dm", thread_name.c_str(), color->second);
  for (size_t i = 0; i < start_times.size(); ++i)
    log << "| ";
  if (trace_event)
    trace_event->AppendPrettyPrinted(&log);
  if (phase == kTraceEventPhaseEnd)
    log << StringPrintf(" (%.3f ms)", duration.InMillisecondsF());
  log << "\x1b[0;m";

  if (phase == kTraceEventPhaseBegin)
    start_times.push(timestamp);
  return log.str();
}

void TraceLog::AddEnabledStateObserver(EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  enabled_state_observer_list_.push_back(observer);
}

void TraceLog::RemoveEnabledStateObserver(EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  auto it = std::find(enabled_state_observer_list_.begin(), enabled_state_observer_list_.end(), observer);
  if (it != enabled_state_observer_list_.end())
    enabled_state_observer_list_.erase(it);
}

void TraceLog::SetProcessName(const std::string& process_name) {
  AutoLock lock(lock_);
  process_name_ = process_name;
}

void TraceLog::SetProcessSortIndex(int sort_index) {
  AutoLock lock(lock_);
  process_sort_index_ = sort_index;
}

void TraceLog::UpdateProcessLabel(int label_id, const std::string& current_label) {
  AutoLock lock(lock_);
  if (current_label.empty())
    process_labels_.erase(label_id);
  else
    process_labels_[label_id] = current_label;
}

void TraceLog::SetThreadSortIndex(int thread_id, int sort_index) {
  AutoLock lock(lock_);
  thread_sort_indices_[thread_id] = sort_index;
}

bool TraceLog::OnMemoryDump(const MemoryDumpArgs& /*args*/, ProcessMemoryDump* pmd) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(kTraceLogOverheadName, kTraceLogEstimatedSize);
  {
    AutoLock lock(lock_);
    if (logged_events_)
      logged_events_->EstimateTraceMemoryOverhead(&overhead);
    for (const auto& metadata_event : metadata_events_)
      metadata_event->EstimateTraceMemoryOverhead(&overhead);
  }
  overhead.AddSelf();
  overhead.DumpInto("tracing/main_trace_log", pmd);
  return true;
}

void TraceLog::SetEnabledForTesting(const TraceCategoryFilter& config, int trace_options) {
  std::vector<EnabledStateObserver*> observer_list;
  {
    AutoLock lock(lock_);
    trace_options_.store(trace_options, std::memory_order_relaxed);
    UseNextTraceBuffer();
    buffer_limit_reached_timestamp_ = TimeTicks();
    mode_ = 1;
    trace_config_ = config;
    UpdateCategoryGroupEnabledFlags();
    observer_list = enabled_state_observer_list_;
  }
  for (EnabledStateObserver* observer : observer_list)
    observer->OnTraceLogEnabled();
}

void TraceLog::SetEventCallbackEnabledForTesting(const TraceCategoryFilter& config, EventCallback callback) {
  AutoLock lock(lock_);
  event_callback_trace_config_ = config;
  event_callback_.store(callback);
  UpdateCategoryGroupEnabledFlags();
}

void TraceLog::SetEventCallbackDisabledForTesting() {
  AutoLock lock(lock_);
  event_callback_.store(nullptr);
  UpdateCategoryGroupEnabledFlags();
}

void TraceLog::SetWatchEventForTesting(const char* category_name, const std::string& event_name,
                                       Closure callback) {
  const unsigned char* category = GetCategoryGroupEnabled(category_name);
  AutoLock lock(lock_);
  watch_category_.store(category, std::memory_order_release);
  watch_event_name_ = event_name;
  watch_event_callback_ = std::move(callback);
}

std::unique_ptr<TraceBuffer> TraceLog::TakeTraceBufferForTesting() {
  AutoLock lock(lock_);
  ReturnSharedChunkWhileLocked();
  if (ThreadLocalEventBuffer* buffer = thread_local_event_buffer_.Get())
    buffer->FlushWhileLocked();
  std::unique_ptr<TraceBuffer> buffer = UseNextTraceBuffer();
  return buffer;
}

TraceEventHandle AddTraceEventWithBindId(char phase, const unsigned char* category_group_enabled, const char* name,
                                         const char* scope, unsigned long long id, TraceEventFlags flags,
                                         TraceBindId bind_id) {
  return TraceLog::GetInstance()->AddTraceEventWithThreadIdAndTimestamp(
      phase, category_group_enabled, name, scope, id, bind_id.value, CurrentThreadId(), TimeTicks::Now(), 0,
      nullptr, nullptr, nullptr, nullptr, flags.value);
}

}  // namespace trace_event
}  // namespace base
