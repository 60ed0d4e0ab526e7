// Named on/off switches (the installer's experiments): each feature is registered with a default state and
// whether it may be overridden, and readers add overrides from the command line or from a stored list. The
// process keeps one list and hands its overrides on to the processes it starts.
#ifndef BASE_FEATURES_FEATURE_LIST_H_
#define BASE_FEATURES_FEATURE_LIST_H_

#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class CommandLine;

// A registered feature, or an override (which uses only the name and the state).
struct FeatureEntry {
  std::string name;
  bool state = false;  // the default of a registration, the wanted state of an override
  bool overridable = false;
};

// A source of overrides.
class FeatureReader {
 public:
  virtual ~FeatureReader();
  // Appends the overrides found, in the order found.
  virtual void Read(std::vector<FeatureEntry>* overrides) const = 0;
};

class FeatureList {
 public:
  FeatureList();
  FeatureList(const FeatureList&) = delete;
  FeatureList& operator=(const FeatureList&) = delete;
  ~FeatureList();

  // The process-wide list, made on first use and never destroyed. Registration and reading happen on the
  // main thread during start-up; afterwards the list is only read.
  static FeatureList* GetInstance();

  // Registers a feature; a name registered twice answers with its first registration.
  void AddFeature(StringPiece name, bool default_state, bool overridable);

  // Adds the reader's overrides after those already there: later overrides win.
  void InitializeFromReader(const FeatureReader& reader);

  // False for unregistered names; the default for features that are not overridable or have no override;
  // else the state of the last override of the name.
  bool IsFeatureEnabled(StringPiece name) const;

  const std::vector<FeatureEntry>& overrides() const { return overrides_; }

 private:
  std::vector<FeatureEntry> features_;
  std::vector<FeatureEntry> overrides_;
};

// Asks the process-wide list.
bool IsFeatureEnabled(StringPiece name);

// Appends "with-feature:<name>" = "on" or "off" for every override of the process-wide list, in order, so that
// a child process sees the same experiment states. Registered defaults are not passed on.
void AppendFeatureSwitchesToCommandLine(CommandLine* command_line);

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_LIST_H_
