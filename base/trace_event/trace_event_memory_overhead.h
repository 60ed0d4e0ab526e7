// The accounting table with which tracing estimates its own memory: every trace structure adds its estimated
// sizes under an object-type name, and the table writes one allocator dump per type into a process dump.
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/trace_event/small_map.h"

namespace base {
namespace trace_event {

class ProcessMemoryDump;

// Object-type names shared by several files: the table compares names by address, so every user of a name
// must use the one constant.
inline constexpr char kTraceEventOverheadName[] = "TraceEvent";
inline constexpr char kUnusedTraceEventOverheadName[] = "TraceEvent (unused)";
inline constexpr char kStringOverheadName[] = "std::string";
inline constexpr char kOverheadSelfName[] = "TraceEventMemoryOverhead";
inline constexpr char kUnknownConvertableOverheadName[] = "ConvertableToTraceFormat(Unknown)";

class TraceEventMemoryOverhead {
 public:
  TraceEventMemoryOverhead();
  TraceEventMemoryOverhead(const TraceEventMemoryOverhead&) = delete;
  TraceEventMemoryOverhead& operator=(const TraceEventMemoryOverhead&) = delete;
  ~TraceEventMemoryOverhead();

  // One object of `name` (a literal: compared by address) with allocated = resident = size_in_bytes.
  void Add(const char* name, size_t size_in_bytes);
  void Add(const char* name, size_t allocated_size_in_bytes, size_t resident_size_in_bytes);
  // One "std::string" object: the string object plus its heap block.
  void AddString(const std::string& str);
  // The table itself.
  void AddSelf();
  // Adds every entry of `other`.
  void Update(const TraceEventMemoryOverhead& other);

  // Totals of `name`; 0 when absent.
  uint64_t GetCount(const char* name) const;
  uint64_t GetAllocatedBytes(const char* name) const;
  uint64_t GetResidentBytes(const char* name) const;
  size_t GetNumberOfNames() const { return allocated_objects_.size(); }

  // One allocator dump "<base_name>/<name>" per entry with the scalars "size", "resident_size" and
  // "object_count".
  void DumpInto(const char* base_name, ProcessMemoryDump* pmd) const;

 private:
  struct ObjectCountAndSize {
    uint64_t count = 0;
    uint64_t allocated_size_in_bytes = 0;
    uint64_t resident_size_in_bytes = 0;
  };

  void AddOrCreateInternal(const char* name, uint64_t count, uint64_t allocated_size_in_bytes,
                           uint64_t resident_size_in_bytes);

  SmallMap<ObjectCountAndSize> allocated_objects_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
