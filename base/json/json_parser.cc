#include "base/json/json_parser.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/strings/utf_string_conversions.h"

namespace base {
namespace internal {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether any of the 8 bytes in `word` is '"', '\\' or 0x80 and above: the bytes that end a plain run of a
// string. (A zero-byte test per pattern; a borrow may flag a byte after a true match, never one before.)
bool HasSpecialByte(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  const uint64_t quotes = word ^ (kOnes * '"');
  const uint64_t backslashes = word ^ (kOnes * '\\');
  return (((quotes - kOnes) & ~quotes) | ((backslashes - kOnes) & ~backslashes) | word) & kHighs;
}

}  // namespace

// JsonStringPieceValue

JsonStringPieceValue::JsonStringPieceValue(uint32_t length) : Value(kTypeString), length_(length) {}

// static
JsonStringPieceValue* JsonStringPieceValue::Create(ValueArena* arena, StringPiece text) {
  CHECK(text.size() <= UINT32_MAX);
  // One block: the node, then the bytes it views.
  void* block = Value::operator new(sizeof(JsonStringPieceValue) + text.size(), arena);
  if (!text.empty())
    memcpy(static_cast<char*>(block) + sizeof(JsonStringPieceValue), text.data(), text.size());
  return ::new (block) JsonStringPieceValue(static_cast<uint32_t>(text.size()));
}

JsonStringPieceValue::~JsonStringPieceValue() = default;

bool JsonStringPieceValue::GetAsString(std::wstring* out) const {
  if (out)
    *out = UTF8ToWide(text());
  return true;
}

bool JsonStringPieceValue::GetAsString(std::string* out) const {
  if (out)
    text().CopyToString(out);
  return true;
}

StringValue* JsonStringPieceValue::DeepCopy() const {
  return new StringValue(text().as_string());
}

bool JsonStringPieceValue::Equals(const Value* other) const {
  if (!other || other->GetType() != GetType())
    return false;
  std::string other_text;
  return other->GetAsString(&other_text) && StringPiece(other_text) == text();
}

// DictionaryHiddenRootValue

DictionaryHiddenRootValue::DictionaryHiddenRootValue(DictionaryValue* root) {
  DictionaryValue::Swap(root);
}

DictionaryHiddenRootValue::~DictionaryHiddenRootValue() = default;

bool DictionaryHiddenRootValue::RemoveWithoutPathExpansion(const std::string& key,
                                                           std::unique_ptr<Value>* out_value) {
  if (!out_value)
    return DictionaryValue::RemoveWithoutPathExpansion(key, nullptr);
  const Value* child = nullptr;
  if (!GetWithoutPathExpansion(key, &child))
    return false;
  std::unique_ptr<Value> copy = child->CreateDeepCopy();
  DictionaryValue::RemoveWithoutPathExpansion(key, nullptr);
  *out_value = std::move(copy);
  return true;
}

void DictionaryHiddenRootValue::Swap(DictionaryValue* other) {
  if (other == this)
    return;
  std::unique_ptr<DictionaryValue> copy(DeepCopy());
  DictionaryValue::Swap(other);
  // Not the virtual Swap: `other` may be a hidden root itself, and must simply end up with the copy.
  other->DictionaryValue::Swap(copy.get());
}

// ListHiddenRootValue

ListHiddenRootValue::ListHiddenRootValue(ListValue* root) {
  ListValue::Swap(root);
}

ListHiddenRootValue::~ListHiddenRootValue() = default;

bool ListHiddenRootValue::Remove(size_t index, std::unique_ptr<Value>* out_value) {
  if (!out_value)
    return ListValue::Remove(index, nullptr);
  const Value* child = nullptr;
  if (!Get(index, &child))
    return false;
  std::unique_ptr<Value> copy = child->CreateDeepCopy();
  ListValue::Remove(index, nullptr);
  *out_value = std::move(copy);
  return true;
}

void ListHiddenRootValue::Swap(ListValue* other) {
  if (other == this)
    return;
  std::unique_ptr<ListValue> copy(DeepCopy());
  ListValue::Swap(other);
  other->ListValue::Swap(copy.get());
}

// JsonParser

JsonParser::JsonParser()
    : arena_(nullptr),
      start_(nullptr),
      pos_(nullptr),
      end_(nullptr),
      depth_(0),
      line_(1),
      line_start_(0),
      error_code_(JsonReader::kNoError),
      error_line_(0),
      error_column_(0) {}

JsonParser::~JsonParser() = default;

std::unique_ptr<Value> JsonParser::Parse(StringPiece input) {
  // Most documents need a few times their size in nodes.
  arena_ = ValueArena::Create(input.size() * 3);
  // The caller's text is only read during the parse: the result's views see copies of their bytes.
  start_ = input.data() ? input.data() : "";
  pos_ = start_;
  end_ = start_ + input.size();
  depth_ = 0;
  line_ = 1;
  line_start_ = 0;
  error_code_ = JsonReader::kNoError;
  error_line_ = 0;
  error_column_ = 0;

  // A UTF-8 byte-order mark.
  if (end_ - pos_ >= 3 && memcmp(pos_, "\xEF\xBB\xBF", 3) == 0)
    pos_ += 3;

  std::unique_ptr<Value> root;
  {
    // The containers' storage comes from the arena only while the parse fills them.
    ValueArena::ScopedCurrent storage_from_arena(arena_);
    root = ParseValue();
  }
  // One stray byte after the root is tolerated, as long as nothing but whitespace and comments follows it.
  if (root && NextToken() != kEndOfInput) {
    ++pos_;
    if (NextToken() != kEndOfInput) {
      ReportError(JsonReader::kUnexpectedDataAfterRoot, pos_);
      root.reset();
    }
  }
  std::unique_ptr<Value> result = root ? MakeResult(std::move(root)) : nullptr;

  // The arena goes once nothing of it is left: at once after a failure, else with the result's last node.
  pending_children_.clear();
  pending_members_.clear();
  arena_->Seal();
  arena_ = nullptr;
  return result;
}

std::unique_ptr<Value> JsonParser::MakeResult(std::unique_ptr<Value> root) {
  // The roots are made on the heap: a root swapped empty, or one that is only a number, then holds no arena.
  if (root->IsType(Value::kTypeDictionary)) {
    DictionaryValue* dictionary = nullptr;
    root->GetAsDictionary(&dictionary);
    return std::make_unique<DictionaryHiddenRootValue>(dictionary);
  }
  if (root->IsType(Value::kTypeList)) {
    ListValue* list = nullptr;
    root->GetAsList(&list);
    return std::make_unique<ListHiddenRootValue>(list);
  }
  // A string view becomes a string that owns its text.
  return root->CreateDeepCopy();
}

std::string JsonParser::GetErrorMessage() const {
  const std::string message = JsonReader::ErrorCodeToString(error_code_);
  if (error_line_ == 0 && error_column_ == 0)
    return message;
  char prefix[64];
  snprintf(prefix, sizeof(prefix), "Line: %i, column: %i, ", error_line_, error_column_);
  return prefix + message;
}

void JsonParser::ReportError(JsonReader::Error code, const char* at) {
  error_code_ = code;
  error_line_ = line_;
  // In unsigned arithmetic: the first byte of a line has column 1 only on line 1, since a later line starts at
  // its line-break byte.
  error_column_ = static_cast<int>(static_cast<uint32_t>(IndexOf(at) - line_start_ + 1));
}

void JsonParser::SkipWhitespaceAndComments() {
  while (pos_ < end_) {
    switch (*pos_) {
      case ' ':
      case '\t':
        ++pos_;
        break;
      case '\r':
        ++line_;
        line_start_ = IndexOf(pos_);
        ++pos_;
        break;
      case '\n':
        // CR LF is one line break.
        if (pos_ == start_ || pos_[-1] != '\r')
          ++line_;
        line_start_ = IndexOf(pos_);
        ++pos_;
        break;
      case '/':
        if (end_ - pos_ >= 2 && pos_[1] == '/') {
          pos_ += 2;
          while (pos_ < end_ && *pos_ != '\r' && *pos_ != '\n')
            ++pos_;
        } else if (end_ - pos_ >= 2 && pos_[1] == '*') {
          // Line breaks inside a block comment are not counted; an open comment runs to the end.
          const char* search = pos_ + 2;
          pos_ = end_;
          for (; end_ - search >= 2; ++search) {
            if (search[0] == '*' && search[1] == '/') {
              pos_ = search + 2;
              break;
            }
          }
        } else {
          return;  // a lone '/' is an invalid token
        }
        break;
      default:
        return;
    }
  }
}

JsonParser::Token JsonParser::NextToken() {
  SkipWhitespaceAndComments();
  if (pos_ >= end_)
    return kEndOfInput;
  switch (*pos_) {
    case '{':
      return kObjectBegin;
    case '}':
      return kObjectEnd;
    case '[':
      return kArrayBegin;
    case ']':
      return kArrayEnd;
    case '"':
      return kString;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return kNumber;
    case 't':
      return kLiteralTrue;
    case 'f':
      return kLiteralFalse;
    case 'n':
      return kLiteralNull;
    case ',':
      return kListSeparator;
    case ':':
      return kPairSeparator;
    default:
      return kInvalidToken;
  }
}

std::unique_ptr<Value> JsonParser::ParseValue() {
  switch (NextToken()) {
    case kObjectBegin:
      return ConsumeDictionary();
    case kArrayBegin:
      return ConsumeList();
    case kString:
      return ConsumeStringValue();
    case kNumber:
      return ConsumeNumber();
    case kLiteralTrue:
    case kLiteralFalse:
    case kLiteralNull:
      return ConsumeLiteral();
    default:
      ReportError(JsonReader::kUnexpectedToken, pos_);
      return nullptr;
  }
}

std::unique_ptr<Value> JsonParser::ConsumeDictionary() {
  if (++depth_ > kMaxDepth) {
    ReportError(JsonReader::kTooMuchNesting, pos_);
    return nullptr;
  }
  ++pos_;  // '{'
  const size_t first_member = pending_members_.size();
  if (NextToken() != kObjectEnd) {
    std::string key;
    for (;;) {
      if (NextToken() != kString) {
        ReportError(JsonReader::kUnquotedDictionaryKey, pos_);
        return nullptr;
      }
      StringPiece key_view;
      bool key_is_view = false;
      if (!ConsumeString(&key_view, &key, &key_is_view))
        return nullptr;
      if (key_is_view)
        key_view.CopyToString(&key);
      if (NextToken() != kPairSeparator) {
        ReportError(JsonReader::kSyntaxError, pos_);
        return nullptr;
      }
      ++pos_;  // ':'
      std::unique_ptr<Value> value = ParseValue();
      if (!value)
        return nullptr;
      // Keys are literal: a '.' in a key does not nest.
      pending_members_.emplace_back(std::move(key), std::move(value));

      const Token token = NextToken();
      if (token == kListSeparator) {
        ++pos_;
        if (NextToken() == kObjectEnd) {
          ReportError(JsonReader::kTrailingComma, pos_);
          return nullptr;
        }
        continue;
      }
      if (token == kObjectEnd)
        break;
      // Reported one column to the left of the offending byte.
      ReportError(JsonReader::kSyntaxError, pos_ - 1);
      return nullptr;
    }
  }
  ++pos_;  // '}'
  --depth_;

  // Into key order, keeping the last of repeated keys (the stable sort leaves them in the order read).
  const auto begin = pending_members_.begin() + static_cast<std::ptrdiff_t>(first_member);
  const auto end = pending_members_.end();
  auto key_before = [](const DictionaryValue::Member& a, const DictionaryValue::Member& b) {
    return a.first < b.first;
  };
  if (!std::is_sorted(begin, end, key_before))
    std::stable_sort(begin, end, key_before);
  std::unique_ptr<DictionaryValue> dictionary(new (arena_) DictionaryValue);
  DictionaryValue::Storage& members = dictionary->storage();
  members.reserve(static_cast<size_t>(end - begin));
  for (auto member = begin; member != end; ++member) {
    if (member + 1 != end && member[1].first == member->first)
      continue;  // a later value of the same key follows
    members.push_back(std::move(*member));
  }
  pending_members_.resize(first_member);
  return dictionary;
}

std::unique_ptr<Value> JsonParser::ConsumeList() {
  if (++depth_ > kMaxDepth) {
    ReportError(JsonReader::kTooMuchNesting, pos_);
    return nullptr;
  }
  ++pos_;  // '['
  const size_t first_child = pending_children_.size();
  if (NextToken() != kArrayEnd) {
    for (;;) {
      std::unique_ptr<Value> value = ParseValue();
      if (!value)
        return nullptr;
      pending_children_.push_back(std::move(value));

      const Token token = NextToken();
      if (token == kListSeparator) {
        ++pos_;
        if (NextToken() == kArrayEnd) {
          ReportError(JsonReader::kTrailingComma, pos_);
          return nullptr;
        }
        continue;
      }
      if (token == kArrayEnd)
        break;
      ReportError(JsonReader::kSyntaxError, pos_);
      return nullptr;
    }
  }
  ++pos_;  // ']'
  --depth_;
  std::unique_ptr<ListValue> list(new (arena_) ListValue);
  ListValue::Storage& children = list->storage();
  children.reserve(pending_children_.size() - first_child);
  for (size_t i = first_child; i < pending_children_.size(); ++i)
    children.push_back(std::move(pending_children_[i]));
  pending_children_.resize(first_child);
  return list;
}

std::unique_ptr<Value> JsonParser::ConsumeStringValue() {
  StringPiece view;
  std::string owned;
  bool is_view = false;
  if (!ConsumeString(&view, &owned, &is_view))
    return nullptr;
  if (is_view)
    return std::unique_ptr<Value>(JsonStringPieceValue::Create(arena_, view));
  return std::unique_ptr<Value>(new (arena_) StringValue(std::move(owned)));
}

bool JsonParser::ConsumeString(StringPiece* view, std::string* owned, bool* is_view) {
  ++pos_;  // the opening '"'
  const char* const content = pos_;
  // Plain ASCII runs are scanned without copying; the first escape or non-ASCII byte switches to building
  // an owned copy.
  bool building = false;
  const char* run = content;  // start of the plain bytes not yet appended to *owned
  for (;;) {
    // Eight bytes at a time through long plain runs, then byte by byte to the one that ends the run.
    while (end_ - pos_ >= 8) {
      uint64_t word;
      memcpy(&word, pos_, sizeof(word));
      if (HasSpecialByte(word))
        break;
      pos_ += 8;
    }
    while (pos_ < end_) {
      const unsigned char c = static_cast<unsigned char>(*pos_);
      if (c == '"' || c == '\\' || c >= 0x80)
        break;
      ++pos_;
    }
    if (pos_ >= end_) {
      // Reported at the last byte of the text.
      ReportError(JsonReader::kSyntaxError, pos_ - 1);
      return false;
    }
    if (*pos_ == '"')
      break;
    if (!building) {
      // Room for the rest of the string as far as the next quote without a backslash before it, which is
      // where it usually ends.
      const char* quote = pos_;
      while ((quote = static_cast<const char*>(memchr(quote, '"', static_cast<size_t>(end_ - quote)))) &&
             quote[-1] == '\\') {
        ++quote;
      }
      owned->clear();
      owned->reserve(static_cast<size_t>((quote ? quote : end_) - content));
      building = true;
    }
    owned->append(run, static_cast<size_t>(pos_ - run));
    if (*pos_ == '\\') {
      if (!ConsumeEscape(owned))
        return false;
    } else if (!ConsumeUTF8Sequence(owned)) {
      return false;
    }
    run = pos_;
  }
  if (building) {
    owned->append(run, static_cast<size_t>(pos_ - run));
    *is_view = false;
  } else {
    *view = StringPiece(content, static_cast<size_t>(pos_ - content));
    *is_view = true;
  }
  ++pos_;  // the closing '"'
  return true;
}

bool JsonParser::ReadHexDigits(const char* at, int count, uint32_t* value) const {
  if (end_ - at < count)
    return false;
  uint32_t result = 0;
  for (int i = 0; i < count; ++i) {
    const char c = at[i];
    uint32_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<uint32_t>(c - 'A' + 10);
    else
      return false;  // also signs, "0x" and spaces: an escape holds exactly its digits
    result = result * 16 + digit;
  }
  *value = result;
  return true;
}

bool JsonParser::ConsumeEscape(std::string* out) {
  // Every escape error is reported at the backslash.
  const char* const backslash = pos_;
  if (end_ - pos_ < 2) {
    ReportError(JsonReader::kInvalidEscape, backslash);
    return false;
  }
  const char letter = pos_[1];
  pos_ += 2;
  switch (letter) {
    case '"':
    case '/':
    case '\\':
      out->push_back(letter);
      return true;
    case 'b':
      out->push_back('\b');
      return true;
    case 'f':
      out->push_back('\f');
      return true;
    case 'n':
      out->push_back('\n');
      return true;
    case 'r':
      out->push_back('\r');
      return true;
    case 't':
      out->push_back('\t');
      return true;
    case 'v':
      out->push_back('\v');
      return true;
    case 'x': {
      uint32_t code_point;
      if (!ReadHexDigits(pos_, 2, &code_point))
        break;
      pos_ += 2;
      WriteUnicodeCharacter(code_point, out);  // one byte below 0x80, two above
      return true;
    }
    case 'u': {
      uint32_t unit;
      if (!ReadHexDigits(pos_, 4, &unit))
        break;
      pos_ += 4;
      uint32_t code_point = unit;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        // A high surrogate needs "\u" and a low surrogate right after it.
        uint32_t low;
        if (end_ - pos_ < 2 || pos_[0] != '\\' || pos_[1] != 'u' || !ReadHexDigits(pos_ + 2, 4, &low) ||
            low < 0xDC00 || low > 0xDFFF) {
          break;
        }
        pos_ += 6;
        code_point = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      }
      // Noncharacters are taken: the writer passes them through, and a file it wrote must read back.
      if (!IsValidCodepoint(code_point))
        break;
      WriteUnicodeCharacter(code_point, out);
      return true;
    }
    default:
      break;
  }
  ReportError(JsonReader::kInvalidEscape, backslash);
  return false;
}

