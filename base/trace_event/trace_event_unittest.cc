#include "base/trace_event/trace_event.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <string>

#include "base/json/json_reader.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/small_map.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"
#include "base/values.h"

namespace base {
namespace trace_event {
namespace {

std::string ValueAsJson(unsigned char type, TraceValue value) {
  std::string out;
  TraceEvent::AppendValueAsJSON(type, value, &out);
  return out;
}

std::string DoubleAsJson(double d) {
  TraceValue value;
  value.as_double = d;
  return ValueAsJson(kTraceValueTypeDouble, value);
}

std::string StringAsJson(const char* s) {
  TraceValue value;
  value.as_string = s;
  return ValueAsJson(kTraceValueTypeString, value);
}

// The JSON grammar of a number.
bool IsJsonNumber(const std::string& text) {
  static const std::regex number(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
  return std::regex_match(text, number);
}

class RecordingConvertable : public ConvertableToTraceFormat {
 public:
  explicit RecordingConvertable(int* destroyed) : destroyed_(destroyed) {}
  ~RecordingConvertable() override { ++*destroyed_; }
  void AppendAsTraceFormat(std::string* out) const override { out->append("{\"x\":1}"); }

 private:
  int* destroyed_;
};

TEST(TraceEventValueTest, ScalarTexts) {
  TraceValue value;
  value.as_uint = 0;
  value.as_bool = true;
  EXPECT_EQ("true", ValueAsJson(kTraceValueTypeBool, value));
  value.as_bool = false;
  EXPECT_EQ("false", ValueAsJson(kTraceValueTypeBool, value));

  // The C library's printf is the oracle for the integer texts.
  for (unsigned long long u : {0ull, 1ull, 18446744073709551615ull, 1234567890123ull}) {
    char expected[32];
    snprintf(expected, sizeof(expected), "%llu", u);
    value.as_uint = u;
    EXPECT_EQ(expected, ValueAsJson(kTraceValueTypeUint, value));
  }
  for (long long i : {0ll, -1ll, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()}) {
    char expected[32];
    snprintf(expected, sizeof(expected), "%lld", i);
    value.as_int = i;
    EXPECT_EQ(expected, ValueAsJson(kTraceValueTypeInt, value));
  }
  int local = 0;
  value.as_pointer = &local;
  char expected_pointer[40];
  snprintf(expected_pointer, sizeof(expected_pointer), "\"0x%llx\"",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&local)));
  EXPECT_EQ(expected_pointer, ValueAsJson(kTraceValueTypePointer, value));
  value.as_pointer = nullptr;
  EXPECT_EQ("\"0x0\"", ValueAsJson(kTraceValueTypePointer, value));

