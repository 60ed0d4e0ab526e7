// A map keyed by the address of a text (never by its content) that keeps its first 16 entries inline, in
// insertion order, and moves to a hash map for good when a 17th distinct key arrives. Tracing keeps its
// memory accounts in it: the keys are literals, so the address is the identity.
#ifndef BASE_TRACE_EVENT_SMALL_MAP_H_
#define BASE_TRACE_EVENT_SMALL_MAP_H_

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>

namespace base {
namespace trace_event {

template <typename Value>
class SmallMap {
 public:
  static constexpr int32_t kInlineEntries = 16;
  static constexpr int32_t kUsingHashMap = -1;

  SmallMap() = default;
  SmallMap(const SmallMap&) = delete;
  SmallMap& operator=(const SmallMap&) = delete;

  // Returns the value stored under `key` and whether it was inserted now (false: `key` was present and its
  // value is left unchanged).
  std::pair<Value*, bool> Insert(const char* key, const Value& value) {
    if (size_ == kUsingHashMap) {
      auto result = map_.emplace(key, value);
      return {&result.first->second, result.second};
    }
    if (Value* found = Find(key))
      return {found, false};
    if (size_ < kInlineEntries) {
      Entry& entry = array_[size_++];
      entry.key = key;
      entry.value = value;
      return {&entry.value, true};
    }
    SwitchToHashMap();
    auto result = map_.emplace(key, value);
    return {&result.first->second, true};
  }

  Value* Find(const char* key) {
    return const_cast<Value*>(static_cast<const SmallMap*>(this)->Find(key));
  }
  const Value* Find(const char* key) const {
    if (size_ == kUsingHashMap) {
      auto it = map_.find(key);
      return it == map_.end() ? nullptr : &it->second;
    }
    for (int32_t i = 0; i < size_; ++i) {
      if (array_[i].key == key)
        return &array_[i].value;
    }
    return nullptr;
  }

  // Calls `function(key, value)` for every entry: inline entries in insertion order, else in hash-map order.
  template <typename Function>
  void ForEach(Function function) const {
    if (size_ == kUsingHashMap) {
      for (const auto& entry : map_)
        function(entry.first, entry.second);
      return;
    }
    for (int32_t i = 0; i < size_; ++i)
      function(array_[i].key, array_[i].value);
  }

  size_t size() const { return size_ == kUsingHashMap ? map_.size() : static_cast<size_t>(size_); }
  bool UsingHashMap() const { return size_ == kUsingHashMap; }

  // The bytes of one key and value, as a hash-map entry holds them.
  static constexpr size_t kEntrySize = sizeof(const char*) + sizeof(Value);

 private:
  struct Entry {
    const char* key = nullptr;
    Value value{};
  };

  void SwitchToHashMap() {
    map_.max_load_factor(1.0f);
    map_.rehash(8);
    for (int32_t i = 0; i < size_; ++i)
      map_.emplace(array_[i].key, array_[i].value);
    size_ = kUsingHashMap;
  }

  int32_t size_ = 0;
  Entry array_[kInlineEntries];
  std::unordered_map<const char*, Value> map_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_SMALL_MAP_H_
