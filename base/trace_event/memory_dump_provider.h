// Implemented by components that report their memory use to the memory dump manager.
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_

#include "base/trace_event/process_memory_dump.h"

namespace base {
namespace trace_event {

class MemoryDumpProvider {
 public:
  virtual ~MemoryDumpProvider() = default;

  // Fills `pmd` with the provider's allocator dumps; false when the dump failed.
  virtual bool OnMemoryDump(const MemoryDumpArgs& args, ProcessMemoryDump* pmd) = 0;

  // Heap profiling was switched on (it is never switched off again).
  virtual void OnHeapProfilingEnabled(bool /*enabled*/) {}

 protected:
  MemoryDumpProvider() = default;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
