#include "base/trace_event/traced_value.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/values.h"

namespace base {
namespace trace_event {

namespace {

bool ReadMarker(PackedBufferReader* reader, char* marker) {
  const char* bytes = nullptr;
  if (!reader->ReadBytes(&bytes, 1))
    return false;
  *marker = bytes[0];
  return true;
}

// A key that cannot be read is the empty key.
std::string ReadKeyName(PackedBufferReader* reader) {
  char marker = 0;
  if (!ReadMarker(reader, &marker))
    return std::string();
  if (marker == TracedValue::kKeyIsPointer) {
    int64_t address = 0;
    if (!reader->ReadInt64(&address))
      return std::string();
    const char* name = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
    return name ? std::string(name) : std::string();
  }
  if (marker == TracedValue::kKeyIsCopy) {
    std::string name;
    if (!reader->ReadString(&name))
      return std::string();
    return name;
  }
  return std::string();
}

}  // namespace

TracedValue::TracedValue() = default;
TracedValue::~TracedValue() = default;

void TracedValue::WriteMarker(char marker) {
  pickle_.WriteBytes(&marker, 1);
}

void TracedValue::WriteKeyPointer(const char* name) {
  WriteMarker(kKeyIsPointer);
  pickle_.WriteInt64(static_cast<int64_t>(reinterpret_cast<uintptr_t>(name)));
}

void TracedValue::BeginDictionary(const char* name) {
  WriteMarker(kStartDictionary);
  WriteKeyPointer(name);
}

void TracedValue::EndDictionary() {
  WriteMarker(kEndDictionary);
}

void TracedValue::SetString(const char* name, const std::string& value) {
  WriteMarker(kTypeString);
  pickle_.WriteString(value);
  WriteKeyPointer(name);
}

std::unique_ptr<DictionaryValue> TracedValue::ToBaseValue() const {
  return StreamToBaseValue(pickle_);
}

// static
std::unique_ptr<DictionaryValue> TracedValue::StreamToBaseValue(const PackedBuffer& stream) {
  auto root = std::make_unique<DictionaryValue>();
  DictionaryValue* cur_dict = root.get();
  ListValue* cur_list = nullptr;
  std::vector<Value*> stack;
  PackedBufferReader reader(stream);

  // Stores a finished value in the current container.
  auto store = [&](std::unique_ptr<Value> value) {
    if (cur_dict)
      cur_dict->SetWithoutPathExpansion(ReadKeyName(&reader), std::move(value));
    else
      cur_list->Append(std::move(value));
  };
  // Stores a new container in the current one, which its end marker returns to.
  auto open = [&](std::unique_ptr<Value> container) {
    stack.push_back(cur_dict ? static_cast<Value*>(cur_dict) : cur_list);
    store(std::move(container));
  };

  char marker = 0;
  while (ReadMarker(&reader, &marker)) {
    switch (marker) {
      case kStartDictionary: {
        auto new_dict = std::make_unique<DictionaryValue>();
        DictionaryValue* raw = new_dict.get();
        open(std::move(new_dict));
        cur_dict = raw;
        cur_list = nullptr;
        break;
      }
      case kStartArray: {
        auto new_list = std::make_unique<ListValue>();
        ListValue* raw = new_list.get();
        open(std::move(new_list));
        cur_dict = nullptr;
        cur_list = raw;
        break;
      }
      case kEndDictionary:
      case kEndArray: {
        // An unbalanced end (which no writer produces) leaves the root current rather than popping nothing.
        if (stack.empty())
          break;
        Value* top = stack.back();
        if (top->GetType() == Value::kTypeDictionary) {
          cur_dict = static_cast<DictionaryValue*>(top);
          cur_list = nullptr;
        } else if (top->GetType() == Value::kTypeList) {
          cur_list = static_cast<ListValue*>(top);
          cur_dict = nullptr;
        }
        stack.pop_back();
        break;
      }
      case kTypeBool: {
        bool value = false;
        CHECK(reader.ReadBool(&value));
        store(std::make_unique<ScalarValue>(value));
        break;
      }
      case kTypeInt: {
        int value = 0;
        CHECK(reader.ReadInt(&value));
        store(std::make_unique<ScalarValue>(value));
        break;
      }
      case kTypeDouble: {
        int64_t bits = 0;
        CHECK(reader.ReadInt64(&bits));
        double value = 0;
        memcpy(&value, &bits, sizeof(value));
        store(std::make_unique<ScalarValue>(value));
        break;
      }
      case kTypeString: {
        std::string value;
        CHECK(reader.ReadString(&value));
        store(std::make_unique<StringValue>(value));
        break;
      }
      default:
        break;  // unknown markers are skipped
    }
  }
  return root;
}

void TracedValue::AppendAsTraceFormat(std::string* out) const {
  std::string json;
  JsonWriter::Write(*ToBaseValue(), &json);
  out->append(json);
}

void TracedValue::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kTracedValueOverheadName, pickle_.GetTotalAllocatedSize(), pickle_.size());
}

}  // namespace trace_event
}  // namespace base
