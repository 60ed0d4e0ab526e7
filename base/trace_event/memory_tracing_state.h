// What the memory dump manager keeps while memory tracing is on: the heap profiler's two tables, printed into
// the trace as metadata.
#ifndef BASE_TRACE_EVENT_MEMORY_TRACING_STATE_H_
#define BASE_TRACE_EVENT_MEMORY_TRACING_STATE_H_

#include <memory>

#include "base/memory/ref_counted.h"
#include "base/trace_event/heap_profiler_stack_frame_deduplicator.h"
#include "base/trace_event/heap_profiler_type_name_deduplicator.h"

namespace base {
namespace trace_event {

class MemoryTracingState : public RefCountedThreadSafe<MemoryTracingState> {
 public:
  MemoryTracingState();
  MemoryTracingState(const MemoryTracingState&) = delete;
  MemoryTracingState& operator=(const MemoryTracingState&) = delete;

  // Each setter replaces (and deletes) the previous table.
  void SetStackFrameDeduplicator(std::unique_ptr<StackFrameDeduplicator> stack_frame_deduplicator);
  void SetTypeNameDeduplicator(std::unique_ptr<TypeNameDeduplicator> type_name_deduplicator);

  StackFrameDeduplicator* stack_frame_deduplicator() const { return stack_frame_deduplicator_.get(); }
  TypeNameDeduplicator* type_name_deduplicator() const { return type_name_deduplicator_.get(); }

 private:
  friend class RefCountedThreadSafe<MemoryTracingState>;
  ~MemoryTracingState();

  std::unique_ptr<StackFrameDeduplicator> stack_frame_deduplicator_;
  std::unique_ptr<TypeNameDeduplicator> type_name_deduplicator_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_TRACING_STATE_H_
