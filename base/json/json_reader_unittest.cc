#include "base/json/json_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/json/json_parser.h"
#include "base/values.h"

namespace base {
namespace {

struct ParseError {
  int code = -1;
  std::string message;
  int line = -1;
  int column = -1;
};

// Parses text that must fail and returns what was reported.
ParseError FailedParse(const std::string& text) {
  ParseError error;
  std::unique_ptr<Value> root =
      JsonReader::ReadAndReturnError(text, &error.code, &error.message, &error.line, &error.column);
  EXPECT_EQ(nullptr, root) << "parsed: " << text;
  return error;
}

std::unique_ptr<Value> MustParse(const std::string& text) {
  int code = 0;
  std::string message;
  std::unique_ptr<Value> root = JsonReader::ReadAndReturnError(text, &code, &message);
  EXPECT_NE(nullptr, root) << text << " -> " << message;
  return root;
}

void ExpectError(const std::string& text, int code, int line, int column) {
  const ParseError error = FailedParse(text);
  EXPECT_EQ(code, error.code) << text;
  EXPECT_EQ(line, error.line) << text;
  EXPECT_EQ(column, error.column) << text;
  EXPECT_EQ("Line: " + std::to_string(line) + ", column: " + std::to_string(column) + ", " +
                JsonReader::ErrorCodeToString(code),
            error.message)
      << text;
}

bool IsView(const Value& node) {
  return node.IsType(Value::kTypeString) && !node.GetAsString(static_cast<const StringValue**>(nullptr));
}

TEST(JsonReaderTest, ErrorMessages) {
  const char* const expected[] = {"",
                                  "Invalid escape sequence.",
                                  "Syntax error.",
                                  "Unexpected token.",
                                  "Trailing comma not allowed.",
                                  "Too much nesting.",
                                  "Unexpected data after root element.",
                                  "Unsupported encoding. JSON must be UTF-8.",
                                  "Dictionary keys must be quoted.",
                                  ""};
  for (int code = 0; code <= 9; ++code)
    EXPECT_EQ(expected[code], JsonReader::ErrorCodeToString(code)) << code;
  EXPECT_EQ("", JsonReader::ErrorCodeToString(-1));
}

TEST(JsonReaderTest, EmptyTextIsAnUnexpectedToken) {
  ExpectError("", JsonReader::kUnexpectedToken, 1, 1);
  ExpectError("  /* only a comment */ ", JsonReader::kUnexpectedToken, 1, 24);
  ExpectError("// a comment", JsonReader::kUnexpectedToken, 1, 13);
  ExpectError("\xEF\xBB\xBF", JsonReader::kUnexpectedToken, 1, 4);
  // The line start is the line-break byte itself, so the first byte of a later line is column 2.
  ExpectError("\n", JsonReader::kUnexpectedToken, 2, 2);
}

TEST(JsonReaderTest, LineBreaksAndColumns) {
  // CR LF is one break; lone CR and lone LF are one each.
  ExpectError("\r\n\r\n x", JsonReader::kUnexpectedToken, 3, 3);
  ExpectError("\r\r x", JsonReader::kUnexpectedToken, 3, 3);
  ExpectError("\n\r x", JsonReader::kUnexpectedToken, 3, 3);
  // Breaks inside a block comment are not counted; a line comment ends before its break.
  ExpectError("/*\n\n*/ x", JsonReader::kUnexpectedToken, 1, 8);
  ExpectError("// c\r\n x", JsonReader::kUnexpectedToken, 2, 3);
  // Whitespace after a number is counted once.
  ExpectError("[1\n,\nx]", JsonReader::kUnexpectedToken, 3, 2);
  ExpectError("[1 \n\n y]", JsonReader::kSyntaxError, 3, 3);
  ExpectError("{\"a\": 1\r\n\r\n,\n\"b\":x}", JsonReader::kUnexpectedToken, 4, 6);
}

TEST(JsonReaderTest, OneStrayByteAfterTheRoot) {
  for (const char* text : {"[1] x", "{}}", "[]]", "\"s\"x", "true!", "nulll", "[1]x // comment", "[] /* c */ ; ",
                           "1]", "[]\xFF", "{}/", "[]\f"}) {
    EXPECT_NE(nullptr, MustParse(text)) << text;
  }
  ExpectError("[1] xy", JsonReader::kUnexpectedDataAfterRoot, 1, 6);
  ExpectError("[] x /* c */ y", JsonReader::kUnexpectedDataAfterRoot, 1, 14);
  ExpectError("[]\n x\n y", JsonReader::kUnexpectedDataAfterRoot, 3, 3);
  ExpectError("[]\xC3\xA9", JsonReader::kUnexpectedDataAfterRoot, 1, 4);  // two bytes of one character
  // After a number only a byte that may follow a number is accepted.
  ExpectError("1 x", JsonReader::kSyntaxError, 1, 3);
}

TEST(JsonReaderTest, NestingLimit) {
  EXPECT_NE(nullptr, MustParse(std::string(99, '[') + std::string(99, ']')));
  std::string mixed;
  for (int i = 0; i < 99; ++i)
    mixed += i % 2 ? "[" : "{\"k\":";
  mixed += "1";
  for (int i = 98; i >= 0; --i)
    mixed += i % 2 ? "]" : "}";
  EXPECT_NE(nullptr, MustParse(mixed));
  ExpectError(std::string(100, '[') + std::string(100, ']'), JsonReader::kTooMuchNesting, 1, 100);
  ExpectError("{\"a\":" + std::string(99, '[') + std::string(99, ']') + "}", JsonReader::kTooMuchNesting, 1, 104);
  // Depth is given back on the way out: many siblings at depth 99 are fine.
  std::string siblings = std::string(98, '[');
  for (int i = 0; i < 200; ++i)
    siblings += i ? ",[]" : "[]";
  siblings += std::string(98, ']');
  EXPECT_NE(nullptr, MustParse(siblings));
}

TEST(JsonReaderTest, Numbers) {
  struct Case {
    const char* text;
    Value::Type type;
    double value;
  };
  const Case cases[] = {
      {"0", Value::kTypeInteger, 0},
      {"-0", Value::kTypeInteger, 0},
      {"2147483647", Value::kTypeInteger, 2147483647.0},
      {"-2147483648", Value::kTypeInteger, -2147483648.0},
      {"2147483648", Value::kTypeDouble, 2147483648.0},
      {"-2147483649", Value::kTypeDouble, -2147483649.0},
      {"1.0", Value::kTypeDouble, 1.0},
      {"0.001", Value::kTypeDouble, 0.001},
      {"1e05", Value::kTypeDouble, 1e5},
      {"1E+2", Value::kTypeDouble, 100},
      {"-1.5e-3", Value::kTypeDouble, -1.5e-3},
      {"1.7976931348623157e308", Value::kTypeDouble, 1.7976931348623157e308},
      {"5e-324", Value::kTypeDouble, 5e-324},
      {"123456789012345678901234567890", Value::kTypeDouble, 123456789012345678901234567890.0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Value> root = MustParse(std::string("[") + c.text + "]");
    ASSERT_NE(nullptr, root);
    const ListValue* list = nullptr;
    const Value* number = nullptr;
    ASSERT_TRUE(root->GetAsList(&list));
    ASSERT_TRUE(list->Get(0, &number));
    EXPECT_EQ(c.type, number->GetType()) << c.text;
    double value = 0;
    EXPECT_TRUE(number->GetAsDouble(&value));
    EXPECT_EQ(c.value, value) << c.text;
  }
  double negative_zero = 1;
  MustParse("-0.0")->GetAsDouble(&negative_zero);
  EXPECT_TRUE(std::signbit(negative_zero));

  ExpectError("[01]", JsonReader::kSyntaxError, 1, 3);
  ExpectError("[-01]", JsonReader::kSyntaxError, 1, 4);
  ExpectError("[-]", JsonReader::kSyntaxError, 1, 3);
  ExpectError("[1.]", JsonReader::kSyntaxError, 1, 4);
  ExpectError("1.", JsonReader::kSyntaxError, 1, 3);
  ExpectError("[1e]", JsonReader::kSyntaxError, 1, 4);
  ExpectError("[1e+]", JsonReader::kSyntaxError, 1, 5);
  ExpectError("[.5]", JsonReader::kUnexpectedToken, 1, 2);
  ExpectError("[+1]", JsonReader::kUnexpectedToken, 1, 2);
  ExpectError("[1x]", JsonReader::kSyntaxError, 1, 3);
  ExpectError("[1/]", JsonReader::kSyntaxError, 1, 3);
  EXPECT_NE(nullptr, MustParse("[1/* c */]"));
  // Outside the double range: a failure with a code and the number's position, never a silent one.
  ExpectError("[1e400]", JsonReader::kSyntaxError, 1, 2);
  ExpectError("[-1e400]", JsonReader::kSyntaxError, 1, 2);
  ExpectError("\n  1e-400", JsonReader::kSyntaxError, 2, 4);
  ExpectError("[\n1e999\n\n]", JsonReader::kSyntaxError, 2, 2);
}

TEST(JsonReaderTest, Literals) {
  bool value = false;
  EXPECT_TRUE(MustParse("true")->GetAsBoolean(&value));
  EXPECT_TRUE(value);
  EXPECT_TRUE(MustParse(" false ")->GetAsBoolean(&value));
  EXPECT_FALSE(value);
  EXPECT_TRUE(MustParse("null")->IsType(Value::kTypeNull));
  ExpectError("tru", JsonReader::kSyntaxError, 1, 1);
  ExpectError("[nul]", JsonReader::kSyntaxError, 1, 2);
  ExpectError("[True]", JsonReader::kUnexpectedToken, 1, 2);
  ExpectError("[truex]", JsonReader::kSyntaxError, 1, 6);
}

TEST(JsonReaderTest, Dictionaries) {
  std::unique_ptr<Value> root = MustParse("{\"a\": 1, \"a\": 2, \"x.y\": true, \"\": null}");
  const DictionaryValue* dictionary = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dictionary));
  EXPECT_EQ(3u, dictionary->size());
  int value = 0;
  EXPECT_TRUE(dictionary->GetInteger("a", &value));
  EXPECT_EQ(2, value);  // the last of repeated keys
  const Value* literal = nullptr;
  EXPECT_TRUE(dictionary->GetWithoutPathExpansion("x.y", &literal));  // keys are literal
  EXPECT_FALSE(dictionary->Get("x", nullptr));
  EXPECT_TRUE(dictionary->HasKey(""));

