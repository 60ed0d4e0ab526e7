// The value tree: the in-memory form of JSON documents and of structured data handed between subsystems.
// Every node is a heap object owned by exactly one parent container, or by whoever holds the root; containers
// delete the children they drop.
#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/value_arena.h"

namespace base {

namespace internal {
class JsonParser;
}  // namespace internal

class DictionaryValue;
class ListValue;
class StringValue;

// A node of the tree; a node of kind null is a plain Value.
class Value {
 public:
  enum Type : uint32_t {
    kTypeNull = 0,
    kTypeBoolean = 1,
    kTypeInteger = 2,
    kTypeDouble = 3,
    kTypeString = 4,
    kTypeBinary = 5,  // reserved: no node of this kind is ever made
    kTypeDictionary = 6,
    kTypeList = 7,
  };

  static std::unique_ptr<Value> CreateNullValue();

  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  virtual ~Value();

  // Nodes come from the heap, or from the arena of a parse result; either kind is deleted the same way.
  static void* operator new(size_t size) { return internal::ValueArena::Allocate(size, nullptr); }
  static void* operator new(size_t size, internal::ValueArena* arena) {
    return internal::ValueArena::Allocate(size, arena);
  }
  static void operator delete(void* block) { internal::ValueArena::Free(block); }
  static void operator delete(void* block, internal::ValueArena*) { internal::ValueArena::Free(block); }

  Type GetType() const { return type_; }
  bool IsType(Type type) const { return type_ == type; }

  // Each answers whether the node is of the asked kind and, when `out` is not null, writes the node's content
  // there. A false answer leaves `out` untouched.
  virtual bool GetAsBoolean(bool* out) const;
  virtual bool GetAsInteger(int* out) const;
  virtual bool GetAsDouble(double* out) const;  // integers convert
  virtual bool GetAsString(const StringValue** out) const;
  virtual bool GetAsString(std::wstring* out) const;
  virtual bool GetAsString(std::string* out) const;
  virtual bool GetAsBinary(std::vector<char>* out) const;  // always false
  virtual bool GetAsList(ListValue** out);
  virtual bool GetAsList(const ListValue** out) const;
  virtual bool GetAsDictionary(DictionaryValue** out);
  virtual bool GetAsDictionary(const DictionaryValue** out) const;

  // A new, independently owned copy of this node and its whole subtree.
  virtual Value* DeepCopy() const;
  std::unique_ptr<Value> CreateDeepCopy() const;

  // Deep equality: same kind and same content. An integer never equals a double.
  virtual bool Equals(const Value* other) const;

 protected:
  friend class internal::JsonParser;
  explicit Value(Type type);

 private:
  Type type_;
};

// A boolean, integer or double node.
class ScalarValue : public Value {
 public:
  explicit ScalarValue(bool value);
  explicit ScalarValue(int value);
  // A value that is not finite (infinity, NaN) is stored as 0.0.
  explicit ScalarValue(double value);
  ~ScalarValue() override;

  bool GetAsBoolean(bool* out) const override;
  bool GetAsInteger(int* out) const override;
  bool GetAsDouble(double* out) const override;
  ScalarValue* DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  union {
    bool boolean_value_;
    int integer_value_;
    double double_value_;
  };
};

// A text node holding UTF-8.
class StringValue : public Value {
 public:
  explicit StringValue(const std::string& utf8);
  explicit StringValue(std::string&& utf8);
  // Converted to UTF-8 here.
  explicit StringValue(const std::wstring& utf16);
  ~StringValue() override;

  const std::string& GetString() const { return value_; }

  bool GetAsString(const StringValue** out) const override;
  bool GetAsString(std::wstring* out) const override;
  bool GetAsString(std::string* out) const override;
  StringValue* DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  std::string value_;
};

// A map from UTF-8 keys to owned children, ordered by byte-wise comparison of the keys. A path is a key or
// several keys joined by '.', each naming one level; functions named WithoutPathExpansion take the key
// literally.
class DictionaryValue : public Value {
 public:
  // The members sorted by key, each key once: one block per dictionary rather than one per member.
  using Member = std::pair<std::string, std::unique_ptr<Value>>;
  using Storage = std::vector<Member, internal::ValueAllocator<Member>>;

  DictionaryValue();
  ~DictionaryValue() override;

  bool GetAsDictionary(DictionaryValue** out) override;
  bool GetAsDictionary(const DictionaryValue** out) const override;
  DictionaryValue* DeepCopy() const override;
  bool Equals(const Value* other) const override;

  size_t size() const { return dictionary_.size(); }
  bool empty() const { return dictionary_.empty(); }
  bool HasKey(const std::string& key) const { return Find(key) != nullptr; }

