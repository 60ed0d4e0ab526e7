#include "base/strings/string_util.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace base {

const wchar_t kWhitespaceWide[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
    0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0};

const char kWhitespaceASCII[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0};

namespace {

// Bit 7 of every byte, or bits 7-15 of every 16-bit unit, of a 64-bit word.
template <typename Char>
constexpr uint64_t NonASCIIMask();
template <>
constexpr uint64_t NonASCIIMask<char>() {
  return 0x8080808080808080ULL;
}
template <>
constexpr uint64_t NonASCIIMask<wchar_t>() {
  static_assert(sizeof(wchar_t) == 2, "wide text is UTF-16");
  return 0xFF80FF80FF80FF80ULL;
}

template <typename Char>
bool DoIsStringASCII(const Char* characters, size_t length) {
  using Unit = std::make_unsigned_t<Char>;
  constexpr size_t kWordSize = sizeof(uint64_t);
  constexpr size_t kUnitsPerWord = kWordSize / sizeof(Char);
  const Char* end = characters + length;
  uint64_t all = 0;

  // Units up to the first word boundary, one by one.
  while (characters < end && (reinterpret_cast<uintptr_t>(characters) & (kWordSize - 1)) != 0)
    all |= static_cast<Unit>(*characters++);

  // Whole aligned words, four at a time while there are four. memcpy of an aligned word is one load.
  auto load = [](const Char* p) {
    uint64_t word;
    std::memcpy(&word, p, kWordSize);
    return word;
  };
  while (static_cast<size_t>(end - characters) >= 4 * kUnitsPerWord) {
    all |= load(characters) | load(characters + kUnitsPerWord) | load(characters + 2 * kUnitsPerWord) |
           load(characters + 3 * kUnitsPerWord);
    characters += 4 * kUnitsPerWord;
  }
  while (static_cast<size_t>(end - characters) >= kUnitsPerWord) {
    all |= load(characters);
    characters += kUnitsPerWord;
  }

  // The tail.
  while (characters < end)
    all |= static_cast<Unit>(*characters++);

  return (all & NonASCIIMask<Char>()) == 0;
}

template <typename Piece>
Piece DoTrimStringPiece(Piece input, Piece trim_chars, TrimPositions positions) {
  const size_t begin = (positions & TRIM_LEADING) ? input.find_first_not_of(trim_chars) : 0;
  const size_t last = (positions & TRIM_TRAILING) ? input.find_last_not_of(trim_chars) : input.size();
  if (begin == Piece::npos || last == Piece::npos)
    return input.substr(input.size(), 0);
  const size_t end = (positions & TRIM_TRAILING) ? last + 1 : input.size();
  return input.substr(begin, end - begin);
}

// The trimmed view of `input`, copied out, with the ends where something went.
template <typename String, typename Piece>
TrimPositions DoTrimString(const String& input, Piece trim_chars, TrimPositions positions, String* output) {
  const Piece trimmed = DoTrimStringPiece(Piece(input), trim_chars, positions);
  if (trimmed.empty()) {
    const bool input_was_empty = input.empty();  // `output` may be `input`
    output->clear();
    return input_was_empty ? TRIM_NONE : positions;
  }
  const size_t begin = static_cast<size_t>(trimmed.data() - input.data());
  const size_t end = begin + trimmed.size();
  // Built apart first: `output` may be `input`.
  String copy = trimmed.ToString();
  *output = std::move(copy);
  return static_cast<TrimPositions>((begin == 0 ? TRIM_NONE : TRIM_LEADING) |
                                    (end == input.size() ? TRIM_NONE : TRIM_TRAILING));
}

bool IsASCIIWhitespace(char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// Units compared after ASCII case folding; narrow bytes compare as unsigned values.
template <typename A, typename B>
bool EqualsFoldedASCII(const A* a, const B* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const auto left = static_cast<std::make_unsigned_t<A>>(ToLowerASCII(a[i]));
    const auto right = static_cast<std::make_unsigned_t<B>>(ToLowerASCII(b[i]));
    if (left != right)
      return false;
  }
  return true;
}

template <typename Piece>
bool DoStartsOrEndsWith(Piece str, Piece search_for, CompareCase case_sensitivity, bool at_end) {
  if (search_for.size() > str.size())
    return false;
  const Piece part = str.substr(at_end ? str.size() - search_for.size() : 0, search_for.size());
  switch (case_sensitivity) {
    case CompareCase::SENSITIVE:
      return part == search_for;
    case CompareCase::INSENSITIVE_ASCII:
      return EqualsFoldedASCII(part.data(), search_for.data(), part.size());
  }
  return false;
}

template <typename String, typename Piece>
String DoJoinString(const std::vector<String>& parts, Piece separator) {
  if (parts.empty())
    return String();
  size_t total = separator.size() * (parts.size() - 1);
  for (const String& part : parts)
    total += part.size();
  String result;
  result.reserve(total);
  result.append(parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    separator.AppendToString(&result);
    result.append(parts[i]);
  }
  return result;
}

template <typename String, typename Piece>
String DoReplaceStringPlaceholders(Piece format_string, const std::vector<String>& subst,
                                   std::vector<size_t>* offsets) {
  using Char = typename String::value_type;
  size_t reserve = format_string.size();
  for (const String& s : subst)
    reserve += s.size();
  String formatted;
  formatted.reserve(reserve);

  struct Record {
    size_t index;
    size_t offset;
  };
  std::vector<Record> records;

  const size_t length = format_string.size();
  for (size_t i = 0; i < length; ++i) {
    const Char c = format_string[i];
    if (c != '$') {
      formatted.push_back(c);
      continue;
    }
    if (i + 1 == length)
      break;  // a final '$' is dropped
    const Char next = format_string[i + 1];
    if (next == '$') {
      size_t j = i + 1;
      while (j < length && format_string[j] == '$') {
        formatted.push_back('$');
        ++j;
      }
      i = j - 1;
    } else if (next >= '1' && next <= '9') {
      const size_t index = static_cast<size_t>(next - '1');
      if (offsets) {
        size_t at = 0;
        while (at < records.size() && records[at].index < index)
          ++at;
        records.insert(records.begin() + static_cast<ptrdiff_t>(at), Record{index, formatted.size()});
      }
      if (index < subst.size())
        formatted.append(subst[index]);
      ++i;
    } else {
      ++i;  // '$' and the character after it are dropped
    }
  }
  if (offsets) {
    for (const Record& record : records)
      offsets->push_back(record.offset);
  }
  return formatted;
}

}  // namespace

