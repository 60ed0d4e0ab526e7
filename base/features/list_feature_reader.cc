#include "base/features/list_feature_reader.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/values.h"

namespace base {

namespace {

constexpr int kStateOn = 1;
constexpr int kStateOff = 2;

}  // namespace

ListFeatureReader::ListFeatureReader(const ListValue* list) : list_(list) {}

ListFeatureReader::~ListFeatureReader() = default;

void ListFeatureReader::Read(std::vector<FeatureEntry>* overrides) const {
  // The stored value may be missing or not a list; then there is nothing to read.
  if (!list_)
    return;
  for (const auto& element : *list_) {
    std::string text;
    if (!element->GetAsString(&text))
      continue;
    const std::vector<std::string> parts = SplitString(text, "@", TRIM_WHITESPACE, SPLIT_WANT_ALL);
    if (parts.size() != 2)
      continue;
    int state = 0;
    if (!StringToInt(parts[1], &state) || (state != kStateOn && state != kStateOff))
      continue;
    overrides->push_back(FeatureEntry{parts[0], state == kStateOn, false});
  }
}

}  // namespace base
