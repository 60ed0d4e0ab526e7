#include "base/version.h"

#include <algorithm>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_piece.h"
#include "base/strings/string_split.h"

namespace base {

bool ParseVersionNumbers(const std::string& version_str, std::vector<uint32_t>* parsed) {
  const std::vector<StringPiece> pieces = SplitStringPiece(version_str, ".", KEEP_WHITESPACE, SPLIT_WANT_ALL);
  if (pieces.empty())
    return false;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const StringPiece piece = pieces[i];
    // The number parser takes a '+', a version does not.
    if (!piece.empty() && piece[0] == '+')
      return false;
    unsigned number;
    if (!StringToUint(piece, &number))
      return false;
    // The first number is written without leading zeros.
    if (i == 0 && UintToString(number) != piece)
      return false;
    parsed->push_back(number);
  }
  return true;
}

Version::Version() = default;

Version::Version(const std::string& version_str) {
  std::vector<uint32_t> parsed;
  if (ParseVersionNumbers(version_str, &parsed))
    components_.swap(parsed);
}

bool Version::IsValid() const {
  return !components_.empty();
}

int Version::CompareTo(const Version& other) const {
  DCHECK(IsValid());
  DCHECK(other.IsValid());
  const size_t common = std::min(components_.size(), other.components_.size());
  for (size_t i = 0; i < common; ++i) {
    if (components_[i] > other.components_[i])
      return 1;
    if (components_[i] < other.components_[i])
      return -1;
  }
  // Extra components decide only when one of them is not zero.
  for (size_t i = common; i < components_.size(); ++i) {
    if (components_[i] != 0)
      return 1;
  }
  for (size_t i = common; i < other.components_.size(); ++i) {
    if (other.components_[i] != 0)
      return -1;
  }
  return 0;
}

}  // namespace base
