// Reads JSON text into a value tree. The reader is deliberately lenient: it accepts comments ("//" to the end
// of the line, "/* */"), one stray byte after the root value, raw control characters in strings and the
// escapes \v and \xHH; a repeated dictionary key keeps its last value. At most 99 containers nest.
#ifndef BASE_JSON_JSON_READER_H_
#define BASE_JSON_JSON_READER_H_

#include <memory>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

class Value;

class JsonReader {
 public:
  enum Error {
    kNoError = 0,
    kInvalidEscape = 1,
    kSyntaxError = 2,
    kUnexpectedToken = 3,
    kTrailingComma = 4,
    kTooMuchNesting = 5,
    kUnexpectedDataAfterRoot = 6,
    kUnsupportedEncoding = 7,
    kUnquotedDictionaryKey = 8,
  };

  // The root of the parsed text, or null when it does not parse.
  static std::unique_ptr<Value> Read(StringPiece json);

  // As Read; on failure fills every output that is given. The message names the line and the column ("Line:
  // 3, column: 7, Syntax error.") when either is known.
  static std::unique_ptr<Value> ReadAndReturnError(StringPiece json, int* error_code_out,
                                                   std::string* error_message_out, int* error_line_out = nullptr,
                                                   int* error_column_out = nullptr);

  // The message of an error code; empty for 0 and for unknown codes.
  static std::string ErrorCodeToString(int error_code);
};

}  // namespace base

#endif  // BASE_JSON_JSON_READER_H_
