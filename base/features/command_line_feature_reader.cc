#include "base/features/command_line_feature_reader.h"

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

constexpr char kSwitchPrefix[] = "with-feature:";
constexpr size_t kSwitchPrefixLength = sizeof(kSwitchPrefix) - 1;

}  // namespace

CommandLineFeatureReader::CommandLineFeatureReader(const CommandLine* command_line)
    : command_line_(command_line) {}

CommandLineFeatureReader::~CommandLineFeatureReader() = default;

// static
std::string CommandLineFeatureReader::SwitchNameForFeature(StringPiece feature_name) {
  return kSwitchPrefix + feature_name.as_string();
}

void CommandLineFeatureReader::Read(std::vector<FeatureEntry>* overrides) const {
  if (!command_line_)
    return;
  for (const auto& entry : command_line_->GetSwitches()) {
    const std::string& switch_name = entry.first;
    if (switch_name.compare(0, kSwitchPrefixLength, kSwitchPrefix) != 0)
      continue;
    const std::string feature_name = switch_name.substr(kSwitchPrefixLength);
    const std::string value = IsStringASCII(entry.second) ? UTF16ToASCII(entry.second) : std::string();
    if (value == "off") {
      overrides->push_back(FeatureEntry{feature_name, false, false});
    } else if (value == "on" || value.empty()) {
      overrides->push_back(FeatureEntry{feature_name, true, false});
    } else {
      LOG(WARNING) << switch_name << " has unhandled value: \"" << value
                   << "\" did you mean \"on\" or \"off\"? Using default setting.";
    }
  }
}

}  // namespace base
