#include "base/values.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

double Finite(double value) {
  return std::isfinite(value) ? value : 0.0;
}

bool KeyBefore(const DictionaryValue::Member& member, const std::string& key) {
  return member.first < key;
}

}  // namespace

// Value

Value::Value(Type type) : type_(type) {}

Value::~Value() = default;

std::unique_ptr<Value> Value::CreateNullValue() {
  return std::unique_ptr<Value>(new Value(kTypeNull));
}

bool Value::GetAsBoolean(bool*) const {
  return false;
}

bool Value::GetAsInteger(int*) const {
  return false;
}

bool Value::GetAsDouble(double*) const {
  return false;
}

bool Value::GetAsString(const StringValue**) const {
  return false;
}

bool Value::GetAsString(std::wstring*) const {
  return false;
}

bool Value::GetAsString(std::string*) const {
  return false;
}

bool Value::GetAsBinary(std::vector<char>*) const {
  return false;
}

bool Value::GetAsList(ListValue**) {
  return false;
}

bool Value::GetAsList(const ListValue**) const {
  return false;
}

bool Value::GetAsDictionary(DictionaryValue**) {
  return false;
}

bool Value::GetAsDictionary(const DictionaryValue**) const {
  return false;
}

Value* Value::DeepCopy() const {
  // Only null nodes are plain Values; every other kind overrides this.
  DCHECK(IsType(kTypeNull));
  return new Value(kTypeNull);
}

std::unique_ptr<Value> Value::CreateDeepCopy() const {
  return std::unique_ptr<Value>(DeepCopy());
}

bool Value::Equals(const Value* other) const {
  return other && other->IsType(kTypeNull) && IsType(kTypeNull);
}

// ScalarValue

ScalarValue::ScalarValue(bool value) : Value(kTypeBoolean), boolean_value_(value) {}

ScalarValue::ScalarValue(int value) : Value(kTypeInteger), integer_value_(value) {}

ScalarValue::ScalarValue(double value) : Value(kTypeDouble), double_value_(Finite(value)) {}

ScalarValue::~ScalarValue() = default;

bool ScalarValue::GetAsBoolean(bool* out) const {
  if (!IsType(kTypeBoolean))
    return false;
  if (out)
    *out = boolean_value_;
  return true;
}

bool ScalarValue::GetAsInteger(int* out) const {
  if (!IsType(kTypeInteger))
    return false;
  if (out)
    *out = integer_value_;
  return true;
}

bool ScalarValue::GetAsDouble(double* out) const {
  if (IsType(kTypeDouble)) {
    if (out)
      *out = double_value_;
    return true;
  }
  if (IsType(kTypeInteger)) {
    if (out)
      *out = integer_value_;
    return true;
  }
  return false;
}

ScalarValue* ScalarValue::DeepCopy() const {
  switch (GetType()) {
    case kTypeBoolean:
      return new ScalarValue(boolean_value_);
    case kTypeInteger:
      return new ScalarValue(integer_value_);
    default:
      return new ScalarValue(double_value_);
  }
}

bool ScalarValue::Equals(const Value* other) const {
  if (!other || other->GetType() != GetType())
    return false;
  switch (GetType()) {
    case kTypeBoolean: {
      bool value;
      return other->GetAsBoolean(&value) && value == boolean_value_;
    }
    case kTypeInteger: {
      int value;
      return other->GetAsInteger(&value) && value == integer_value_;
    }
    default: {
      double value;
      return other->GetAsDouble(&value) && value == double_value_;
    }
  }
}

// StringValue

StringValue::StringValue(const std::string& utf8) : Value(kTypeString), value_(utf8) {}

StringValue::StringValue(std::string&& utf8) : Value(kTypeString), value_(std::move(utf8)) {}

StringValue::StringValue(const std::wstring& utf16) : Value(kTypeString), value_(WideToUTF8(utf16)) {}

StringValue::~StringValue() = default;

bool StringValue::GetAsString(const StringValue** out) const {
  if (out)
    *out = this;
  return true;
}

bool StringValue::GetAsString(std::wstring* out) const {
  if (out)
    *out = UTF8ToWide(value_);
  return true;
}

