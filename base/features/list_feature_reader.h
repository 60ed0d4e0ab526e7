// Feature overrides from a stored list of "name@1" (on) and "name@2" (off) entries; anything else in the list
// is skipped without a word.
#ifndef BASE_FEATURES_LIST_FEATURE_READER_H_
#define BASE_FEATURES_LIST_FEATURE_READER_H_

#include <vector>

#include "base/features/feature_list.h"

namespace base {

class ListValue;

class ListFeatureReader : public FeatureReader {
 public:
  // `list` (may be null: no overrides) must outlive the reader.
  explicit ListFeatureReader(const ListValue* list);
  ~ListFeatureReader() override;

  void Read(std::vector<FeatureEntry>* overrides) const override;

 private:
  const ListValue* list_;
};

}  // namespace base

#endif  // BASE_FEATURES_LIST_FEATURE_READER_H_