  // Stores `in_value` (owned; never null) at the path, making intermediate dictionaries where the path
  // crosses anything else. A node already at the path is deleted.
  void Set(const std::string& path, Value* in_value);
  void Set(const std::string& path, std::unique_ptr<Value> in_value);
  void SetInteger(const std::string& path, int value);
  void SetString(const std::string& path, const std::string& value);
  void SetString(const std::string& path, const std::wstring& value);
  void SetWithoutPathExpansion(const std::string& key, Value* in_value);
  void SetWithoutPathExpansion(const std::string& key, std::unique_ptr<Value> in_value);
  void SetBooleanWithoutPathExpansion(const std::string& key, bool value);
  void SetIntegerWithoutPathExpansion(const std::string& key, int value);
  void SetDoubleWithoutPathExpansion(const std::string& key, double value);
  void SetStringWithoutPathExpansion(const std::string& key, const std::string& value);
  void SetStringWithoutPathExpansion(const std::string& key, const std::wstring& value);

  // Lookups: true when the path leads to a node of the asked kind; `out` (may be null) is written only then.
  bool Get(const std::string& path, const Value** out) const;
  bool Get(const std::string& path, Value** out);
  bool GetWithoutPathExpansion(const std::string& key, const Value** out) const;
  bool GetWithoutPathExpansion(const std::string& key, Value** out);
  bool GetBoolean(const std::string& path, bool* out) const;
  bool GetInteger(const std::string& path, int* out) const;
  bool GetString(const std::string& path, std::string* out) const;
  bool GetString(const std::string& path, std::wstring* out) const;
  // Only text made of bytes below 0x80 is handed out.
  bool GetStringASCII(const std::string& path, std::string* out) const;
  bool GetList(const std::string& path, const ListValue** out) const;
  bool GetList(const std::string& path, ListValue** out);

  // Removals: false when nothing is there. With `out_value` the removed child goes to the caller (whatever the
  // holder held before is deleted); without it the child is deleted.
  virtual bool Remove(const std::string& path, std::unique_ptr<Value>* out_value);
  virtual bool RemoveWithoutPathExpansion(const std::string& key, std::unique_ptr<Value>* out_value);
  // As Remove, and then also removes the dictionaries on the path that the removal left empty.
  virtual bool RemovePath(const std::string& path, std::unique_ptr<Value>* out_value);
  // Exchanges the contents of the two dictionaries in constant time.
  virtual void Swap(DictionaryValue* other);

  void Clear();

  // Walks the members in key order.
  class Iterator {
   public:
    explicit Iterator(const DictionaryValue& target);
    bool IsAtEnd() const { return it_ == target_.dictionary_.end(); }
    void Advance() { ++it_; }
    const std::string& key() const { return it_->first; }
    const Value& value() const { return *it_->second; }

   private:
    const DictionaryValue& target_;
    Storage::const_iterator it_;
  };

 protected:
  friend class internal::JsonParser;
  Storage& storage() { return dictionary_; }

 private:
  // The member with this key, or null.
  const Member* Find(const std::string& key) const;
  Member* Find(const std::string& key);

  Storage dictionary_;
};

// A vector of owned children; the children are never null.
class ListValue : public Value {
 public:
  using Storage = std::vector<std::unique_ptr<Value>, internal::ValueAllocator<std::unique_ptr<Value>>>;

  ListValue();
  ~ListValue() override;

  bool GetAsList(ListValue** out) override;
  bool GetAsList(const ListValue** out) const override;
  ListValue* DeepCopy() const override;
  bool Equals(const Value* other) const override;

  size_t GetSize() const { return list_.size(); }
  bool empty() const { return list_.empty(); }

  // The child at `index`; false when the index is not below the size.
  bool Get(size_t index, const Value** out) const;
  bool Get(size_t index, Value** out);

  void Append(Value* in_value);  // owned; never null
  void Append(std::unique_ptr<Value> in_value);
  void AppendBoolean(bool value);
  void AppendInteger(int value);
  void AppendDouble(double value);  // not finite: stored as 0.0
  void AppendString(const std::string& value);

  // Replaces the child at `index`, or pads the list with null nodes up to `index` and appends. Refuses a null
  // node.
  bool Set(size_t index, Value* in_value);

  // Removes the child at `index`; later children move down by one. Ownership as for DictionaryValue::Remove.
  virtual bool Remove(size_t index, std::unique_ptr<Value>* out_value);
  // Exchanges the contents of the two lists in constant time.
  virtual void Swap(ListValue* other);

  void Clear();

  Storage::const_iterator begin() const { return list_.begin(); }
  Storage::const_iterator end() const { return list_.end(); }

 protected:
  friend class internal::JsonParser;
  Storage& storage() { return list_; }

 private:
  Storage list_;
};

// Turns a value tree into some external form.
class ValueSerializer {
 public:
  virtual ~ValueSerializer();
  virtual bool Serialize(const Value& root) = 0;
};

// Makes a value tree from some external form.
class ValueDeserializer {
 public:
  virtual ~ValueDeserializer();
  // The root, or null with the error code and message in the outputs that are given.
  virtual std::unique_ptr<Value> Deserialize(int* error_code, std::string* error_message) = 0;
};

}  // namespace base

#endif  // BASE_VALUES_H_