bool StringValue::GetAsString(std::string* out) const {
  if (out && out != &value_)
    *out = value_;
  return true;
}

StringValue* StringValue::DeepCopy() const {
  return new StringValue(value_);
}

bool StringValue::Equals(const Value* other) const {
  if (!other || other->GetType() != GetType())
    return false;
  // Through GetAsString, so that string nodes of other classes compare by their text as well.
  std::string text;
  return other->GetAsString(&text) && text == value_;
}

// DictionaryValue

DictionaryValue::DictionaryValue() : Value(kTypeDictionary) {}

DictionaryValue::~DictionaryValue() {
  // Large trees are freed faster when the next children are on their way into the cache.
  const size_t count = dictionary_.size();
  for (size_t i = 0; i < count; ++i) {
    if (i + 4 < count)
      __builtin_prefetch(dictionary_[i + 4].second.get());
    dictionary_[i].second.reset();
  }
}

bool DictionaryValue::GetAsDictionary(DictionaryValue** out) {
  if (out)
    *out = this;
  return true;
}

bool DictionaryValue::GetAsDictionary(const DictionaryValue** out) const {
  if (out)
    *out = this;
  return true;
}

DictionaryValue* DictionaryValue::DeepCopy() const {
  DictionaryValue* result = new DictionaryValue;
  // Already in key order: appended as they come.
  result->dictionary_.reserve(dictionary_.size());
  for (const auto& member : dictionary_)
    result->dictionary_.emplace_back(member.first, member.second->CreateDeepCopy());
  return result;
}

bool DictionaryValue::Equals(const Value* other) const {
  const DictionaryValue* other_dictionary = nullptr;
  if (!other || other->GetType() != GetType() || !other->GetAsDictionary(&other_dictionary))
    return false;
  auto mine = dictionary_.begin();
  auto theirs = other_dictionary->dictionary_.begin();
  for (; mine != dictionary_.end() && theirs != other_dictionary->dictionary_.end(); ++mine, ++theirs) {
    if (mine->first != theirs->first || !mine->second->Equals(theirs->second.get()))
      return false;
  }
  return mine == dictionary_.end() && theirs == other_dictionary->dictionary_.end();
}

void DictionaryValue::Set(const std::string& path, Value* in_value) {
  Set(path, std::unique_ptr<Value>(in_value));
}

void DictionaryValue::Set(const std::string& path, std::unique_ptr<Value> in_value) {
  CHECK(in_value);
  DictionaryValue* current = this;
  size_t start = 0;
  for (size_t dot; (dot = path.find('.', start)) != std::string::npos; start = dot + 1) {
    const std::string key = path.substr(start, dot - start);
    Value* child = nullptr;
    DictionaryValue* child_dictionary = nullptr;
    if (current->GetWithoutPathExpansion(key, &child) && child->GetAsDictionary(&child_dictionary)) {
      current = child_dictionary;
      continue;
    }
    child_dictionary = new DictionaryValue;
    current->SetWithoutPathExpansion(key, child_dictionary);
    current = child_dictionary;
  }
  current->SetWithoutPathExpansion(path.substr(start), std::move(in_value));
}

void DictionaryValue::SetInteger(const std::string& path, int value) {
  Set(path, new ScalarValue(value));
}

void DictionaryValue::SetString(const std::string& path, const std::string& value) {
  Set(path, new StringValue(value));
}

void DictionaryValue::SetString(const std::string& path, const std::wstring& value) {
  Set(path, new StringValue(value));
}

void DictionaryValue::SetWithoutPathExpansion(const std::string& key, Value* in_value) {
  SetWithoutPathExpansion(key, std::unique_ptr<Value>(in_value));
}

void DictionaryValue::SetWithoutPathExpansion(const std::string& key, std::unique_ptr<Value> in_value) {
  CHECK(in_value);
  auto position = std::lower_bound(dictionary_.begin(), dictionary_.end(), key, KeyBefore);
  if (position != dictionary_.end() && position->first == key)
    position->second = std::move(in_value);
  else
    dictionary_.emplace(position, key, std::move(in_value));
}

