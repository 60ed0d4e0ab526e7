// Feature overrides from "with-feature:<name>" switches: the value "on" or none turns the feature on, "off"
// turns it off, anything else is reported and ignored.
#ifndef BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
#define BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_

#include <string>
#include <vector>

#include "base/features/feature_list.h"
#include "base/strings/string_piece.h"

namespace base {

class CommandLine;

class CommandLineFeatureReader : public FeatureReader {
 public:
  // `command_line` must outlive the reader.
  explicit CommandLineFeatureReader(const CommandLine* command_line);
  ~CommandLineFeatureReader() override;

  // "with-feature:" followed by the name.
  static std::string SwitchNameForFeature(StringPiece feature_name);

  // In the order of the command line's switch map (switch names are lower case there).
  void Read(std::vector<FeatureEntry>* overrides) const override;

 private:
  const CommandLine* command_line_;
};

}  // namespace base

#endif  // BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
