#include "base/features/feature_list.h"

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/lazy_instance.h"

namespace base {

namespace {

// Holds the process-wide list on the heap; it is never destroyed, so late users at exit still find it.
class FeatureListHolder {
 public:
  virtual ~FeatureListHolder() = default;
  FeatureList list;
};

internal::LazyInstanceState g_feature_list_holder{0};

}  // namespace

FeatureReader::~FeatureReader() = default;

FeatureList::FeatureList() = default;

FeatureList::~FeatureList() = default;

// static
FeatureList* FeatureList::GetInstance() {
  FeatureListHolder* holder = internal::GetOrCreateLazyInstance<FeatureListHolder>(
      &g_feature_list_holder, [] { return new FeatureListHolder; }, nullptr, nullptr);
  return &holder->list;
}

void FeatureList::AddFeature(StringPiece name, bool default_state, bool overridable) {
  features_.push_back(FeatureEntry{name.as_string(), default_state, overridable});
}

void FeatureList::InitializeFromReader(const FeatureReader& reader) {
  reader.Read(&overrides_);
}

bool FeatureList::IsFeatureEnabled(StringPiece name) const {
  for (const FeatureEntry& feature : features_) {
    if (StringPiece(feature.name) != name)
      continue;
    if (feature.overridable) {
      for (auto it = overrides_.rbegin(); it != overrides_.rend(); ++it) {
        if (StringPiece(it->name) == name)
          return it->state;
      }
    }
    return feature.state;
  }
  return false;
}

bool IsFeatureEnabled(StringPiece name) {
  return FeatureList::GetInstance()->IsFeatureEnabled(name);
}

void AppendFeatureSwitchesToCommandLine(CommandLine* command_line) {
  for (const FeatureEntry& entry : FeatureList::GetInstance()->overrides()) {
    command_line->AppendSwitchASCII(CommandLineFeatureReader::SwitchNameForFeature(entry.name),
                                    entry.state ? "on" : "off");
  }
}

}  // namespace base
