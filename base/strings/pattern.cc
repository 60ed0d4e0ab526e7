#include "base/strings/pattern.h"

#include <cstdint>

#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

constexpr int kMaxDepth = 16;
// What an ill-formed sequence decodes to; never equal to anything.
constexpr uint32_t kInvalidCharacter = 0xFFFFFFFFu;

bool IsWildcard(char c) {
  return c == '*' || c == '?';
}

// Decodes the code point at *p and moves *p past it.
uint32_t NextCharacter(const char** p, const char* end) {
  const ptrdiff_t available = end - *p;
  const int32_t length = available > INT32_MAX ? INT32_MAX : static_cast<int32_t>(available);
  int32_t index = 0;
  uint32_t code_point;
  if (!ReadUnicodeCharacter(*p, length, &index, &code_point))
    code_point = kInvalidCharacter;
  *p += index + 1;
  return code_point;
}

// Consumes the characters that text and pattern share up to the pattern's first unescaped wildcard. On a
// mismatch after a backslash the pattern is left on the backslash, so that the caller fails.
void EatSameCharacters(const char** text, const char* text_end, const char** pattern, const char* pattern_end) {
  const char* escape = nullptr;
  while (*text != text_end && *pattern != pattern_end) {
    if (!escape && IsWildcard(**pattern))
      return;
    if (!escape && **pattern == '\\') {
      escape = *pattern;
      ++*pattern;
      continue;
    }
    const char* text_next = *text;
    const char* pattern_next = *pattern;
    const uint32_t pattern_character = NextCharacter(&pattern_next, pattern_end);
    if (pattern_character == kInvalidCharacter || pattern_character != NextCharacter(&text_next, text_end)) {
      if (escape)
        *pattern = escape;
      return;
    }
    *text = text_next;
    *pattern = pattern_next;
    escape = nullptr;
  }
}

void EatWildcards(const char** pattern, const char* pattern_end) {
  while (*pattern != pattern_end && IsWildcard(**pattern))
    ++*pattern;
}

bool Match(const char* text, const char* text_end, const char* pattern, const char* pattern_end, int depth) {
  if (depth > kMaxDepth)
    return false;

  EatSameCharacters(&text, text_end, &pattern, pattern_end);

  if (text == text_end) {
    EatWildcards(&pattern, pattern_end);
    return pattern == pattern_end;
  }
  if (pattern == pattern_end)
    return false;

  if (*pattern == '?') {
    // Zero characters, then one.
    if (Match(text, text_end, pattern + 1, pattern_end, depth + 1))
      return true;
    const char* after_one = text;
    NextCharacter(&after_one, text_end);
    return Match(after_one, text_end, pattern + 1, pattern_end, depth + 1);
  }

  if (*pattern == '*') {
    EatWildcards(&pattern, pattern_end);  // '*?*' acts as one '*'
    for (; text != text_end; ++text) {
      if (Match(text, text_end, pattern, pattern_end, depth + 1))
        return true;
    }
    return pattern == pattern_end;
  }

  return false;  // a literal mismatch, or an escaped character that did not match
}

}  // namespace

bool WildcardMatch(StringPiece text, StringPiece pattern) {
  return Match(text.data(), text.data() + text.size(), pattern.data(), pattern.data() + pattern.size(), 0);
}

}  // namespace base
