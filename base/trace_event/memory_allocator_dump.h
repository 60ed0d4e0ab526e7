// One named allocator entry of a process memory dump: a slash-separated absolute name, a stable 64-bit id and
// a dictionary of scalar attributes.
#ifndef BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
#define BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/trace_event/traced_value.h"

namespace base {
namespace trace_event {

class ProcessMemoryDump;

class MemoryAllocatorDump {
 public:
  static constexpr char kNameSize[] = "size";
  static constexpr char kNameObjectCount[] = "object_count";
  static constexpr char kTypeScalar[] = "scalar";
  static constexpr char kUnitsBytes[] = "bytes";
  static constexpr char kUnitsObjects[] = "objects";

  MemoryAllocatorDump(const std::string& absolute_name, ProcessMemoryDump* process_memory_dump);
  MemoryAllocatorDump(const MemoryAllocatorDump&) = delete;
  MemoryAllocatorDump& operator=(const MemoryAllocatorDump&) = delete;
  ~MemoryAllocatorDump();

  // Adds {"type": "scalar", "units": units, "value": <lowercase hex>} under `name` (a literal).
  void AddScalar(const char* name, const char* units, uint64_t value);

  // The first 8 bytes of SHA-1("<process id>:<absolute name>"), little-endian: equal in every dump of the
  // process.
  static uint64_t GetDumpIdFromName(const std::string& absolute_name);

  const std::string& absolute_name() const { return absolute_name_; }
  ProcessMemoryDump* process_memory_dump() const { return process_memory_dump_; }
  const TracedValue* attributes() const { return attributes_.get(); }
  uint64_t guid() const { return guid_; }

 private:
  std::string absolute_name_;
  ProcessMemoryDump* process_memory_dump_;
  std::unique_ptr<TracedValue> attributes_;
  uint64_t guid_;
  std::string string_conversion_buffer_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
