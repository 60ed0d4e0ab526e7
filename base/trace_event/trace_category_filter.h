// The trace configuration that decides which category groups are recorded: a record mode, option bits,
// memory-dump triggers and lists of category patterns (wildcards '*' and '?'). Categories named
// "disabled-by-default-..." are off unless a pattern names them explicitly; "*Debug" and "*Test" are excluded
// unless the lists are cleared.
#ifndef BASE_TRACE_EVENT_TRACE_CATEGORY_FILTER_H_
#define BASE_TRACE_EVENT_TRACE_CATEGORY_FILTER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace base {
namespace trace_event {

// When the memory dump manager would take periodic dumps while tracing.
struct MemoryDumpTrigger {
  uint32_t periodic_interval_ms = 0;
  uint32_t level_of_detail = 0;  // 0 light, 1 detailed
};

class TraceCategoryFilter {
 public:
  TraceCategoryFilter();
  TraceCategoryFilter(const TraceCategoryFilter& other);
  TraceCategoryFilter& operator=(const TraceCategoryFilter& other);
  ~TraceCategoryFilter();

  // Empties everything, the default exclusions included.
  void Clear();

  // One category name.
  bool IsCategoryEnabled(const char* category_name) const;
  // A comma-separated category group name.
  bool IsCategoryGroupEnabled(const char* category_group_name) const;

  void AddIncludedCategory(const std::string& pattern) { included_categories_.push_back(pattern); }
  // A pattern that switches on "disabled-by-default-" categories it matches.
  void AddDisabledByDefaultCategory(const std::string& pattern) { disabled_categories_.push_back(pattern); }
  void AddExcludedCategory(const std::string& pattern) { excluded_categories_.push_back(pattern); }
  void AddMemoryDumpTrigger(const MemoryDumpTrigger& trigger) { memory_dump_triggers_.push_back(trigger); }

  int record_mode() const { return record_mode_; }
  const std::vector<MemoryDumpTrigger>& memory_dump_triggers() const { return memory_dump_triggers_; }
  const std::vector<std::string>& included_categories() const { return included_categories_; }
  const std::vector<std::string>& disabled_categories() const { return disabled_categories_; }
  const std::vector<std::string>& excluded_categories() const { return excluded_categories_; }

 private:
  int32_t record_mode_ = 0;
  bool enable_sampling_ : 1 = false;
  bool enable_systrace_ : 1 = false;
  bool enable_argument_filter_ : 1 = false;
  std::vector<MemoryDumpTrigger> memory_dump_triggers_;
  std::vector<std::string> included_categories_;
  std::vector<std::string> disabled_categories_;
  std::vector<std::string> excluded_categories_;
  std::vector<std::string> synthetic_delays_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_CATEGORY_FILTER_H_