  // Unknown codes and convertible values render nothing here.
  value.as_uint = 5;
  EXPECT_EQ("", ValueAsJson(0, value));
  EXPECT_EQ("", ValueAsJson(kTraceValueTypeConvertable, value));
  EXPECT_EQ("", ValueAsJson(9, value));
}

TEST(TraceEventValueTest, DoublesAreJsonNumbersThatReadBack) {
  const double cases[] = {0.0,     3.0,     0.5,      -0.5,    1.0 / 3.0, -2.75,  1e21,
                          1e-7,    -1e-300, 123456789012345678.0, 5e-324, 1.7976931348623157e308, 100.0};
  for (double d : cases) {
    const std::string text = DoubleAsJson(d);
    EXPECT_TRUE(IsJsonNumber(text)) << d << " gave " << text;
    // strtod is the outside oracle of the digits: the text must name exactly the same double.
    EXPECT_EQ(d, strtod(text.c_str(), nullptr)) << text;
    // A JSON reader must see a double, not an integer.
    EXPECT_TRUE(text.find_first_of(".eE") != std::string::npos) << text;
  }
  EXPECT_EQ("3.0", DoubleAsJson(3.0));
  EXPECT_EQ("0.5", DoubleAsJson(0.5));
  EXPECT_EQ("-0.5", DoubleAsJson(-0.5));
  // An exponent needs no ".0".
  EXPECT_EQ(std::string::npos, DoubleAsJson(1e21).find(".0"));
}

TEST(TraceEventValueTest, NonFiniteDoublesAreQuotedNames) {
  EXPECT_EQ("\"NaN\"", DoubleAsJson(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("\"Infinity\"", DoubleAsJson(std::numeric_limits<double>::infinity()));
  EXPECT_EQ("\"-Infinity\"", DoubleAsJson(-std::numeric_limits<double>::infinity()));
}

TEST(TraceEventValueTest, StringsAreEscapedAndReadBack) {
  const char* cases[] = {"plain", "quote \" and backslash \\", "tab\tnewline\ncontrol\x01", "caf\xC3\xA9 \xE6\x97\xA5",
                         "</script>", ""};
  for (const char* s : cases) {
    const std::string text = StringAsJson(s);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ('"', text.front());
    EXPECT_EQ('"', text.back());
    for (char c : text)
      EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "raw control character in " << text;
    std::unique_ptr<Value> parsed = JsonReader::Read(text);
    ASSERT_TRUE(parsed) << text;
    std::string round_trip;
    ASSERT_TRUE(parsed->GetAsString(&round_trip));
    EXPECT_EQ(s, round_trip);
  }
  EXPECT_EQ("\"NULL\"", StringAsJson(nullptr));
  TraceValue null_copy;
  null_copy.as_string = nullptr;
  EXPECT_EQ("\"NULL\"", ValueAsJson(kTraceValueTypeCopyString, null_copy));
}

TEST(TraceEventTest, DefaultRecord) {
  TraceEvent event;
  EXPECT_EQ(-1, event.duration().ToInternalValue());
  EXPECT_EQ('B', event.phase());
  EXPECT_EQ(nullptr, event.name());
  EXPECT_EQ(nullptr, event.arg_name(0));
  EXPECT_EQ(kTraceValueTypeUint, event.arg_type(1));
  EXPECT_FALSE(event.has_copy_storage());
}

TEST(TraceEventTest, KeepsTwoArgumentsAndIgnoresTheThird) {
  const char* names[] = {"a", "b", "c"};
  const unsigned char types[] = {kTraceValueTypeInt, kTraceValueTypeBool, kTraceValueTypeInt};
  const unsigned long long values[] = {static_cast<unsigned long long>(-7ll), 1, 99};
  TraceEvent event;
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  event.Initialize(42, TimeTicks() + TimeDelta::FromMicroseconds(1000), ThreadTicks(), 'X', category, "Run",
                   nullptr, 5, 6, 3, names, types, values, nullptr, 0);
  EXPECT_EQ(42, event.thread_id());
  EXPECT_EQ(1000, event.timestamp().ToInternalValue());
  EXPECT_EQ(-1, event.duration().ToInternalValue());
  EXPECT_EQ(5u, event.id());
  EXPECT_EQ(6u, event.bind_id());
  EXPECT_STREQ("a", event.arg_name(0));
  EXPECT_EQ(-7, event.arg_value(0).as_int);
  EXPECT_STREQ("b", event.arg_name(1));
  EXPECT_TRUE(event.arg_value(1).as_bool);
  EXPECT_FALSE(event.has_copy_storage());

  std::ostringstream pretty;
  event.AppendPrettyPrinted(&pretty);
  EXPECT_EQ("Run[toplevel], {a:-7, b:true}", pretty.str());
}

TEST(TraceEventTest, CopyFlagCopiesEveryStringIntoOneStorage) {
  char name[] = "name";
  char scope[] = "scope";
  char arg_name[] = "arg";
  char arg_value[] = "value";
  const char* names[] = {arg_name};
  const unsigned char types[] = {kTraceValueTypeString};
  const unsigned long long values[] = {reinterpret_cast<uintptr_t>(arg_value)};
  TraceEvent event;
  event.Initialize(1, TimeTicks(), ThreadTicks(), 'I', TraceLog::GetCategoryGroupEnabled("toplevel"), name, scope,
                   0, 0, 1, names, types, values, nullptr, kTraceEventFlagCopy);
  EXPECT_EQ(kTraceValueTypeCopyString, event.arg_type(0));
  ASSERT_TRUE(event.has_copy_storage());
  // Each copied text with its terminator, back to back.
  const size_t expected_size = sizeof(name) + sizeof(scope) + sizeof(arg_name) + sizeof(arg_value);
  EXPECT_EQ(expected_size, event.copy_storage()->size());
  const char* storage_begin = event.copy_storage()->data();
  const char* storage_end = storage_begin + event.copy_storage()->size();
  for (const char* copied : {event.name(), event.scope(), event.arg_name(0), event.arg_value(0).as_string})
    EXPECT_TRUE(copied >= storage_begin && copied < storage_end);
  // The caller's texts may change afterwards.
  name[0] = scope[0] = arg_name[0] = arg_value[0] = 'X';
  EXPECT_STREQ("name", event.name());
  EXPECT_STREQ("scope", event.scope());
  EXPECT_STREQ("arg", event.arg_name(0));
  EXPECT_STREQ("value", event.arg_value(0).as_string);
}

TEST(TraceEventTest, CopiedStringValuesAreCopiedWithoutTheFlag) {
  char value[] = "abc";
  const char* names[] = {"s", "n"};
  const unsigned char types[] = {kTraceValueTypeCopyString, kTraceValueTypeCopyString};
  const unsigned long long values[] = {reinterpret_cast<uintptr_t>(value), 0};
  TraceEvent event;
  event.Initialize(1, TimeTicks(), ThreadTicks(), 'I', TraceLog::GetCategoryGroupEnabled("toplevel"), "n",
                   nullptr, 0, 0, 2, names, types, values, nullptr, 0);
  ASSERT_TRUE(event.has_copy_storage());
  EXPECT_EQ(sizeof(value), event.copy_storage()->size());  // the null value adds nothing
  value[0] = 'z';
  EXPECT_STREQ("abc", event.arg_value(0).as_string);
  EXPECT_EQ(nullptr, event.arg_value(1).as_string);
  std::ostringstream pretty;
  event.AppendPrettyPrinted(&pretty);
  EXPECT_EQ("n[toplevel], {s:\"abc\", n:\"NULL\"}", pretty.str());
}

TEST(TraceEventTest, StorageIsKeptWhenNothingNeedsCopyingAndDroppedByReset) {
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  TraceEvent event;
  event.Initialize(1, TimeTicks(), ThreadTicks(), 'I', category, "copied", nullptr, 0, 0, 0, nullptr, nullptr,
                   nullptr, nullptr, kTraceEventFlagCopy);
  ASSERT_TRUE(event.has_copy_storage());
  const std::string* storage = event.copy_storage();
  event.Initialize(1, TimeTicks(), ThreadTicks(), 'I', category, "literal", nullptr, 0, 0, 0, nullptr, nullptr,
                   nullptr, nullptr, 0);
  EXPECT_EQ(storage, event.copy_storage());
  event.Reset();
  EXPECT_FALSE(event.has_copy_storage());
  EXPECT_EQ(-1, event.duration().ToInternalValue());
  event.Initialize(1, TimeTicks(), ThreadTicks(), 'I', category, "literal", nullptr, 0, 0, 0, nullptr, nullptr,
                   nullptr, nullptr, 0);
  EXPECT_FALSE(event.has_copy_storage());
}

TEST(TraceEventTest, ConvertableValuesAreOwnedRenderedAndReleased) {
  int destroyed = 0;
  const char* names[] = {"data", "n"};
  const unsigned char types[] = {kTraceValueTypeConvertable, kTraceValueTypeInt};
  const unsigned long long values[] = {0, 3};
  std::unique_ptr<ConvertableToTraceFormat> convertables[] = {std::make_unique<RecordingConvertable>(&destroyed),
                                                              nullptr};
  auto event = std::make_unique<TraceEvent>();
  event->Initialize(1, TimeTicks(), ThreadTicks(), 'I', TraceLog::GetCategoryGroupEnabled("toplevel"), "c", nullptr,
                    0, 0, 2, names, types, values, convertables, 0);
  EXPECT_EQ(nullptr, convertables[0]);  // taken over
  std::ostringstream pretty;
  event->AppendPrettyPrinted(&pretty);
  EXPECT_EQ("c[toplevel], {data:{\"x\":1}, n:3}", pretty.str());

  TraceEventMemoryOverhead overhead;
  event->EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(1u, overhead.GetCount(kUnknownConvertableOverheadName));
  EXPECT_EQ(sizeof(void*), overhead.GetAllocatedBytes(kUnknownConvertableOverheadName));
  EXPECT_EQ(1u, overhead.GetCount(kTraceEventOverheadName));
  EXPECT_EQ(TraceEvent::kEstimatedSize, overhead.GetAllocatedBytes(kTraceEventOverheadName));

  // Moving hands the value over; deleting the moved-from record destroys nothing more.
  TraceEvent target;
  target.MoveFrom(std::move(event));
  EXPECT_EQ(0, destroyed);
  EXPECT_NE(nullptr, target.convertable_value(0));
  target.Reset();
  EXPECT_EQ(1, destroyed);
}

TEST(TraceEventTest, UpdateDuration) {
  TraceEvent event;
  event.Initialize(1, TimeTicks() + TimeDelta::FromMicroseconds(100), ThreadTicks(), 'X',
                   TraceLog::GetCategoryGroupEnabled("toplevel"), "d", nullptr, 0, 0, 0, nullptr, nullptr, nullptr,
                   nullptr, 0);
  event.UpdateDuration(TimeTicks() + TimeDelta::FromMicroseconds(350), ThreadTicks());
  EXPECT_EQ(250, event.duration().InMicroseconds());
  EXPECT_EQ(0, event.thread_duration().InMicroseconds());  // no thread timestamp was taken
}

TEST(SmallMapTest, SwitchesToAHashMapAtTheSeventeenthKey) {
  static const char kKeys[17][4] = {"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8",
                                    "k9", "k10", "k11", "k12", "k13", "k14", "k15", "k16"};
  SmallMap<int> map;
  for (int i = 0; i < 16; ++i)
    EXPECT_TRUE(map.Insert(kKeys[i], i).second);
  EXPECT_FALSE(map.UsingHashMap());
  // Inline entries come back in insertion order.
  int expected = 0;
  map.ForEach([&](const char* key, int value) {
    EXPECT_EQ(kKeys[expected], key);
    EXPECT_EQ(expected++, value);
  });
  EXPECT_FALSE(map.Insert(kKeys[3], 100).second);  // present: unchanged
  EXPECT_EQ(3, *map.Find(kKeys[3]));
  EXPECT_TRUE(map.Insert(kKeys[16], 16).second);
  EXPECT_TRUE(map.UsingHashMap());
  EXPECT_EQ(17u, map.size());
  for (int i = 0; i < 17; ++i)
    EXPECT_EQ(i, *map.Find(kKeys[i]));
}

TEST(SmallMapTest, KeysAreAddressesNotTexts) {
  static const char kFirst[] = "same";
  static const char kSecond[] = "same";
  ASSERT_NE(static_cast<const void*>(kFirst), static_cast<const void*>(kSecond));
  SmallMap<int> map;
  EXPECT_TRUE(map.Insert(kFirst, 1).second);
  EXPECT_TRUE(map.Insert(kSecond, 2).second);
  EXPECT_EQ(2u, map.size());
  EXPECT_EQ(nullptr, map.Find("other"));
}

TEST(TraceEventMemoryOverheadTest, SumsByAddressAndKeepsTotalsAcrossTheSwitch) {
  static const char kNames[17][4] = {"n0", "n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8",
                                     "n9", "n10", "n11", "n12", "n13", "n14", "n15", "n16"};
  TraceEventMemoryOverhead overhead;
  for (int i = 0; i < 16; ++i)
    overhead.Add(kNames[i], 10 + i, 5 + i);
  overhead.Add(kNames[0], 100);
  EXPECT_EQ(2u, overhead.GetCount(kNames[0]));
  EXPECT_EQ(110u, overhead.GetAllocatedBytes(kNames[0]));
  EXPECT_EQ(105u, overhead.GetResidentBytes(kNames[0]));
  overhead.Add(kNames[16], 1);
  EXPECT_EQ(17u, overhead.GetNumberOfNames());
  for (int i = 1; i < 16; ++i) {
    EXPECT_EQ(1u, overhead.GetCount(kNames[i]));
    EXPECT_EQ(static_cast<uint64_t>(10 + i), overhead.GetAllocatedBytes(kNames[i]));
    EXPECT_EQ(static_cast<uint64_t>(5 + i), overhead.GetResidentBytes(kNames[i]));
  }
  EXPECT_EQ(2u, overhead.GetCount(kNames[0]));
  EXPECT_EQ(0u, overhead.GetCount("absent"));

  TraceEventMemoryOverhead total;
  total.Add(kNames[0], 1);
  total.Update(overhead);
  EXPECT_EQ(3u, total.GetCount(kNames[0]));
  EXPECT_EQ(111u, total.GetAllocatedBytes(kNames[0]));
}

TEST(TraceEventMemoryOverheadTest, StringsAndSelf) {
  TraceEventMemoryOverhead overhead;
  std::string empty;
  overhead.AddString(empty);
  // Small strings count for at least 32 bytes of heap beside the object.
  EXPECT_EQ(sizeof(std::string) + 32, overhead.GetAllocatedBytes(kStringOverheadName));
  std::string big(100, 'x');
  big.reserve(100);
  TraceEventMemoryOverhead big_overhead;
  big_overhead.AddString(big);
  EXPECT_EQ(sizeof(std::string) + (big.capacity() + 15) / 16 * 16, big_overhead.GetAllocatedBytes(kStringOverheadName));
  overhead.AddSelf();
  EXPECT_EQ(sizeof(TraceEventMemoryOverhead), overhead.GetAllocatedBytes(kOverheadSelfName));

  // In hash-map mode the table also counts one entry per name.
  static const char kNames[17][4] = {"n0", "n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8",
                                     "n9", "n10", "n11", "n12", "n13", "n14", "n15", "n16"};
  TraceEventMemoryOverhead large;
  for (const char* name : kNames)
    large.Add(name, 1);
  large.AddSelf();
  EXPECT_EQ(sizeof(TraceEventMemoryOverhead) + 17 * (sizeof(const char*) + 3 * sizeof(uint64_t)),
            large.GetAllocatedBytes(kOverheadSelfName));
}

TEST(TraceEventMemoryOverheadTest, DumpIntoWritesOneAllocatorDumpPerName) {
  static const char kTraceLogName[] = "TraceLog";
  TraceEventMemoryOverhead overhead;
  overhead.Add(kTraceLogName, 984);
  ProcessMemoryDump pmd;
  overhead.DumpInto("tracing/main_trace_log", &pmd);
  ASSERT_EQ(1u, pmd.allocator_dumps().size());
  MemoryAllocatorDump* dump = pmd.GetAllocatorDump("tracing/main_trace_log/TraceLog");
  ASSERT_NE(nullptr, dump);
  std::unique_ptr<DictionaryValue> attributes = dump->attributes()->ToBaseValue();
  static const struct {
    const char* path;
    const char* expected;
  } kAttributes[] = {
      {"size.value", "3d8"},
      {"resident_size.value", "3d8"},
      {"object_count.value", "1"},
      {"object_count.units", "objects"},
      {"size.units", "bytes"},
      {"size.type", "scalar"},
  };
  for (const auto& attribute : kAttributes) {
    std::string text;
    ASSERT_TRUE(attributes->GetString(attribute.path, &text)) << attribute.path;
    EXPECT_EQ(attribute.expected, text) << attribute.path;
  }
}

}  // namespace
}  // namespace trace_event
}  // namespace base
