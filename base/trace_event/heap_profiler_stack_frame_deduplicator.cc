#include "base/trace_event/heap_profiler_stack_frame_deduplicator.h"

#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/traced_value.h"

namespace base {
namespace trace_event {

namespace {
// One map entry: the frame (type and name) and its index.
constexpr size_t kMapEntrySize = 24;
}  // namespace

StackFrameDeduplicator::FrameNode::FrameNode(StackFrame frame, int32_t parent_frame_index)
    : frame(frame), parent_frame_index(parent_frame_index) {}
StackFrameDeduplicator::FrameNode::FrameNode(const FrameNode& other) = default;
StackFrameDeduplicator::FrameNode::~FrameNode() = default;

StackFrameDeduplicator::StackFrameDeduplicator() = default;
StackFrameDeduplicator::~StackFrameDeduplicator() = default;

int32_t StackFrameDeduplicator::Insert(const StackFrame* begin_frame, const StackFrame* end_frame) {
  int32_t frame_index = kInvalidFrameIndex;
  std::map<StackFrame, int32_t>* nodes = &roots_;
  for (const StackFrame* it = begin_frame; it != end_frame; ++it) {
    auto node = nodes->find(*it);
    if (node == nodes->end()) {
      const int32_t new_index = static_cast<int32_t>(frames_.size());
      // Into the parent's map before frames_ grows: growing moves the node that holds that map.
      nodes->emplace(*it, new_index);
      frames_.push_back(FrameNode(*it, frame_index));
      frame_index = new_index;
    } else {
      frame_index = node->second;
    }
    // frames_ may have grown: look the children up through the index, never through a kept reference.
    nodes = &frames_[frame_index].children;
  }
  return frame_index;
}

void StackFrameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  out->append("{");
  for (size_t i = 0; i < frames_.size(); ++i) {
    if (i > 0)
      out->append(",");
    StringAppendF(out, "\"%d\":", static_cast<int>(i));
    const FrameNode& node = frames_[i];
    TracedValue frame_node_value;
    switch (node.frame.type) {
      case StackFrame::Type::TRACE_EVENT_NAME:
        frame_node_value.SetString("name", node.frame.value ? node.frame.value : "");
        break;
      case StackFrame::Type::THREAD_NAME:
        frame_node_value.SetString("name", StringPrintf("[Thread: %s]", node.frame.value ? node.frame.value : ""));
        break;
    }
    if (node.parent_frame_index >= 0)
      frame_node_value.SetString("parent", StringPrintf("%d", node.parent_frame_index));
    frame_node_value.AppendAsTraceFormat(out);
  }
  out->append("}");
}

void StackFrameDeduplicator::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  size_t maps_size = roots_.size() * kMapEntrySize;
  for (const FrameNode& node : frames_)
    maps_size += node.children.size() * kMapEntrySize;
  const size_t frames_allocated = frames_.capacity() * sizeof(FrameNode);
  const size_t frames_resident = frames_.size() * sizeof(FrameNode);
  overhead->Add(kStackFrameDeduplicatorOverheadName, sizeof(*this) + maps_size + frames_allocated,
                sizeof(*this) + maps_size + frames_resident);
}

}  // namespace trace_event
}  // namespace base
