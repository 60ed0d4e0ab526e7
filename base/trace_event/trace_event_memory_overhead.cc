#include "base/trace_event/trace_event_memory_overhead.h"

#include <algorithm>

#include "base/strings/stringprintf.h"
#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/process_memory_dump.h"

namespace base {
namespace trace_event {

TraceEventMemoryOverhead::TraceEventMemoryOverhead() = default;
TraceEventMemoryOverhead::~TraceEventMemoryOverhead() = default;

void TraceEventMemoryOverhead::AddOrCreateInternal(const char* name, uint64_t count,
                                                   uint64_t allocated_size_in_bytes,
                                                   uint64_t resident_size_in_bytes) {
  ObjectCountAndSize* totals = allocated_objects_.Insert(name, ObjectCountAndSize()).first;
  totals->count += count;
  totals->allocated_size_in_bytes += allocated_size_in_bytes;
  totals->resident_size_in_bytes += resident_size_in_bytes;
}

void TraceEventMemoryOverhead::Add(const char* name, size_t size_in_bytes) {
  Add(name, size_in_bytes, size_in_bytes);
}

void TraceEventMemoryOverhead::Add(const char* name, size_t allocated_size_in_bytes,
                                   size_t resident_size_in_bytes) {
  AddOrCreateInternal(name, 1, allocated_size_in_bytes, resident_size_in_bytes);
}

void TraceEventMemoryOverhead::AddString(const std::string& str) {
  // The heap block of a string is at least 32 bytes and grows in steps of 16.
  const size_t rounded_capacity = (str.capacity() + 15) / 16 * 16;
  Add(kStringOverheadName, sizeof(std::string) + std::max<size_t>(rounded_capacity, 32));
}

void TraceEventMemoryOverhead::AddSelf() {
  size_t estimated_size = sizeof(*this);
  if (allocated_objects_.UsingHashMap())
    estimated_size += allocated_objects_.size() * SmallMap<ObjectCountAndSize>::kEntrySize;
  Add(kOverheadSelfName, estimated_size);
}

void TraceEventMemoryOverhead::Update(const TraceEventMemoryOverhead& other) {
  other.allocated_objects_.ForEach([this](const char* name, const ObjectCountAndSize& totals) {
    AddOrCreateInternal(name, totals.count, totals.allocated_size_in_bytes, totals.resident_size_in_bytes);
  });
}

uint64_t TraceEventMemoryOverhead::GetCount(const char* name) const {
  const ObjectCountAndSize* totals = allocated_objects_.Find(name);
  return totals ? totals->count : 0;
}

uint64_t TraceEventMemoryOverhead::GetAllocatedBytes(const char* name) const {
  const ObjectCountAndSize* totals = allocated_objects_.Find(name);
  return totals ? totals->allocated_size_in_bytes : 0;
}

uint64_t TraceEventMemoryOverhead::GetResidentBytes(const char* name) const {
  const ObjectCountAndSize* totals = allocated_objects_.Find(name);
  return totals ? totals->resident_size_in_bytes : 0;
}

void TraceEventMemoryOverhead::DumpInto(const char* base_name, ProcessMemoryDump* pmd) const {
  allocated_objects_.ForEach([base_name, pmd](const char* name, const ObjectCountAndSize& totals) {
    MemoryAllocatorDump* dump = pmd->CreateAllocatorDump(StringPrintf("%s/%s", base_name, name));
    dump->AddScalar(MemoryAllocatorDump::kNameSize, MemoryAllocatorDump::kUnitsBytes,
                    totals.allocated_size_in_bytes);
    dump->AddScalar("resident_size", MemoryAllocatorDump::kUnitsBytes, totals.resident_size_in_bytes);
    dump->AddScalar(MemoryAllocatorDump::kNameObjectCount, MemoryAllocatorDump::kUnitsObjects, totals.count);
  });
}

}  // namespace trace_event
}  // namespace base
