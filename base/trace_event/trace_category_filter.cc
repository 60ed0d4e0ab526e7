#include "base/trace_event/trace_category_filter.h"

#include "base/strings/pattern.h"
#include "base/trace_event/string_tokenizer.h"

namespace base {
namespace trace_event {

namespace {

constexpr char kDisabledByDefaultPattern[] = "disabled-by-default-*";

bool IsDisabledByDefault(const std::string& category) {
  return WildcardMatch(category, kDisabledByDefaultPattern);
}

}  // namespace

TraceCategoryFilter::TraceCategoryFilter() : excluded_categories_{"*Debug", "*Test"} {}

TraceCategoryFilter::TraceCategoryFilter(const TraceCategoryFilter& other) = default;
TraceCategoryFilter& TraceCategoryFilter::operator=(const TraceCategoryFilter& other) = default;
TraceCategoryFilter::~TraceCategoryFilter() = default;

void TraceCategoryFilter::Clear() {
  record_mode_ = 0;
  enable_sampling_ = false;
  enable_systrace_ = false;
  enable_argument_filter_ = false;
  memory_dump_triggers_.clear();
  included_categories_.clear();
  disabled_categories_.clear();
  excluded_categories_.clear();
  synthetic_delays_.clear();
}

bool TraceCategoryFilter::IsCategoryEnabled(const char* category_name) const {
  const std::string category(category_name ? category_name : "");
  for (const std::string& pattern : disabled_categories_) {
    if (WildcardMatch(category, pattern))
      return true;
  }
  if (IsDisabledByDefault(category))
    return false;
  for (const std::string& pattern : included_categories_) {
    if (WildcardMatch(category, pattern))
      return true;
  }
  return false;
}

bool TraceCategoryFilter::IsCategoryGroupEnabled(const char* category_group_name) const {
  const std::string group(category_group_name ? category_group_name : "");
  bool had_enabled_by_default = false;
  StringTokenizer tokens(group, ",");
  while (tokens.AdvanceToken()) {
    const std::string category = tokens.token();
    if (IsCategoryEnabled(category.c_str()))
      return true;
    if (!IsDisabledByDefault(category))
      had_enabled_by_default = true;
  }
  // Nothing was named explicitly: the group is on by default unless every category in it is excluded.
  tokens.Reset();
  bool category_group_disabled = false;
  while (tokens.AdvanceToken()) {
    const std::string category = tokens.token();
    for (const std::string& pattern : excluded_categories_) {
      if (WildcardMatch(category, pattern)) {
        category_group_disabled = true;
        break;
      }
      if (!IsDisabledByDefault(category))
        category_group_disabled = false;
    }
    if (!category_group_disabled)
      break;
  }
  return !category_group_disabled && had_enabled_by_default && included_categories_.empty();
}

}  // namespace trace_event
}  // namespace base
