#include "base/vlog.h"

#include <climits>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

namespace logging {

namespace {

// "c:\src\foo-inl.h" gives "foo".
base::StringPiece GetModule(base::StringPiece file) {
  const size_t last_slash = file.find_last_of("\\/");
  if (last_slash != base::StringPiece::npos)
    file.remove_prefix(last_slash + 1);
  file = file.substr(0, file.rfind('.'));
  const base::StringPiece kInlSuffix("-inl");
  if (file.size() >= kInlSuffix.size() && file.substr(file.size() - kInlSuffix.size()) == kInlSuffix)
    file.remove_suffix(kInlSuffix.size());
  return file;
}

}  // namespace

VlogInfo::VmodulePattern::VmodulePattern(const std::string& pattern)
    : pattern(pattern),
      vlog_level(0),
      match_target(pattern.find_first_of("\\/") != std::string::npos ? MATCH_FILE : MATCH_MODULE) {}

VlogInfo::VlogInfo(const std::string& v_switch, const std::string& vmodule_switch, int* min_log_level)
    : min_log_level_(min_log_level) {
  int vlog_level = 0;
  if (!v_switch.empty() && base::StringToInt(v_switch, &vlog_level)) {
    // A negative "v" must not lift the minimum above FATAL (fatal messages would vanish), and the most negative
    // integer has no negation.
    *min_log_level_ = vlog_level <= -LOG_FATAL ? LOG_FATAL : -vlog_level;
  }

  // A malformed pair still yields its (partial) pattern, as the splitter leaves it.
  base::StringPairs pairs;
  base::SplitStringIntoKeyValuePairs(vmodule_switch, '=', ',', &pairs);
  for (const auto& pair : pairs) {
    VmodulePattern pattern(pair.first);
    // The level is taken even from a partial parse: "3x" gives 3.
    base::StringToInt(pair.second, &pattern.vlog_level);
    vmodule_levels_.push_back(pattern);
  }
}

VlogInfo::~VlogInfo() = default;

int VlogInfo::GetVlogLevel(base::StringPiece file) const {
  if (!vmodule_levels_.empty()) {
    const base::StringPiece module = GetModule(file);
    for (const VmodulePattern& pattern : vmodule_levels_) {
      const base::StringPiece target = pattern.match_target == VmodulePattern::MATCH_FILE ? file : module;
      if (MatchVlogPattern(target, pattern.pattern))
        return pattern.vlog_level;
    }
  }
  return GetMaxVlogLevel();
}

int VlogInfo::GetMaxVlogLevel() const {
  const int min_level = *min_log_level_;
  return min_level == INT_MIN ? INT_MAX : -min_level;
}

bool MatchVlogPattern(base::StringPiece string, base::StringPiece vlog_pattern) {
  base::StringPiece p = vlog_pattern;
  base::StringPiece s = string;
  // Match literally up to the first star.
  while (!p.empty() && !s.empty() && p[0] != '*') {
    switch (p[0]) {
      case '/':
      case '\\':
        if (s[0] != '/' && s[0] != '\\')
          return false;
        break;
      case '?':
        break;
      default:
        if (p[0] != s[0])
          return false;
        break;
    }
    p.remove_prefix(1);
    s.remove_prefix(1);
  }

  if (p.empty())
    return s.empty();

  while (!p.empty() && p[0] == '*')
    p.remove_prefix(1);
  if (p.empty())
    return true;

  // The rest of the pattern must match some suffix of the string.
  for (; !s.empty(); s.remove_prefix(1)) {
    if (MatchVlogPattern(s, p))
      return true;
  }
  return false;
}

}  // namespace logging