bool JsonParser::ConsumeUTF8Sequence(std::string* out) {
  // No sequence is longer than 6 bytes: decode from a window so that the index fits 32 bits however long
  // the text is.
  const int32_t window = static_cast<int32_t>(end_ - pos_ < 8 ? end_ - pos_ : 8);
  int32_t last = 0;
  uint32_t code_point = 0;
  if (!ReadUnicodeCharacter(pos_, window, &last, &code_point)) {
    ReportError(JsonReader::kUnsupportedEncoding, pos_);
    return false;
  }
  out->append(pos_, static_cast<size_t>(last) + 1);
  pos_ += last + 1;
  return true;
}

std::unique_ptr<Value> JsonParser::ConsumeNumber() {
  const char* const number = pos_;
  bool integral = true;
  if (*pos_ == '-')
    ++pos_;
  // Integer part: one or more digits, without a leading zero when there are several.
  if (pos_ >= end_ || !IsDigit(*pos_)) {
    ReportError(JsonReader::kSyntaxError, pos_);
    return nullptr;
  }
  if (*pos_ == '0') {
    ++pos_;
    if (pos_ < end_ && IsDigit(*pos_)) {
      ReportError(JsonReader::kSyntaxError, pos_);
      return nullptr;
    }
  } else {
    while (pos_ < end_ && IsDigit(*pos_))
      ++pos_;
  }
  if (pos_ < end_ && *pos_ == '.') {
    integral = false;
    ++pos_;
    if (pos_ >= end_ || !IsDigit(*pos_)) {
      ReportError(JsonReader::kSyntaxError, pos_);
      return nullptr;
    }
    while (pos_ < end_ && IsDigit(*pos_))
      ++pos_;
  }
  if (pos_ < end_ && (*pos_ == 'e' || *pos_ == 'E')) {
    integral = false;
    ++pos_;
    if (pos_ < end_ && (*pos_ == '+' || *pos_ == '-'))
      ++pos_;
    if (pos_ >= end_ || !IsDigit(*pos_)) {
      ReportError(JsonReader::kSyntaxError, pos_);
      return nullptr;
    }
    while (pos_ < end_ && IsDigit(*pos_))
      ++pos_;
  }
  const StringPiece text(number, static_cast<size_t>(pos_ - number));
  const int number_line = line_;
  const size_t number_line_start = line_start_;

  // The whitespace after the number is skipped (and its line breaks counted) once, here.
  const Token next = NextToken();
  if (next != kObjectEnd && next != kArrayEnd && next != kListSeparator && next != kEndOfInput) {
    ReportError(JsonReader::kSyntaxError, pos_);
    return nullptr;
  }

  // Text with a fraction or an exponent, or longer than "-2147483648", is never a 32-bit integer.
  int integer;
  if (integral && text.size() <= 11 && StringToInt(text, &integer))
    return std::unique_ptr<Value>(new (arena_) ScalarValue(integer));
  double real;
  if (StringToDouble(text, &real) && std::isfinite(real))
    return std::unique_ptr<Value>(new (arena_) ScalarValue(real));
  // Out of the double range: a failure like any other, with a code and the number's position.
  line_ = number_line;
  line_start_ = number_line_start;
  ReportError(JsonReader::kSyntaxError, number);
  return nullptr;
}

std::unique_ptr<Value> JsonParser::ConsumeLiteral() {
  struct Literal {
    const char* text;
    size_t length;
  };
  const Literal literal = *pos_ == 't'   ? Literal{"true", 4}
                          : *pos_ == 'f' ? Literal{"false", 5}
                                         : Literal{"null", 4};
  if (static_cast<size_t>(end_ - pos_) < literal.length || memcmp(pos_, literal.text, literal.length) != 0) {
    ReportError(JsonReader::kSyntaxError, pos_);
    return nullptr;
  }
  const char first = *pos_;
  pos_ += literal.length;  // the byte after the literal is judged by whoever reads on
  if (first == 'n')
    return std::unique_ptr<Value>(new (arena_) Value(Value::kTypeNull));
  return std::unique_ptr<Value>(new (arena_) ScalarValue(first == 't'));
}

}  // namespace internal
}  // namespace base
