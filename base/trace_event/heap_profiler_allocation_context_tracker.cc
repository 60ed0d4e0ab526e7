#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

#include <cstdint>

#include "base/synchronization/lock.h"
#include "base/threading/thread_local_storage.h"

namespace base {
namespace trace_event {

namespace {

constinit ThreadLocalStorage::Slot g_tls_alloc_ctx_tracker;
// Published after the slot is initialised; the slot's own flag is not meant for concurrent readers.
std::atomic<bool> g_tls_slot_ready{false};
constinit Lock g_tls_slot_lock;

// Marks the slot while the thread's tracker is being made.
AllocationContextTracker* const kInitializingSentinel =
    reinterpret_cast<AllocationContextTracker*>(static_cast<uintptr_t>(-1));

void DestructAllocationContextTracker(void* alloc_ctx_tracker) {
  delete static_cast<AllocationContextTracker*>(alloc_ctx_tracker);
}

}  // namespace

std::atomic<int32_t> AllocationContextTracker::capture_enabled_{0};

AllocationContextTracker::AllocationContextTracker() {
  pseudo_stack_.reserve(kMaxStackDepth);
  task_contexts_.reserve(kMaxTaskDepth);
}

AllocationContextTracker::~AllocationContextTracker() = default;

// static
void AllocationContextTracker::SetCaptureEnabled(bool enabled) {
  if (enabled && !g_tls_slot_ready.load(std::memory_order_acquire)) {
    AutoLock lock(g_tls_slot_lock);
    if (!g_tls_slot_ready.load(std::memory_order_relaxed)) {
      g_tls_alloc_ctx_tracker.Initialize(DestructAllocationContextTracker);
      g_tls_slot_ready.store(true, std::memory_order_release);
    }
  }
  capture_enabled_.store(enabled ? 1 : 0, std::memory_order_release);
}

// static
AllocationContextTracker* AllocationContextTracker::GetInstanceForCurrentThread() {
  // Before capture was ever switched on there is no slot, hence no tracker.
  if (!g_tls_slot_ready.load(std::memory_order_acquire))
    return nullptr;
  AllocationContextTracker* tracker = static_cast<AllocationContextTracker*>(g_tls_alloc_ctx_tracker.Get());
  if (tracker == kInitializingSentinel)
    return nullptr;
  if (!tracker) {
    g_tls_alloc_ctx_tracker.Set(kInitializingSentinel);
    tracker = new AllocationContextTracker();
    g_tls_alloc_ctx_tracker.Set(tracker);
  }
  return tracker;
}

// static
void AllocationContextTracker::SetCurrentThreadName(const char* name) {
  if (!name || !capture_enabled())
    return;
  if (AllocationContextTracker* tracker = GetInstanceForCurrentThread())
    tracker->thread_name_ = name;
}

void AllocationContextTracker::PushPseudoStackFrame(const char* trace_event_name) {
  if (pseudo_stack_.size() < kMaxStackDepth)
    pseudo_stack_.push_back(trace_event_name);
}

void AllocationContextTracker::PopPseudoStackFrame(const char* /*trace_event_name*/) {
  if (!pseudo_stack_.empty())
    pseudo_stack_.pop_back();
}

void AllocationContextTracker::PushCurrentTaskContext(const char* context) {
  if (task_contexts_.size() < kMaxTaskDepth)
    task_contexts_.push_back(context);
}

void AllocationContextTracker::PopCurrentTaskContext(const char* /*context*/) {
  if (!task_contexts_.empty())
    task_contexts_.pop_back();
}

}  // namespace trace_event
}  // namespace base
