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

// A pattern character against a string character: '?' takes any, either slash takes either.
bool CharacterMatches(char pattern, char c) {
  if (pattern == '/' || pattern == '\\')
    return c == '/' || c == '\\';
  return pattern == '?' || pattern == c;
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
  // On a mismatch only the last star takes one more character: a star before it could take no more than the
  // last one does. Time grows with the product of the lengths, never exponentially with the stars.
  size_t s = 0;
  size_t p = 0;
  size_t star = base::StringPiece::npos;
  size_t star_string = 0;
  while (s < string.size()) {
    if (p < vlog_pattern.size() && vlog_pattern[p] == '*') {
      star = p++;
      star_string = s;
    } else if (p < vlog_pattern.size() && CharacterMatches(vlog_pattern[p], string[s])) {
      ++p;
      ++s;
    } else if (star != base::StringPiece::npos) {
      p = star + 1;
      s = ++star_string;
    } else {
      return false;
    }
  }
  while (p < vlog_pattern.size() && vlog_pattern[p] == '*')
    ++p;
  return p == vlog_pattern.size();
}

}  // namespace logging
