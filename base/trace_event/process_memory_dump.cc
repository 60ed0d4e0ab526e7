#include "base/trace_event/process_memory_dump.h"

#include <utility>

namespace base {
namespace trace_event {

ProcessMemoryDump::ProcessMemoryDump() = default;
ProcessMemoryDump::~ProcessMemoryDump() = default;

MemoryAllocatorDump* ProcessMemoryDump::CreateAllocatorDump(const std::string& absolute_name) {
  auto dump = std::make_unique<MemoryAllocatorDump>(absolute_name, this);
  auto inserted = allocator_dumps_.emplace(absolute_name, std::move(dump));
  return inserted.first->second.get();
}

MemoryAllocatorDump* ProcessMemoryDump::GetAllocatorDump(const std::string& absolute_name) const {
  auto it = allocator_dumps_.find(absolute_name);
  return it == allocator_dumps_.end() ? nullptr : it->second.get();
}

}  // namespace trace_event
}  // namespace base
