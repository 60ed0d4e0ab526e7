// The recursive-descent parser behind JsonReader, and the nodes it makes besides the ordinary ones: strings
// without escapes or non-ASCII bytes become views of the parser's private copy of their bytes, and a
// container root stands for the whole result. The nodes of one result, and the copied text, live in one arena
// (base/value_arena.h) that stays until its last block is freed: a view taken out of a result by any means
// stays valid after the root is gone.
#ifndef BASE_JSON_JSON_PARSER_H_
#define BASE_JSON_JSON_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/json/json_reader.h"
#include "base/strings/string_piece.h"
#include "base/values.h"

namespace base {
namespace internal {

// A string node whose text is a view of a private copy of the input's bytes, kept in the node's own block.
class JsonStringPieceValue : public Value {
 public:
  // A node in `arena` viewing a copy of `text`.
  static JsonStringPieceValue* Create(ValueArena* arena, StringPiece text);
  ~JsonStringPieceValue() override;

  StringPiece text() const { return StringPiece(reinterpret_cast<const char*>(this + 1), length_); }

  bool GetAsString(std::wstring* out) const override;
  bool GetAsString(std::string* out) const override;
  // A StringValue that owns a copy of the text.
  StringValue* DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  explicit JsonStringPieceValue(uint32_t length);

  uint32_t length_;  // of the text that follows the node in its block
};

// The root of a parse result that is a dictionary. A child taken out of it, or its whole content swapped out,
// arrives as a deep copy that owns its text.
class DictionaryHiddenRootValue : public DictionaryValue {
 public:
  // Takes over the content of `root`, leaving it empty.
  explicit DictionaryHiddenRootValue(DictionaryValue* root);
  ~DictionaryHiddenRootValue() override;

  bool RemoveWithoutPathExpansion(const std::string& key, std::unique_ptr<Value>* out_value) override;
  // `other` receives a deep copy of this content; this root takes `other`'s former content. The parsed
  // content goes, and with it (once nothing else of the result is left) the arena.
  void Swap(DictionaryValue* other) override;
};

// The root of a parse result that is a list; as DictionaryHiddenRootValue.
class ListHiddenRootValue : public ListValue {
 public:
  explicit ListHiddenRootValue(ListValue* root);
  ~ListHiddenRootValue() override;

  bool Remove(size_t index, std::unique_ptr<Value>* out_value) override;
  void Swap(ListValue* other) override;
};

// Parses one JSON text. A parser is used for one text; the error it met stays readable afterwards.
class JsonParser {
 public:
  // Containers nest at most this deep.
  static constexpr int kMaxDepth = 99;

  JsonParser();
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;
  ~JsonParser();

  // The root value, or null with the first error met recorded.
  std::unique_ptr<Value> Parse(StringPiece input);

  JsonReader::Error error_code() const { return error_code_; }
  int error_line() const { return error_line_; }
  int error_column() const { return error_column_; }
  // "Line: L, column: C, <message of the code>", or the code's message alone when both are 0.
  std::string GetErrorMessage() const;

 private:
  enum Token {
    kObjectBegin,
    kObjectEnd,
    kArrayBegin,
    kArrayEnd,
    kString,
    kNumber,
    kLiteralTrue,
    kLiteralFalse,
    kLiteralNull,
    kListSeparator,
    kPairSeparator,
    kEndOfInput,
    kInvalidToken,
  };

  // Skips whitespace and comments, counting line breaks, and classifies the byte it stops at.
  Token NextToken();
  void SkipWhitespaceAndComments();

  std::unique_ptr<Value> ParseValue();
  std::unique_ptr<Value> ConsumeDictionary();
  std::unique_ptr<Value> ConsumeList();
  std::unique_ptr<Value> ConsumeStringValue();
  std::unique_ptr<Value> ConsumeNumber();
  std::unique_ptr<Value> ConsumeLiteral();

  // Reads the string at the current '"'. The text is a view into the input (`*owned` left alone) while it
  // holds no escape and no byte of 0x80 or above, else it is built in `*owned`.
  bool ConsumeString(StringPiece* view, std::string* owned, bool* is_view);
  // Reads the escape at the current '\' and appends what it stands for.
  bool ConsumeEscape(std::string* out);
  // Checks the UTF-8 sequence at the current byte (0x80 or above) and appends it.
  bool ConsumeUTF8Sequence(std::string* out);
  // Reads `count` hexadecimal digits starting at `at` into `*value`.
  bool ReadHexDigits(const char* at, int count, uint32_t* value) const;

  // Makes the root that the caller receives, outside the arena where `root` may let the arena go.
  std::unique_ptr<Value> MakeResult(std::unique_ptr<Value> root);

  size_t IndexOf(const char* at) const { return static_cast<size_t>(at - start_); }
  // Records an error whose column is that of the byte at `at` (1-based from the line start).
  void ReportError(JsonReader::Error code, const char* at);

  // Nodes made while parsing, and the copies of their text, come from here.
  ValueArena* arena_;
  // Children of the lists and members of the dictionaries being parsed, gathered so that each container is
  // stored with one exact allocation.
  std::vector<std::unique_ptr<Value>> pending_children_;
  std::vector<DictionaryValue::Member> pending_members_;
  const char* start_;
  const char* pos_;
  const char* end_;
  int depth_;
  int line_;
  size_t line_start_;  // index of the byte that began the current line (its line break)
  JsonReader::Error error_code_;
  int error_line_;
  int error_column_;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_JSON_JSON_PARSER_H_