std::string ToLowerASCII(StringPiece str) {
  std::string result(str.size(), '\0');
  for (size_t i = 0; i < str.size(); ++i)
    result[i] = ToLowerASCII(str[i]);
  return result;
}

std::string ToUpperASCII(StringPiece str) {
  std::string result(str.size(), '\0');
  for (size_t i = 0; i < str.size(); ++i)
    result[i] = ToUpperASCII(str[i]);
  return result;
}

bool IsStringASCII(StringPiece str) {
  return DoIsStringASCII(str.data(), str.size());
}

bool IsStringASCII(StringPiece16 str) {
  return DoIsStringASCII(str.data(), str.size());
}

TrimPositions TrimString(const std::string& input, StringPiece trim_chars, TrimPositions positions,
                         std::string* output) {
  return DoTrimString(input, trim_chars, positions, output);
}

TrimPositions TrimString(const std::wstring& input, StringPiece16 trim_chars, TrimPositions positions,
                         std::wstring* output) {
  return DoTrimString(input, trim_chars, positions, output);
}

StringPiece TrimStringPiece(StringPiece input, StringPiece trim_chars, TrimPositions positions) {
  return DoTrimStringPiece(input, trim_chars, positions);
}

StringPiece16 TrimStringPiece(StringPiece16 input, StringPiece16 trim_chars, TrimPositions positions) {
  return DoTrimStringPiece(input, trim_chars, positions);
}

TrimPositions TrimWhitespace(const std::wstring& input, TrimPositions positions, std::wstring* output) {
  return DoTrimString(input, StringPiece16(kWhitespaceWide), positions, output);
}

TrimPositions TrimWhitespaceASCII(const std::string& input, TrimPositions positions, std::string* output) {
  return DoTrimString(input, StringPiece(kWhitespaceASCII), positions, output);
}

std::string CollapseWhitespace(const std::string& text, bool trim_sequences_with_line_breaks) {
  std::string result;
  result.reserve(text.size());
  bool in_whitespace = true;  // drops leading whitespace
  bool already_trimmed = true;
  for (char c : text) {
    if (IsASCIIWhitespace(c)) {
      if (!in_whitespace) {
        in_whitespace = true;
        result.push_back(' ');
      }
      if (trim_sequences_with_line_breaks && !already_trimmed && (c == '\n' || c == '\r')) {
        already_trimmed = true;
        result.pop_back();
      }
    } else {
      in_whitespace = false;
      already_trimmed = false;
      result.push_back(c);
    }
  }
  if (in_whitespace && !already_trimmed)
    result.pop_back();
  return result;
}

bool LowerCaseEqualsASCII(StringPiece16 str, StringPiece lowercase_ascii) {
  return str.size() == lowercase_ascii.size() &&
         EqualsFoldedASCII(str.data(), lowercase_ascii.data(), str.size());
}

