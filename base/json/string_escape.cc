#include "base/json/string_escape.h"

#include <cstdint>
#include <cstdio>

#include "base/logging.h"
#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Appends the escape of `code_point` and returns true, or returns false when it is written as it is.
bool EscapeSpecialCodePoint(uint32_t code_point, std::string* dest) {
  switch (code_point) {
    case '\b':
      dest->append("\\b");
      return true;
    case '\f':
      dest->append("\\f");
      return true;
    case '\n':
      dest->append("\\n");
      return true;
    case '\r':
      dest->append("\\r");
      return true;
    case '\t':
      dest->append("\\t");
      return true;
    case '\\':
      dest->append("\\\\");
      return true;
    case '"':
      dest->append("\\\"");
      return true;
    // Keeps "</script>" from ending a script block that holds the text.
    case '<':
      dest->append("\\u003C");
      return true;
    // Line terminators in script source, although valid in JSON.
    case 0x2028:
      dest->append("\\u2028");
      return true;
    case 0x2029:
      dest->append("\\u2029");
      return true;
    default:
      if (code_point >= 0x20)
        return false;
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04X", static_cast<unsigned>(code_point));
      dest->append(escaped);
      return true;
  }
}

}  // namespace

bool EscapeJsonStringImpl(const StringPiece& str, bool put_in_quotes, std::string* dest) {
  CHECK(str.size() <= static_cast<size_t>(INT32_MAX));
  bool valid = true;
  if (put_in_quotes)
    dest->push_back('"');
  const char* const data = str.data();
  const int32_t length = static_cast<int32_t>(str.size());
  for (int32_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(data[i]);
    if (byte < 0x80) {
      // ASCII decodes to itself: escape or copy it without the general decoder.
      if (!EscapeSpecialCodePoint(byte, dest))
        dest->push_back(static_cast<char>(byte));
      continue;
    }
    uint32_t code_point;
    if (!ReadUnicodeCharacter(data, length, &i, &code_point)) {
      code_point = kReplacementCharacter;
      valid = false;
    }
    if (!EscapeSpecialCodePoint(code_point, dest))
      WriteUnicodeCharacter(code_point, dest);
  }
  if (put_in_quotes)
    dest->push_back('"');
  return valid;
}

}  // namespace base