void DictionaryValue::SetBooleanWithoutPathExpansion(const std::string& key, bool value) {
  SetWithoutPathExpansion(key, new ScalarValue(value));
}

void DictionaryValue::SetIntegerWithoutPathExpansion(const std::string& key, int value) {
  SetWithoutPathExpansion(key, new ScalarValue(value));
}

void DictionaryValue::SetDoubleWithoutPathExpansion(const std::string& key, double value) {
  SetWithoutPathExpansion(key, new ScalarValue(value));
}

void DictionaryValue::SetStringWithoutPathExpansion(const std::string& key, const std::string& value) {
  SetWithoutPathExpansion(key, new StringValue(value));
}

void DictionaryValue::SetStringWithoutPathExpansion(const std::string& key, const std::wstring& value) {
  SetWithoutPathExpansion(key, new StringValue(value));
}

bool DictionaryValue::Get(const std::string& path, const Value** out) const {
  const DictionaryValue* current = this;
  size_t start = 0;
  for (size_t dot; (dot = path.find('.', start)) != std::string::npos; start = dot + 1) {
    const Value* child = nullptr;
    if (!current->GetWithoutPathExpansion(path.substr(start, dot - start), &child) ||
        !child->GetAsDictionary(&current)) {
      return false;
    }
  }
  return current->GetWithoutPathExpansion(path.substr(start), out);
}

bool DictionaryValue::Get(const std::string& path, Value** out) {
  return static_cast<const DictionaryValue*>(this)->Get(path, const_cast<const Value**>(out));
}

const DictionaryValue::Member* DictionaryValue::Find(const std::string& key) const {
  auto position = std::lower_bound(dictionary_.begin(), dictionary_.end(), key, KeyBefore);
  return position != dictionary_.end() && position->first == key ? &*position : nullptr;
}

DictionaryValue::Member* DictionaryValue::Find(const std::string& key) {
  return const_cast<Member*>(static_cast<const DictionaryValue*>(this)->Find(key));
}

bool DictionaryValue::GetWithoutPathExpansion(const std::string& key, const Value** out) const {
  const Member* found = Find(key);
  if (!found)
    return false;
  if (out)
    *out = found->second.get();
  return true;
}

bool DictionaryValue::GetWithoutPathExpansion(const std::string& key, Value** out) {
  return static_cast<const DictionaryValue*>(this)->GetWithoutPathExpansion(key, const_cast<const Value**>(out));
}

bool DictionaryValue::GetBoolean(const std::string& path, bool* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsBoolean(out);
}

bool DictionaryValue::GetInteger(const std::string& path, int* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsInteger(out);
}

bool DictionaryValue::GetString(const std::string& path, std::string* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsString(out);
}

bool DictionaryValue::GetString(const std::string& path, std::wstring* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsString(out);
}

bool DictionaryValue::GetStringASCII(const std::string& path, std::string* out) const {
  std::string text;
  if (!GetString(path, &text))
    return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  if (out)
    out->swap(text);
  return true;
}

bool DictionaryValue::GetList(const std::string& path, const ListValue** out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->IsType(kTypeList) && value->GetAsList(out);
}

bool DictionaryValue::GetList(const std::string& path, ListValue** out) {
  Value* value = nullptr;
  return Get(path, &value) && value->IsType(kTypeList) && value->GetAsList(out);
}

bool DictionaryValue::Remove(const std::string& path, std::unique_ptr<Value>* out_value) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos)
    return RemoveWithoutPathExpansion(path, out_value);
  Value* parent = nullptr;
  DictionaryValue* parent_dictionary = nullptr;
  if (!Get(path.substr(0, dot), &parent) || !parent->GetAsDictionary(&parent_dictionary))
    return false;
  return parent_dictionary->RemoveWithoutPathExpansion(path.substr(dot + 1), out_value);
}

bool DictionaryValue::RemoveWithoutPathExpansion(const std::string& key, std::unique_ptr<Value>* out_value) {
  Member* found = Find(key);
  if (!found)
    return false;
  std::unique_ptr<Value> removed = std::move(found->second);
  dictionary_.erase(dictionary_.begin() + (found - dictionary_.data()));
  if (out_value)
    *out_value = std::move(removed);
  return true;
}

