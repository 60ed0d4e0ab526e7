// What a dump provider fills when asked for its memory use: allocator dumps by absolute name.
#ifndef BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
#define BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_

#include <memory>
#include <string>
#include <unordered_map>

#include "base/trace_event/memory_allocator_dump.h"

namespace base {
namespace trace_event {

// How much a dump request asks for.
struct MemoryDumpArgs {
  uint32_t level_of_detail = 0;  // 0 light, 1 detailed
};

class ProcessMemoryDump {
 public:
  using AllocatorDumpsMap = std::unordered_map<std::string, std::unique_ptr<MemoryAllocatorDump>>;

  ProcessMemoryDump();
  ProcessMemoryDump(const ProcessMemoryDump&) = delete;
  ProcessMemoryDump& operator=(const ProcessMemoryDump&) = delete;
  ~ProcessMemoryDump();

  // The dump stored under `absolute_name`; a second call with the same name returns the first dump.
  MemoryAllocatorDump* CreateAllocatorDump(const std::string& absolute_name);
  // Null when there is none.
  MemoryAllocatorDump* GetAllocatorDump(const std::string& absolute_name) const;

  const AllocatorDumpsMap& allocator_dumps() const { return allocator_dumps_; }

 private:
  AllocatorDumpsMap allocator_dumps_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