  ExpectError("{a:1}", JsonReader::kUnquotedDictionaryKey, 1, 2);
  ExpectError("{1:1}", JsonReader::kUnquotedDictionaryKey, 1, 2);
  ExpectError("{", JsonReader::kUnquotedDictionaryKey, 1, 2);
  ExpectError("{\"a\" 1}", JsonReader::kSyntaxError, 1, 6);
  ExpectError("{\"a\":}", JsonReader::kUnexpectedToken, 1, 6);
  ExpectError("{\"a\":1,}", JsonReader::kTrailingComma, 1, 8);
  ExpectError("{\"a\":1, \n}", JsonReader::kTrailingComma, 2, 2);
  // A missing separator after a member is reported one column to the left of the offending byte.
  ExpectError("{\"a\":true \"b\":1}", JsonReader::kSyntaxError, 1, 10);
  ExpectError("{\"a\":{} ]", JsonReader::kSyntaxError, 1, 8);
  ExpectError("{\"a\":true", JsonReader::kSyntaxError, 1, 9);
}

TEST(JsonReaderTest, Lists) {
  std::unique_ptr<Value> root = MustParse("[ ] ");
  const ListValue* list = nullptr;
  ASSERT_TRUE(root->GetAsList(&list));
  EXPECT_TRUE(list->empty());
  ExpectError("[1,]", JsonReader::kTrailingComma, 1, 4);
  ExpectError("[1,,2]", JsonReader::kUnexpectedToken, 1, 4);
  ExpectError("[,1]", JsonReader::kUnexpectedToken, 1, 2);
  ExpectError("[true false]", JsonReader::kSyntaxError, 1, 7);
  ExpectError("[true", JsonReader::kSyntaxError, 1, 6);
  ExpectError("[\"a\":1]", JsonReader::kSyntaxError, 1, 5);
  ExpectError("]", JsonReader::kUnexpectedToken, 1, 1);
}

TEST(JsonReaderTest, StringContents) {
  std::string text;
  EXPECT_TRUE(MustParse("\"tab\there\x01\x1f\x7f\"")->GetAsString(&text));
  EXPECT_EQ("tab\there\x01\x1f\x7f", text);  // raw control characters are kept
  EXPECT_TRUE(MustParse("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\v\"")->GetAsString(&text));
  EXPECT_EQ("\"\\/\b\f\n\r\t\v", text);
  EXPECT_TRUE(MustParse("\"\\x41\\x7f\\xE9\\xff\\x00\"")->GetAsString(&text));
  EXPECT_EQ(std::string("A\x7f\xc3\xa9\xc3\xbf\0", 7), text);
  EXPECT_TRUE(MustParse("\"\\u0041\\u00e9\\u20AC\\uD83D\\uDE00\\u0000\"")->GetAsString(&text));
  EXPECT_EQ(std::string("A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\0", 11), text);
  EXPECT_TRUE(MustParse("\"caf\xc3\xa9 \xf0\x9f\x98\x80 \xef\xbf\xbd\"")->GetAsString(&text));
  EXPECT_EQ("caf\xc3\xa9 \xf0\x9f\x98\x80 \xef\xbf\xbd", text);
  std::wstring wide;
  EXPECT_TRUE(MustParse("[\"plain\"]")->GetAsList(static_cast<ListValue**>(nullptr)));
  std::unique_ptr<Value> list = MustParse("[\"plain\", \"caf\xc3\xa9\"]");
  const ListValue* items = nullptr;
  const Value* item = nullptr;
  ASSERT_TRUE(list->GetAsList(&items));
  ASSERT_TRUE(items->Get(1, &item));
  EXPECT_TRUE(item->GetAsString(&wide));
  EXPECT_EQ(L"caf\u00e9", wide);
}

TEST(JsonReaderTest, StringErrors) {
  ExpectError("\"abc", JsonReader::kSyntaxError, 1, 4);
  ExpectError("\"", JsonReader::kSyntaxError, 1, 1);
  ExpectError("[\"a\\\"]", JsonReader::kSyntaxError, 1, 6);
  // Every escape error is reported at its backslash.
  ExpectError("[\"ab\\q\"]", JsonReader::kInvalidEscape, 1, 5);
  ExpectError("\"\\", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\u12\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\u12", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\u12G4\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\x4\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\xg0\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\U0041\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\\t\"", JsonReader::kInvalidEscape, 1, 2);
  // An escape holds exactly its hexadecimal digits: no sign, prefix or blank.
  ExpectError("\"\\u+041\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\u-041\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\u0x41\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\u 041\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\x+1\"", JsonReader::kInvalidEscape, 1, 2);
  // Surrogates must pair up, and the result must be a character.
  ExpectError("\"\\uD800\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\uD800x\\uDC00\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\uD800\\u0041\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\uD800\\uD800\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\uDC00\\uD800\"", JsonReader::kInvalidEscape, 1, 2);
  ExpectError("\"\\uDC00\"", JsonReader::kInvalidEscape, 1, 2);
  // Noncharacters are characters like any other.
  std::string text;
  EXPECT_TRUE(MustParse("\"\\uFDCF\\uFDD0\\uFDEF\\uFFFE\\uFFFF\\uDBFF\\uDFFF\"")->GetAsString(&text));
  EXPECT_EQ("\xEF\xB7\x8F\xEF\xB7\x90\xEF\xB7\xAF\xEF\xBF\xBE\xEF\xBF\xBF\xF4\x8F\xBF\xBF", text);
}

TEST(JsonReaderTest, UTF8Errors) {
  struct Case {
    const char* text;
    int column;
  };
  const Case cases[] = {
      {"\"\xC0 \"", 2},               // a lead byte without its continuation
      {"\"ab\x80\"", 4},              // a lone continuation byte
      {"\"\xFE\"", 2},                //
      {"\"\xFF\"", 2},                //
      {"\"\xC0\x80\"", 2},            // overlong
      {"\"\xE0\x80\x80\"", 2},        // overlong
      {"\"\xED\xA0\x80\"", 2},        // an encoded surrogate
      {"\"\xF4\x90\x80\x80\"", 2},    // above U+10FFFF
      {"\"\xF8\x88\x80\x80\x80\"", 2},
      {"\"\xE2\x82\"", 2},            // truncated by the quote
      {"\"\xE2\x82", 2},              // truncated by the end
  };
  for (const Case& c : cases)
    ExpectError(c.text, JsonReader::kUnsupportedEncoding, 1, c.column);
  // Noncharacters (U+FFFE, U+FDD0, U+1FFFF) are well-formed.
  std::string text;
  EXPECT_TRUE(MustParse("\"\xEF\xBF\xBE\xEF\xB7\x90\xF0\x9F\xBF\xBF\"")->GetAsString(&text));
  EXPECT_EQ("\xEF\xBF\xBE\xEF\xB7\x90\xF0\x9F\xBF\xBF", text);
  // Outside strings a non-ASCII byte is no token at all.
  ExpectError("[\xC3\xA9]", JsonReader::kUnexpectedToken, 1, 2);
}

TEST(JsonReaderTest, ByteOrderMarkOnlyAtTheStart) {
  EXPECT_NE(nullptr, MustParse("\xEF\xBB\xBF{\"a\":1}"));
  ExpectError(" \xEF\xBB\xBF{}", JsonReader::kUnexpectedToken, 1, 2);
  ExpectError("\xEF\xBB{}", JsonReader::kUnexpectedToken, 1, 1);
}

TEST(JsonReaderTest, CommentsBetweenTokens) {
  std::unique_ptr<Value> root = MustParse(
      "// leading\n{ /* a */ \"a\" /* b */ : /* c */ [1, // d\n 2] /* e */, \"b\": \"//not a comment\" }"
      " /* trailing, never closed");
  ASSERT_NE(nullptr, root);
  const DictionaryValue* dictionary = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dictionary));
  std::string text;
  EXPECT_TRUE(dictionary->GetString("b", &text));
  EXPECT_EQ("//not a comment", text);
  ExpectError("[1, /]", JsonReader::kUnexpectedToken, 1, 5);
  ExpectError("/*/ 1", JsonReader::kUnexpectedToken, 1, 6);
}

