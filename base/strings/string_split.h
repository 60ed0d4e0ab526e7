// Splitting text at separator characters into copies or views, and lists of key/value items into pairs.
#ifndef BASE_STRINGS_STRING_SPLIT_H_
#define BASE_STRINGS_STRING_SPLIT_H_

#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

enum WhitespaceHandling {
  KEEP_WHITESPACE = 0,
  TRIM_WHITESPACE = 1,  // each piece loses its leading and trailing whitespace (ASCII set, or the wide set)
};

enum SplitResult {
  SPLIT_WANT_ALL = 0,       // empty pieces too
  SPLIT_WANT_NONEMPTY = 1,  // pieces empty after trimming are dropped
};

// Splits `input` at every character of `separators`. An empty input gives no pieces; an empty separator set
// gives the whole input as one piece.
std::vector<std::string> SplitString(StringPiece input, StringPiece separators, WhitespaceHandling whitespace,
                                     SplitResult result_type);
std::vector<std::wstring> SplitString(StringPiece16 input, StringPiece16 separators,
                                      WhitespaceHandling whitespace, SplitResult result_type);

// The same as views into `input`.
std::vector<StringPiece> SplitStringPiece(StringPiece input, StringPiece separators,
                                          WhitespaceHandling whitespace, SplitResult result_type);

using StringPairs = std::vector<std::pair<std::string, std::string>>;

// Splits "k1=v1,k2=v2" style text: items at `key_value_pair_delimiter` (trimmed, empty ones skipped), each
// item at its first run of `key_value_delimiter`. The output is replaced. False when any item lacked the
// delimiter or a value; such an item still leaves a pair (with what was found).
bool SplitStringIntoKeyValuePairs(StringPiece input, char key_value_delimiter, char key_value_pair_delimiter,
                                  StringPairs* key_value_pairs);

// Appends one pair parsed from "key<delimiters>value"; the pair is appended even when this fails.
bool AppendStringKeyValue(StringPiece input, char delimiter, StringPairs* result);

}  // namespace base

#endif  // BASE_STRINGS_STRING_SPLIT_H_