bool DictionaryValue::RemovePath(const std::string& path, std::unique_ptr<Value>* out_value) {
  const size_t dot = path.find('.');
  if (dot == std::string::npos)
    return RemoveWithoutPathExpansion(path, out_value);
  const std::string first = path.substr(0, dot);
  Value* child = nullptr;
  DictionaryValue* child_dictionary = nullptr;
  if (!GetWithoutPathExpansion(first, &child) || !child->GetAsDictionary(&child_dictionary))
    return false;
  const bool removed = child_dictionary->RemovePath(path.substr(dot + 1), out_value);
  if (removed && child_dictionary->empty())
    RemoveWithoutPathExpansion(first, nullptr);
  return removed;
}

void DictionaryValue::Swap(DictionaryValue* other) {
  dictionary_.swap(other->dictionary_);
}

void DictionaryValue::Clear() {
  dictionary_.clear();
}

DictionaryValue::Iterator::Iterator(const DictionaryValue& target)
    : target_(target), it_(target.dictionary_.begin()) {}

// ListValue

ListValue::ListValue() : Value(kTypeList) {}

ListValue::~ListValue() {
  const size_t count = list_.size();
  for (size_t i = 0; i < count; ++i) {
    if (i + 4 < count)
      __builtin_prefetch(list_[i + 4].get());
    list_[i].reset();
  }
}

bool ListValue::GetAsList(ListValue** out) {
  if (out)
    *out = this;
  return true;
}

bool ListValue::GetAsList(const ListValue** out) const {
  if (out)
    *out = this;
  return true;
}

ListValue* ListValue::DeepCopy() const {
  ListValue* result = new ListValue;
  result->list_.reserve(list_.size());
  for (const auto& child : list_)
    result->Append(child->DeepCopy());
  return result;
}

bool ListValue::Equals(const Value* other) const {
  const ListValue* other_list = nullptr;
  if (!other || other->GetType() != GetType() || !other->GetAsList(&other_list))
    return false;
  if (list_.size() != other_list->list_.size())
    return false;
  for (size_t i = 0; i < list_.size(); ++i) {
    if (!list_[i]->Equals(other_list->list_[i].get()))
      return false;
  }
  return true;
}

bool ListValue::Get(size_t index, const Value** out) const {
  if (index >= list_.size())
    return false;
  if (out)
    *out = list_[index].get();
  return true;
}

bool ListValue::Get(size_t index, Value** out) {
  return static_cast<const ListValue*>(this)->Get(index, const_cast<const Value**>(out));
}

void ListValue::Append(Value* in_value) {
  Append(std::unique_ptr<Value>(in_value));
}

void ListValue::Append(std::unique_ptr<Value> in_value) {
  CHECK(in_value);
  list_.push_back(std::move(in_value));
}

void ListValue::AppendBoolean(bool value) {
  Append(new ScalarValue(value));
}

void ListValue::AppendInteger(int value) {
  Append(new ScalarValue(value));
}

void ListValue::AppendDouble(double value) {
  Append(new ScalarValue(value));
}

void ListValue::AppendString(const std::string& value) {
  Append(new StringValue(value));
}

bool ListValue::Set(size_t index, Value* in_value) {
  if (!in_value)
    return false;
  if (index < list_.size()) {
    list_[index].reset(in_value);
    return true;
  }
  while (list_.size() < index)
    list_.push_back(Value::CreateNullValue());
  list_.emplace_back(in_value);
  return true;
}

bool ListValue::Remove(size_t index, std::unique_ptr<Value>* out_value) {
  if (index >= list_.size())
    return false;
  std::unique_ptr<Value> removed = std::move(list_[index]);
  list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(index));
  if (out_value)
    *out_value = std::move(removed);
  return true;
}

void ListValue::Swap(ListValue* other) {
  list_.swap(other->list_);
}

void ListValue::Clear() {
  list_.clear();
}

ValueSerializer::~ValueSerializer() = default;

ValueDeserializer::~ValueDeserializer() = default;

}  // namespace base