TEST(JsonReaderTest, SuccessLeavesOutputsAlone) {
  int code = 42, line = 42, column = 42;
  std::string message = "keep";
  EXPECT_NE(nullptr, JsonReader::ReadAndReturnError("[]", &code, &message, &line, &column));
  EXPECT_EQ(42, code);
  EXPECT_EQ("keep", message);
  EXPECT_EQ(42, line);
  EXPECT_EQ(42, column);
  // Every output is optional.
  EXPECT_EQ(nullptr, JsonReader::ReadAndReturnError("[", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, JsonReader::Read("[1,]"));
  EXPECT_EQ(nullptr, JsonReader::Read(StringPiece()));  // an empty view is an empty text
}

// Strings without escapes and non-ASCII bytes stay views into the parser's own copy of the text; everything
// taken out of a result owns its text.
TEST(JsonReaderTest, StringViewsLiveInThePrivateCopy) {
  std::string input = "{\"plain\": \"text\", \"escaped\": \"a\\nb\", \"utf8\": \"\xc3\xa9\", \"list\": [\"x\"],"
                      " \"inner\": {\"deep\": \"view\", \"more\": [\"v\"]}}";
  std::unique_ptr<Value> root = MustParse(input);
  ASSERT_NE(nullptr, root);
  input.assign(input.size(), '#');  // the caller's text is not what the views see

  DictionaryValue* dictionary = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dictionary));
  EXPECT_NE(nullptr, dynamic_cast<internal::DictionaryHiddenRootValue*>(dictionary));
  const Value* node = nullptr;
  ASSERT_TRUE(dictionary->Get("plain", &node));
  EXPECT_TRUE(IsView(*node));
  std::string text;
  EXPECT_TRUE(node->GetAsString(&text));
  EXPECT_EQ("text", text);
  EXPECT_TRUE(node->Equals(std::make_unique<StringValue>("text").get()));
  EXPECT_TRUE(StringValue("text").Equals(node));
  EXPECT_FALSE(node->Equals(std::make_unique<StringValue>("texts").get()));
  std::unique_ptr<Value> copy = node->CreateDeepCopy();
  EXPECT_FALSE(IsView(*copy));
  EXPECT_TRUE(copy->Equals(node));
  ASSERT_TRUE(dictionary->Get("escaped", &node));
  EXPECT_FALSE(IsView(*node));
  ASSERT_TRUE(dictionary->Get("utf8", &node));
  EXPECT_FALSE(IsView(*node));

  // A child removed from the root is handed out as a deep copy.
  std::unique_ptr<Value> removed;
  ASSERT_TRUE(dictionary->RemoveWithoutPathExpansion("plain", &removed));
  EXPECT_FALSE(IsView(*removed));
  std::unique_ptr<Value> list;
  ASSERT_TRUE(dictionary->Remove("list", &list));
  const ListValue* items = nullptr;
  ASSERT_TRUE(list->GetAsList(&items));
  ASSERT_TRUE(items->Get(0, &node));
  EXPECT_FALSE(IsView(*node));

  // Taken out of an inner dictionary, a view stays a view, and must outlive the root.
  std::unique_ptr<Value> deep;
  ASSERT_TRUE(dictionary->Remove("inner.deep", &deep));
  std::unique_ptr<Value> more;
  ASSERT_TRUE(dictionary->RemovePath("inner.more", &more));
  EXPECT_FALSE(dictionary->HasKey("inner"));  // emptied and pruned
  root.reset();
  std::vector<std::string> churn(1000, std::string(200, '@'));  // reuse freed memory
  EXPECT_TRUE(deep->GetAsString(&text));
  EXPECT_EQ("view", text);
  ASSERT_TRUE(more->GetAsList(&items));
  ASSERT_TRUE(items->Get(0, &node));
  EXPECT_TRUE(node->GetAsString(&text));
  EXPECT_EQ("v", text);
  EXPECT_TRUE(removed->GetAsString(&text));
  EXPECT_EQ("text", text);
}

