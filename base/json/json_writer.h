// Writes a value tree as compact JSON text.
#ifndef BASE_JSON_JSON_WRITER_H_
#define BASE_JSON_JSON_WRITER_H_

#include <string>

namespace base {

class Value;

class JsonWriter {
 public:
  // Replaces `*json` with the compact text of `node`: dictionary members in key order, doubles as the
  // shortest text that reads back to the same value (always with a '.' or an exponent, so that they read back
  // as doubles), strings escaped by EscapeJsonStringImpl. Always true.
  static bool Write(const Value& node, std::string* json);
};

}  // namespace base

#endif  // BASE_JSON_JSON_WRITER_H_
