#include "base/trace_event/memory_tracing_state.h"

#include <utility>

namespace base {
namespace trace_event {

MemoryTracingState::MemoryTracingState() = default;
MemoryTracingState::~MemoryTracingState() = default;

void MemoryTracingState::SetStackFrameDeduplicator(std::unique_ptr<StackFrameDeduplicator> stack_frame_deduplicator) {
  stack_frame_deduplicator_ = std::move(stack_frame_deduplicator);
}

void MemoryTracingState::SetTypeNameDeduplicator(std::unique_ptr<TypeNameDeduplicator> type_name_deduplicator) {
  type_name_deduplicator_ = std::move(type_name_deduplicator);
}

}  // namespace trace_event
}  // namespace base
