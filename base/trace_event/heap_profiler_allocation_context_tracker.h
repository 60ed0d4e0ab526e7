// The heap profiler's record of what a thread is doing: a pseudo stack of trace-event names, a stack of task
// contexts (the posting file of the running task) and the thread's name. One tracker per thread, made on first
// use once capture is switched on, deleted when the thread ends.
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_ALLOCATION_CONTEXT_TRACKER_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_ALLOCATION_CONTEXT_TRACKER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace base {
namespace trace_event {

class AllocationContextTracker {
 public:
  static constexpr size_t kMaxStackDepth = 128;
  static constexpr size_t kMaxTaskDepth = 16;

  AllocationContextTracker(const AllocationContextTracker&) = delete;
  AllocationContextTracker& operator=(const AllocationContextTracker&) = delete;
  ~AllocationContextTracker();

  // Switches capture on or off for the process. The per-thread slot is ready before the flag is seen set.
  static void SetCaptureEnabled(bool enabled);
  // The word callers test before touching a tracker (around every task, every traced scope).
  static bool capture_enabled() { return capture_enabled_.load(std::memory_order_acquire) != 0; }

  // The calling thread's tracker, made on first use; null while it is being made on this thread (an
  // allocation made by the constructor must not recurse into a second tracker).
  static AllocationContextTracker* GetInstanceForCurrentThread();

  // Names the calling thread's context; `name` is interned and lives as long as the process. Does nothing
  // unless capture is on.
  static void SetCurrentThreadName(const char* name);

  // A push beyond the depth limit is dropped; a pop on an empty stack does nothing. Pops do not compare
  // the name with the top entry.
  void PushPseudoStackFrame(const char* trace_event_name);
  void PopPseudoStackFrame(const char* trace_event_name);
  void PushCurrentTaskContext(const char* context);
  void PopCurrentTaskContext(const char* context);

  const std::vector<const char*>& pseudo_stack() const { return pseudo_stack_; }
  const std::vector<const char*>& task_contexts() const { return task_contexts_; }
  const char* thread_name() const { return thread_name_; }

 private:
  AllocationContextTracker();

  static std::atomic<int32_t> capture_enabled_;

  std::vector<const char*> pseudo_stack_;
  const char* thread_name_ = nullptr;
  std::vector<const char*> task_contexts_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_ALLOCATION_CONTEXT_TRACKER_H_
