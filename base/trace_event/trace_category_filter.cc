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

TraceCategoryFilter::TraceCategoryFilter()
    : enable_sampling_(false), enable_systrace_(false), enable_argument_filter_(false) {
  InitializeDefault();
}

TraceCategoryFilter::TraceCategoryFilter(const TraceCategoryFilter& other)
    : enable_sampling_(false), enable_systrace_(false), enable_argument_filter_(false) {
  *this = other;
}

TraceCategoryFilter& TraceCategoryFilter::operator=(const TraceCategoryFilter& other) {
  if (this == &other)
    return *this;
  record_mode_ = other.record_mode_;
  enable_sampling_ = other.enable_sampling_;
  enable_systrace_ = other.enable_systrace_;
  enable_argument_filter_ = other.enable_argument_filter_;
  memory_dump_triggers_ = other.memory_dump_triggers_;
  included_categories_ = other.included_categories_;
  disabled_categories_ = other.disabled_categories_;
  excluded_categories_ = other.excluded_categories_;
  synthetic_delays_ = other.synthetic_delays_;
  return *this;
}

TraceCategoryFilter::~TraceCategoryFilter() = default;

void TraceCategoryFilter::InitializeDefault() {
  record_mode_ = 0;
  enable_sampling_ = false;
  enable_systrace_ = false;
  enable_argument_filter_ = false;
  excluded_categories_.push_back("*Debug");
  excluded_categories_.push_back("*Test");
}

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
