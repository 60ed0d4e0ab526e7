// A tree of heap-profiler stack frames (trace-event names and thread names), each frame stored once per
// distinct path from a root, printed as a JSON dictionary from frame index to {"name", "parent"}.
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_STACK_FRAME_DEDUPLICATOR_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_STACK_FRAME_DEDUPLICATOR_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

class TraceEventMemoryOverhead;

inline constexpr char kStackFrameDeduplicatorOverheadName[] = "StackFrameDeduplicator";

struct StackFrame {
  enum class Type : uint32_t {
    TRACE_EVENT_NAME = 0,
    THREAD_NAME = 1,
  };

  static StackFrame FromTraceEventName(const char* name) { return {Type::TRACE_EVENT_NAME, name}; }
  static StackFrame FromThreadName(const char* name) { return {Type::THREAD_NAME, name}; }

  bool operator<(const StackFrame& other) const {
    return type != other.type ? type < other.type : value < other.value;
  }

  Type type;
  const char* value;  // compared by address: names are literals or interned
};

class StackFrameDeduplicator : public ConvertableToTraceFormat {
 public:
  struct FrameNode {
    FrameNode(StackFrame frame, int32_t parent_frame_index);
    FrameNode(const FrameNode& other);
    ~FrameNode();

    StackFrame frame;
    int32_t parent_frame_index;  // kInvalidFrameIndex for a root
    std::map<StackFrame, int32_t> children;
  };
  static constexpr int32_t kInvalidFrameIndex = -1;

  StackFrameDeduplicator();
  ~StackFrameDeduplicator() override;

  // Adds the path [begin, end) from the outermost frame inward and returns the index of its last frame
  // (kInvalidFrameIndex for an empty path).
  int32_t Insert(const StackFrame* begin_frame, const StackFrame* end_frame);

  const std::vector<FrameNode>& frames() const { return frames_; }

  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  std::map<StackFrame, int32_t> roots_;
  std::vector<FrameNode> frames_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_STACK_FRAME_DEDUPLICATOR_H_
