#include "base/trace_event/traced_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "base/json/json_reader.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/values.h"

namespace base {
namespace trace_event {
namespace {

std::string Render(const TracedValue& value) {
  std::string out;
  value.AppendAsTraceFormat(&out);
  return out;
}

// Writers for the markers the product's writers do not produce, laid out as the stream format says.
void WriteMarker(PackedBuffer* buffer, char marker) {
  buffer->WriteBytes(&marker, 1);
}
void WriteKeyCopy(PackedBuffer* buffer, const std::string& key) {
  WriteMarker(buffer, TracedValue::kKeyIsCopy);
  buffer->WriteString(key);
}

TEST(TracedValueTest, EmptyValueRendersAsEmptyDictionary) {
  TracedValue value;
  EXPECT_EQ("{}", Render(value));
  EXPECT_EQ(4u, value.packed_buffer().size());  // the header alone
}

TEST(TracedValueTest, NestedDictionaryWithAString) {
  TracedValue value;
  value.BeginDictionary("outer");
  value.SetString("key", "v\"al\\ue");
  value.EndDictionary();
  value.SetString("top", "x");
  const std::string json = Render(value);
  std::unique_ptr<Value> parsed = JsonReader::Read(json);
  ASSERT_TRUE(parsed) << json;
  const DictionaryValue* root = nullptr;
  ASSERT_TRUE(parsed->GetAsDictionary(&root));
  EXPECT_EQ(2u, root->size());
  std::string text;
  ASSERT_TRUE(root->GetString("outer.key", &text));
  EXPECT_EQ("v\"al\\ue", text);
  ASSERT_TRUE(root->GetString("top", &text));
  EXPECT_EQ("x", text);
}

TEST(TracedValueTest, StreamLayoutIsMarkerSlotsAndAddressKeys) {
  static const char kName[] = "d";
  TracedValue value;
  value.BeginDictionary(kName);
  value.EndDictionary();
  const PackedBuffer& buffer = value.packed_buffer();
  // '{' in one 4-byte slot, '*' in one slot, the 8-byte address, '}' in one slot.
  ASSERT_EQ(4u + 4 + 4 + 8 + 4, buffer.size());
  const char* payload = buffer.payload();
  EXPECT_EQ('{', payload[0]);
  EXPECT_EQ('*', payload[4]);
  uint64_t address = 0;
  memcpy(&address, payload + 8, sizeof(address));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(kName), address);
  EXPECT_EQ('}', payload[16]);
}

TEST(TracedValueTest, LaterMemberOfTheSameKeyWins) {
  TracedValue value;
  value.SetString("k", "first");
  value.SetString("k", "second");
  std::unique_ptr<DictionaryValue> root = value.ToBaseValue();
  std::string text;
  ASSERT_TRUE(root->GetString("k", &text));
  EXPECT_EQ("second", text);
  EXPECT_EQ(1u, root->size());
}

TEST(TracedValueTest, ReaderUnderstandsEveryMarker) {
  // Hand-written stream: {"flag": true, "n": -5, "list": [1.5, "s", {"inner": false}, []], "nan": 0.0}
  PackedBuffer buffer;
  WriteMarker(&buffer, TracedValue::kTypeBool);
  buffer.WriteInt(1);
  WriteKeyCopy(&buffer, "flag");
  WriteMarker(&buffer, TracedValue::kTypeInt);
  buffer.WriteInt(-5);
  WriteKeyCopy(&buffer, "n");
  WriteMarker(&buffer, TracedValue::kStartArray);
  WriteKeyCopy(&buffer, "list");
  double d = 1.5;
  int64_t bits = 0;
  memcpy(&bits, &d, sizeof(bits));
  WriteMarker(&buffer, TracedValue::kTypeDouble);
  buffer.WriteInt64(bits);
  WriteMarker(&buffer, TracedValue::kTypeString);
  buffer.WriteString("s");
  WriteMarker(&buffer, TracedValue::kStartDictionary);
  WriteMarker(&buffer, TracedValue::kTypeBool);
  buffer.WriteInt(0);
  WriteKeyCopy(&buffer, "inner");
  WriteMarker(&buffer, TracedValue::kEndDictionary);
  WriteMarker(&buffer, TracedValue::kStartArray);
  WriteMarker(&buffer, TracedValue::kEndArray);
  WriteMarker(&buffer, TracedValue::kEndArray);
  WriteMarker(&buffer, '?');  // unknown markers are skipped
  const double nan = std::numeric_limits<double>::quiet_NaN();
  memcpy(&bits, &nan, sizeof(bits));
  WriteMarker(&buffer, TracedValue::kTypeDouble);
  buffer.WriteInt64(bits);
  WriteKeyCopy(&buffer, "nan");

  std::unique_ptr<DictionaryValue> root = TracedValue::StreamToBaseValue(buffer);
  std::unique_ptr<Value> expected = JsonReader::Read(
      R"({"flag": true, "n": -5, "list": [1.5, "s", {"inner": false}, []], "nan": 0.0})");
  ASSERT_TRUE(expected);
  EXPECT_TRUE(root->Equals(expected.get()));
}

TEST(TracedValueTest, MissingKeyIsTheEmptyKey) {
  PackedBuffer buffer;
  WriteMarker(&buffer, TracedValue::kTypeInt);
  buffer.WriteInt(3);  // no key follows
  std::unique_ptr<DictionaryValue> root = TracedValue::StreamToBaseValue(buffer);
  const Value* node = nullptr;
  ASSERT_TRUE(root->GetWithoutPathExpansion("", &node));
  int n = 0;
  EXPECT_TRUE(node->GetAsInteger(&n));
  EXPECT_EQ(3, n);
}

TEST(TracedValueTest, UnbalancedEndMarkerIsIgnored) {
  TracedValue value;
  value.EndDictionary();  // never produced by the writers; must not pop past the root
  value.SetString("after", "ok");
  std::unique_ptr<DictionaryValue> root = value.ToBaseValue();
  std::string text;
  EXPECT_TRUE(root->GetString("after", &text));
  EXPECT_EQ("ok", text);
}

TEST(TracedValueTest, MemoryEstimateFollowsTheBuffer) {
  TracedValue value;
  for (int i = 0; i < 40; ++i)
    value.SetString("k", std::string(30, 'x'));
  TraceEventMemoryOverhead overhead;
  value.EstimateTraceMemoryOverhead(&overhead);
  EXPECT_LT(64u, value.packed_buffer().GetTotalAllocatedSize());  // it has grown
  EXPECT_EQ(value.packed_buffer().GetTotalAllocatedSize(), overhead.GetAllocatedBytes(kTracedValueOverheadName));
  EXPECT_EQ(value.packed_buffer().size(), overhead.GetResidentBytes(kTracedValueOverheadName));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