TEST(JsonReaderTest, HiddenRootSwapHandsOutCopies) {
  std::unique_ptr<Value> root = MustParse("{\"a\": \"view\", \"b\": [\"inner\"]}");
  DictionaryValue* dictionary = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dictionary));
  std::unique_ptr<DictionaryValue> expected(dictionary->DeepCopy());
  DictionaryValue other;
  other.SetInteger("mine", 1);
  dictionary->Swap(&other);
  EXPECT_TRUE(other.Equals(expected.get()));
  const Value* node = nullptr;
  ASSERT_TRUE(other.Get("a", &node));
  EXPECT_FALSE(IsView(*node));
  int value = 0;
  EXPECT_TRUE(dictionary->GetInteger("mine", &value));
  root.reset();
  EXPECT_TRUE(other.Equals(expected.get()));

  std::unique_ptr<Value> list_root = MustParse("[\"one\", {\"k\": \"two\"}]");
  ListValue* list = nullptr;
  ASSERT_TRUE(list_root->GetAsList(&list));
  EXPECT_NE(nullptr, dynamic_cast<internal::ListHiddenRootValue*>(list));
  std::unique_ptr<ListValue> expected_list(list->DeepCopy());
  std::unique_ptr<Value> first;
  ASSERT_TRUE(list->Remove(0, &first));
  EXPECT_FALSE(IsView(*first));
  ListValue other_list;
  list->Swap(&other_list);
  EXPECT_TRUE(list->empty());
  list_root.reset();
  ASSERT_EQ(1u, other_list.GetSize());
  std::string text;
  const Value* inner = nullptr;
  ASSERT_TRUE(other_list.Get(0, &inner));
  const DictionaryValue* inner_dictionary = nullptr;
  ASSERT_TRUE(inner->GetAsDictionary(&inner_dictionary));
  EXPECT_TRUE(inner_dictionary->GetString("k", &text));
  EXPECT_EQ("two", text);

  // Two parse results swapped with each other keep both texts alive.
  std::unique_ptr<Value> left = MustParse("[\"left\"]");
  std::unique_ptr<Value> right = MustParse("[\"right\"]");
  ListValue *left_list = nullptr, *right_list = nullptr;
  left->GetAsList(&left_list);
  right->GetAsList(&right_list);
  left_list->Swap(right_list);
  right.reset();
  ASSERT_TRUE(left_list->Get(0, &inner));
  EXPECT_TRUE(inner->GetAsString(&text));
  EXPECT_EQ("right", text);
}

