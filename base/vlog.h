// Per-module verbosity from the switches "v" and "vmodule": "--vmodule=foo=2,bar/*=3" gives level 2 to every
// file whose module (the name without folder, extension and "-inl") matches "foo", and level 3 to files whose
// whole path matches "bar/*". Other files get minus the minimum log level.
#ifndef BASE_VLOG_H_
#define BASE_VLOG_H_

#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace logging {

class VlogInfo {
 public:
  // A "v" value that parses as an integer n sets *min_log_level to -n (at most FATAL). Each "vmodule" pair
  // "pattern=level" adds one pattern; the first matching pattern decides.
  VlogInfo(const std::string& v_switch, const std::string& vmodule_switch, int* min_log_level);
  VlogInfo(const VlogInfo&) = delete;
  VlogInfo& operator=(const VlogInfo&) = delete;
  ~VlogInfo();

  // The verbosity for a source file path such as __FILE__.
  int GetVlogLevel(base::StringPiece file) const;

 private:
  struct VmodulePattern {
    enum MatchTarget { MATCH_MODULE, MATCH_FILE };
    explicit VmodulePattern(const std::string& pattern);

    std::string pattern;
    int vlog_level;
    MatchTarget match_target;  // a pattern with a slash or backslash is matched against the whole path
  };

  int GetMaxVlogLevel() const;

  std::vector<VmodulePattern> vmodule_levels_;
  int* const min_log_level_;
};

// Wildcard match of a whole string: '*' matches any run, '?' any one character, and '/' or '\' in the pattern
// matches either slash.
bool MatchVlogPattern(base::StringPiece string, base::StringPiece vlog_pattern);

}  // namespace logging

#endif  // BASE_VLOG_H_
