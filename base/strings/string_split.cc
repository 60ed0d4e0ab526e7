#include "base/strings/string_split.h"

#include "base/strings/string_util.h"

namespace base {

namespace {

template <typename Piece>
Piece WhitespaceOf();
template <>
StringPiece WhitespaceOf<StringPiece>() {
  return StringPiece(kWhitespaceASCII);
}
template <>
StringPiece16 WhitespaceOf<StringPiece16>() {
  return StringPiece16(kWhitespaceWide);
}

// Calls `add` with every kept piece of `input`, in order.
template <typename Piece, typename Add>
void SplitPieces(Piece input, Piece separators, WhitespaceHandling whitespace, SplitResult result_type,
                 const Add& add) {
  if (input.empty())
    return;
  size_t start = 0;
  while (start != Piece::npos) {
    // find_first_of searches a one-character set as that character, and finds nothing for an empty set.
    const size_t end = input.find_first_of(separators, start);
    Piece piece;
    if (end == Piece::npos) {
      piece = input.substr(start);
      start = Piece::npos;
    } else {
      piece = input.substr(start, end - start);
      start = end + 1;
    }
    if (whitespace == TRIM_WHITESPACE)
      piece = TrimStringPiece(piece, WhitespaceOf<Piece>(), TRIM_ALL);
    if (result_type == SPLIT_WANT_ALL || !piece.empty())
      add(piece);
  }
}

}  // namespace

std::vector<std::string> SplitString(StringPiece input, StringPiece separators, WhitespaceHandling whitespace,
                                     SplitResult result_type) {
  std::vector<std::string> result;
  SplitPieces(input, separators, whitespace, result_type,
              [&result](StringPiece piece) { result.push_back(piece.ToString()); });
  return result;
}

std::vector<std::wstring> SplitString(StringPiece16 input, StringPiece16 separators,
                                      WhitespaceHandling whitespace, SplitResult result_type) {
  std::vector<std::wstring> result;
  SplitPieces(input, separators, whitespace, result_type,
              [&result](StringPiece16 piece) { result.push_back(piece.ToString()); });
  return result;
}

std::vector<StringPiece> SplitStringPiece(StringPiece input, StringPiece separators,
                                          WhitespaceHandling whitespace, SplitResult result_type) {
  std::vector<StringPiece> result;
  SplitPieces(input, separators, whitespace, result_type, [&result](StringPiece piece) { result.push_back(piece); });
  return result;
}

bool SplitStringIntoKeyValuePairs(StringPiece input, char key_value_delimiter, char key_value_pair_delimiter,
                                  StringPairs* key_value_pairs) {
  key_value_pairs->clear();
  const std::vector<StringPiece> pairs =
      SplitStringPiece(input, StringPiece(&key_value_pair_delimiter, 1), TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY);
  key_value_pairs->reserve(pairs.size());
  bool success = true;
  for (const StringPiece& pair : pairs) {
    if (!AppendStringKeyValue(pair, key_value_delimiter, key_value_pairs))
      success = false;  // the remaining items are still parsed
  }
  return success;
}

bool AppendStringKeyValue(StringPiece input, char delimiter, StringPairs* result) {
  result->emplace_back();
  std::pair<std::string, std::string>& pair = result->back();

  const size_t end_key = input.find(delimiter);
  if (end_key == StringPiece::npos)
    return false;
  pair.first = input.substr(0, end_key).ToString();

  const size_t begin_value = input.find_first_not_of(delimiter, end_key);
  if (begin_value == StringPiece::npos)
    return false;
  pair.second = input.substr(begin_value).ToString();
  return true;
}

}  // namespace base
