#include "base/json/json_reader.h"

#include "base/json/json_parser.h"
#include "base/values.h"

namespace base {

// static
std::unique_ptr<Value> JsonReader::Read(StringPiece json) {
  internal::JsonParser parser;
  return parser.Parse(json);
}

// static
std::unique_ptr<Value> JsonReader::ReadAndReturnError(StringPiece json, int* error_code_out,
                                                      std::string* error_message_out, int* error_line_out,
                                                      int* error_column_out) {
  internal::JsonParser parser;
  std::unique_ptr<Value> root = parser.Parse(json);
  if (root)
    return root;
  if (error_code_out)
    *error_code_out = parser.error_code();
  if (error_message_out)
    *error_message_out = parser.GetErrorMessage();
  if (error_line_out)
    *error_line_out = parser.error_line();
  if (error_column_out)
    *error_column_out = parser.error_column();
  return nullptr;
}

// static
std::string JsonReader::ErrorCodeToString(int error_code) {
  switch (error_code) {
    case kInvalidEscape:
      return "Invalid escape sequence.";
    case kSyntaxError:
      return "Syntax error.";
    case kUnexpectedToken:
      return "Unexpected token.";
    case kTrailingComma:
      return "Trailing comma not allowed.";
    case kTooMuchNesting:
      return "Too much nesting.";
    case kUnexpectedDataAfterRoot:
      return "Unexpected data after root element.";
    case kUnsupportedEncoding:
      return "Unsupported encoding. JSON must be UTF-8.";
    case kUnquotedDictionaryKey:
      return "Dictionary keys must be quoted.";
    default:
      return std::string();
  }
}

}  // namespace base