// The nodes of a result share one arena, which must go exactly when the last of them goes, whichever thread
// deletes it.
TEST(JsonReaderTest, ResultMemoryGoesWithItsLastNode) {
  const int64_t before = internal::ValueArena::LiveCountForTesting();
  EXPECT_EQ(nullptr, JsonReader::Read("[\"a\", {\"b\": [1, 2"));  // a failed parse keeps nothing
  EXPECT_EQ(before, internal::ValueArena::LiveCountForTesting());
  EXPECT_NE(nullptr, JsonReader::Read("12"));  // nor does a root that is not a container
  EXPECT_EQ(before, internal::ValueArena::LiveCountForTesting());

  std::string text = "{\"lists\": [";
  constexpr int kParts = 8;
  for (int i = 0; i < kParts; ++i)
    text += std::string(i ? "," : "") + "{\"name\": \"part\", \"values\": [1, 2.5, \"x\", [true, null]]}";
  text += "]}";
  std::unique_ptr<Value> root = MustParse(text);
  EXPECT_EQ(before + 1, internal::ValueArena::LiveCountForTesting());
  ListValue* lists = nullptr;
  ASSERT_TRUE(static_cast<DictionaryValue*>(root.get())->GetList("lists", &lists));
  std::vector<std::unique_ptr<Value>> parts(kParts);
  for (int i = kParts - 1; i >= 0; --i)
    ASSERT_TRUE(lists->Remove(static_cast<size_t>(i), &parts[static_cast<size_t>(i)]));
  root.reset();
  EXPECT_EQ(before + 1, internal::ValueArena::LiveCountForTesting());  // the parts still hold it
  std::unique_ptr<Value> expected = MustParse("{\"name\": \"part\", \"values\": [1, 2.5, \"x\", [true, null]]}");
  std::vector<std::thread> threads;
  std::vector<int> equal(kParts, 0);
  for (int i = 0; i < kParts; ++i) {
    threads.emplace_back([&, i] {
      equal[static_cast<size_t>(i)] = parts[static_cast<size_t>(i)]->Equals(expected.get());
      parts[static_cast<size_t>(i)].reset();
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(std::vector<int>(kParts, 1), equal);
  expected.reset();
  EXPECT_EQ(before, internal::ValueArena::LiveCountForTesting());
}

// Containers of a result keep growing on the heap once the parse is over, also when the arena behind their
// first storage is long gone.
TEST(JsonReaderTest, ResultContainersGrowAfterTheArenaIsGone) {
  const int64_t before = internal::ValueArena::LiveCountForTesting();
  std::unique_ptr<Value> empty_dictionary = MustParse("{}");
  std::unique_ptr<Value> empty_list = MustParse("[]");
  EXPECT_EQ(before, internal::ValueArena::LiveCountForTesting());  // nothing of either arena is left
  DictionaryValue* dictionary = nullptr;
  ListValue* list = nullptr;
  ASSERT_TRUE(empty_dictionary->GetAsDictionary(&dictionary));
  ASSERT_TRUE(empty_list->GetAsList(&list));
  for (int i = 0; i < 1000; ++i) {
    dictionary->SetIntegerWithoutPathExpansion(std::to_string(i), i);
    list->AppendInteger(i);
  }
  EXPECT_EQ(1000u, dictionary->size());
  EXPECT_EQ(1000u, list->GetSize());

  // Storage swapped out of a parsed container into one of the caller's, outliving the parse result.
  std::unique_ptr<Value> root = MustParse("{\"inner\": [1, 2, 3], \"members\": {\"a\": 1}}");
  ListValue* inner = nullptr;
  ASSERT_TRUE(static_cast<DictionaryValue*>(root.get())->GetList("inner", &inner));
  ListValue mine;
  mine.Swap(inner);
  const Value* members_node = nullptr;
  ASSERT_TRUE(static_cast<DictionaryValue*>(root.get())->Get("members", &members_node));
  DictionaryValue my_members;
  my_members.Swap(const_cast<DictionaryValue*>(static_cast<const DictionaryValue*>(members_node)));
  root.reset();
  for (int i = 0; i < 1000; ++i) {
    mine.AppendInteger(i);  // regrowth frees the arena's last block, then grows again
    my_members.SetIntegerWithoutPathExpansion(std::to_string(i), i);
  }
  EXPECT_EQ(1003u, mine.GetSize());
  EXPECT_EQ(1001u, my_members.size());
  // The parsed children that moved along still hold their arena, until they go too.
  EXPECT_EQ(before + 1, internal::ValueArena::LiveCountForTesting());
  mine.Clear();
  my_members.Clear();
  EXPECT_EQ(before, internal::ValueArena::LiveCountForTesting());
}

TEST(JsonReaderTest, RepeatedKeysKeepTheLastInAnyOrder) {
  std::unique_ptr<Value> root = MustParse("{\"b\": 1, \"a\": 2, \"c\": 0, \"b\": 3, \"a\": 4, \"a\": {}, \"a\": 5}");
  const DictionaryValue* dictionary = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dictionary));
  std::vector<std::string> keys;
  std::vector<int> values;
  for (DictionaryValue::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    keys.push_back(it.key());
    int value = -1;
    it.value().GetAsInteger(&value);
    values.push_back(value);
  }
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), keys);
  EXPECT_EQ((std::vector<int>{5, 3, 0}), values);
}

TEST(JsonReaderTest, StringRootOwnsItsText) {
  std::unique_ptr<Value> root = MustParse("\"lonely\"");
  const StringValue* string_value = nullptr;
  EXPECT_TRUE(root->GetAsString(&string_value));
  EXPECT_EQ("lonely", string_value->GetString());
}

}  // namespace
}  // namespace base
