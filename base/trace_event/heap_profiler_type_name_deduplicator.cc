#include "base/trace_event/heap_profiler_type_name_deduplicator.h"

#include <algorithm>

#include "base/json/string_escape.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

namespace {
constexpr size_t kEntrySize = 16;  // type-name pointer and id
}  // namespace

TypeNameDeduplicator::TypeNameDeduplicator() {
  type_ids_.emplace(nullptr, 0);
}

TypeNameDeduplicator::~TypeNameDeduplicator() = default;

int32_t TypeNameDeduplicator::Insert(const char* type_name) {
  auto result = type_ids_.emplace(type_name, static_cast<int32_t>(type_ids_.size()));
  return result.first->second;
}

// static
std::string TypeNameDeduplicator::ExtractCategoryFromTypeName(const char* type_name) {
  const std::string name(type_name ? type_name : "");
  const size_t last_separator = name.find_last_of("\\/");
  if (last_separator == std::string::npos)
    return name;
  std::string category = name.substr(0, last_separator);
  // Drop "../" steps; a bare ".." (nothing after it) leaves an empty category instead of running past the end.
  while (category.compare(0, 2, "..") == 0)
    category.erase(0, std::min<size_t>(3, category.size()));
  return category;
}

void TypeNameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  out->append("{");
  // The unknown type sorts first (null is the smallest address).
  out->append("\"0\":\"[unknown]\"");
  for (auto it = std::next(type_ids_.begin()); it != type_ids_.end(); ++it) {
    StringAppendF(out, ",\"%d\":", it->second);
    EscapeJsonStringImpl(ExtractCategoryFromTypeName(it->first), true, out);
  }
  out->append("}");
}

void TypeNameDeduplicator::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kTypeNameDeduplicatorOverheadName, sizeof(*this) + type_ids_.size() * kEntrySize);
}

}  // namespace trace_event
}  // namespace base
