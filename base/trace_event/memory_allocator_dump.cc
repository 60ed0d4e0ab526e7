#include "base/trace_event/memory_allocator_dump.h"

#include "base/sha1.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

MemoryAllocatorDump::MemoryAllocatorDump(const std::string& absolute_name, ProcessMemoryDump* process_memory_dump)
    : absolute_name_(absolute_name),
      process_memory_dump_(process_memory_dump),
      attributes_(std::make_unique<TracedValue>()),
      guid_(GetDumpIdFromName(absolute_name)) {
  string_conversion_buffer_.reserve(16);
}

MemoryAllocatorDump::~MemoryAllocatorDump() = default;

// static
uint64_t MemoryAllocatorDump::GetDumpIdFromName(const std::string& absolute_name) {
  return Sha1OfString(StringPrintf("%d:%s", TraceLog::GetInstance()->process_id(), absolute_name.c_str()));
}

void MemoryAllocatorDump::AddScalar(const char* name, const char* units, uint64_t value) {
  StringPrintfInto(&string_conversion_buffer_, "%llx", static_cast<unsigned long long>(value));
  attributes_->BeginDictionary(name);
  attributes_->SetString("type", kTypeScalar);
  attributes_->SetString("units", units);
  attributes_->SetString("value", string_conversion_buffer_);
  attributes_->EndDictionary();
}

}  // namespace trace_event
}  // namespace base
