// Gives each heap-profiler type name (compared by address) a small integer id and prints the table as a JSON
// dictionary from id to the type's category: the source folder of the file the type name refers to.
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_TYPE_NAME_DEDUPLICATOR_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_TYPE_NAME_DEDUPLICATOR_H_

#include <cstdint>
#include <map>
#include <string>

#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

class TraceEventMemoryOverhead;

inline constexpr char kTypeNameDeduplicatorOverheadName[] = "TypeNameDeduplicator";

class TypeNameDeduplicator : public ConvertableToTraceFormat {
 public:
  // Holds the unknown type (null) as id 0.
  TypeNameDeduplicator();
  ~TypeNameDeduplicator() override;

  // The id of `type_name`, given on first sight.
  int32_t Insert(const char* type_name);

  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

  // The part of a type name before its last '/' or '\', without leading "../" steps; the whole name when it
  // has no separator.
  static std::string ExtractCategoryFromTypeName(const char* type_name);

 private:
  std::map<const char*, int32_t> type_ids_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_TYPE_NAME_DEDUPLICATOR_H_