bool StartsWith(StringPiece str, StringPiece search_for, CompareCase case_sensitivity) {
  return DoStartsOrEndsWith(str, search_for, case_sensitivity, false);
}

bool StartsWith(StringPiece16 str, StringPiece16 search_for, CompareCase case_sensitivity) {
  return DoStartsOrEndsWith(str, search_for, case_sensitivity, false);
}

bool EndsWith(StringPiece16 str, StringPiece16 search_for, CompareCase case_sensitivity) {
  return DoStartsOrEndsWith(str, search_for, case_sensitivity, true);
}

std::string JoinString(const std::vector<std::string>& parts, StringPiece separator) {
  return DoJoinString(parts, separator);
}

std::wstring JoinString(const std::vector<std::wstring>& parts, StringPiece16 separator) {
  return DoJoinString(parts, separator);
}

bool ReplaceChars(const std::string& input, StringPiece replace_chars, const std::string& replace_with,
                  std::string* output) {
  const StringPiece in(input);
  size_t found = in.find_first_of(replace_chars);
  if (found == StringPiece::npos) {
    if (output != &input)
      *output = input;
    return false;
  }
  // One pass into a new string: the result of replacing one character at a time, left to right.
  std::string result;
  result.reserve(input.size() + replace_with.size());
  size_t copied = 0;
  while (found != StringPiece::npos) {
    result.append(input, copied, found - copied);
    result.append(replace_with);
    copied = found + 1;
    found = in.find_first_of(replace_chars, copied);
  }
  result.append(input, copied, std::string::npos);
  *output = std::move(result);
  return true;
}

void ReplaceFirstSubstringAfterOffset(std::string* str, size_t start_offset, StringPiece find_this,
                                      StringPiece replace_with) {
  if (find_this.empty())
    return;
  const size_t found = str->find(find_this.data(), start_offset, find_this.size());
  if (found != std::string::npos)
    str->replace(found, find_this.size(), replace_with.data(), replace_with.size());
}

void ReplaceSubstringsAfterOffset(std::string* str, size_t start_offset, StringPiece find_this,
                                  StringPiece replace_with) {
  const size_t find_length = find_this.size();
  const size_t replace_length = replace_with.size();
  if (find_length == 0)
    return;  // an empty pattern occurs everywhere: nothing sensible to replace
  size_t match = str->find(find_this.data(), start_offset, find_length);
  if (match == std::string::npos)
    return;

  if (find_length == replace_length) {
    while (match != std::string::npos) {
      str->replace(match, find_length, replace_with.data(), replace_length);
      match = str->find(find_this.data(), match + replace_length, find_length);
    }
    return;
  }

  // Both remaining cases compact the text left to right: `read` walks the original text, `write` trails it.
  size_t read;
  size_t write = match;
  if (replace_length < find_length) {
    read = match;
  } else {
    // Count the occurrences, grow once to the final length, and move everything from the first occurrence
    // to the end. Writing then never overtakes reading, since the growth before any point is at most the
    // total growth.
    const size_t old_length = str->size();
    size_t count = 0;
    for (size_t m = match; m != std::string::npos; m = str->find(find_this.data(), m + find_length, find_length))
      ++count;
    const size_t new_length = old_length + count * (replace_length - find_length);
    str->resize(new_length);
    read = match + (new_length - old_length);
    std::memmove(&(*str)[read], &(*str)[match], old_length - match);
    match = read;
  }

  char* const data = str->data();
  const size_t end = str->size();
  while (match != std::string::npos) {
    std::memmove(data + write, data + read, match - read);  // the text before the occurrence
    write += match - read;
    std::memcpy(data + write, replace_with.data(), replace_length);
    write += replace_length;
    read = match + find_length;
    match = str->find(find_this.data(), read, find_length);
  }
  std::memmove(data + write, data + read, end - read);
  write += end - read;
  str->resize(write);
}

std::string ReplaceStringPlaceholders(StringPiece format_string, const std::vector<std::string>& subst,
                                      std::vector<size_t>* offsets) {
  return DoReplaceStringPlaceholders(format_string, subst, offsets);
}

std::wstring ReplaceStringPlaceholders(StringPiece16 format_string, const std::vector<std::wstring>& subst,
                                       std::vector<size_t>* offsets) {
  return DoReplaceStringPlaceholders(format_string, subst, offsets);
}

size_t strlcpy(char* dst, const char* src, size_t dst_size) {
  for (size_t i = 0; i < dst_size; ++i) {
    if ((dst[i] = src[i]) == 0)
      return i;
  }
  if (dst_size != 0)
    dst[dst_size - 1] = 0;
  size_t length = dst_size;
  while (src[length])
    ++length;
  return length;
}

}  // namespace base
