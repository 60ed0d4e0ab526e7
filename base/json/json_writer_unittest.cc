#include "base/json/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "base/json/json_reader.h"
#include "base/json/json_string_value_serializer.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/values.h"
#include "testing/test_support.h"

namespace base {
namespace {

std::string Written(const Value& value) {
  std::string json = "old content";
  EXPECT_TRUE(JsonWriter::Write(value, &json));
  return json;
}

TEST(JsonWriterTest, Scalars) {
  EXPECT_EQ("null", Written(*Value::CreateNullValue()));
  EXPECT_EQ("true", Written(ScalarValue(true)));
  EXPECT_EQ("false", Written(ScalarValue(false)));
  EXPECT_EQ("-2147483648", Written(ScalarValue(std::numeric_limits<int>::min())));
  EXPECT_EQ("2147483647", Written(ScalarValue(std::numeric_limits<int>::max())));
  // Doubles always read back as doubles, and never start with a bare point.
  EXPECT_EQ("1.0", Written(ScalarValue(1.0)));
  EXPECT_EQ("0.5", Written(ScalarValue(0.5)));
  EXPECT_EQ("-0.5", Written(ScalarValue(-0.5)));
  EXPECT_EQ("0.1", Written(ScalarValue(0.1)));
  EXPECT_EQ("0.0", Written(ScalarValue(0.0)));
  EXPECT_EQ("-0.0", Written(ScalarValue(-0.0)));
  EXPECT_EQ("100000.0", Written(ScalarValue(1e5)));
  EXPECT_EQ("1e+21", Written(ScalarValue(1e21)));
  EXPECT_EQ("1e-05", Written(ScalarValue(1e-5)));
  EXPECT_EQ("0.0001", Written(ScalarValue(0.0001)));
  EXPECT_EQ("-0.0001", Written(ScalarValue(-0.0001)));
  EXPECT_EQ("5e-324", Written(ScalarValue(5e-324)));
  EXPECT_EQ("123.25", Written(ScalarValue(123.25)));
  EXPECT_EQ("0.0", Written(ScalarValue(std::nan(""))));  // stored as 0.0
}

TEST(JsonWriterTest, StringsAreEscaped) {
  EXPECT_EQ("\"\\u2028 \\u001F \\u003C/ \\\" \\\\\"", Written(StringValue("\xe2\x80\xa8 \x1f </ \" \\")));
  EXPECT_EQ("\"caf\xc3\xa9\"", Written(StringValue(std::wstring(L"caf\u00e9"))));
}

TEST(JsonWriterTest, ContainersAreCompactAndOrdered) {
  DictionaryValue root;
  root.SetInteger("b", 1);
  root.SetInteger("B", 2);
  root.SetString("a.x", "y");
  root.Set("list", new ListValue);
  root.Set("empty", new DictionaryValue);
  auto* list = new ListValue;
  list->AppendInteger(1);
  list->Append(Value::CreateNullValue());
  list->AppendString("s");
  list->AppendDouble(2.0);
  root.Set("l", list);
  root.SetWithoutPathExpansion("k\"ey", new ScalarValue(true));
  EXPECT_EQ("{\"B\":2,\"a\":{\"x\":\"y\"},\"b\":1,\"empty\":{},\"k\\\"ey\":true,\"l\":[1,null,\"s\",2.0],\"list\":[]}",
            Written(root));
}

TEST(JsonWriterTest, SerializerNeedsATarget) {
  DictionaryValue root;
  root.SetInteger("x", 1);
  JsonStringValueSerializer without_target(nullptr);
  EXPECT_FALSE(without_target.Serialize(root));
  std::string json = "replaced";
  JsonStringValueSerializer serializer(&json);
  EXPECT_TRUE(serializer.Serialize(root));
  EXPECT_EQ("{\"x\":1}", json);

  JsonStringValueDeserializer deserializer(json);
  int code = -1;
  std::string message;
  std::unique_ptr<Value> read = deserializer.Deserialize(&code, &message);
  ASSERT_NE(nullptr, read);
  EXPECT_TRUE(read->Equals(&root));
  JsonStringValueDeserializer broken("{\n\"x\" 1}");
  EXPECT_EQ(nullptr, broken.Deserialize(&code, &message));
  EXPECT_EQ(JsonReader::kSyntaxError, code);
  EXPECT_EQ("Line: 2, column: 6, Syntax error.", message);
}

// Random doubles of every magnitude: testdata_check.sh checks with Python that each text reads back to the
// same bits and has the same digits as Python's shortest repr.
TEST(JsonWriterTest, DoublesForPython) {
  std::mt19937_64 random(77);
  std::string lines;
  const double specials[] = {0.1, 0.3, 2.0 / 3, 1e21, 1e22, 1e-7, 123456789.125, 9007199254740993.0,
                             std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(), -1.5};
  auto add = [&](double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof(bits));
    char hex[20];
    snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(bits));
    lines += std::string(hex) + "\t" + Written(ScalarValue(value)) + "\n";
  };
  for (double value : specials)
    add(value);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = random();
    double value;
    memcpy(&value, &bits, sizeof(value));
    if (!std::isfinite(value))
      continue;
    add(value);
    // Also short decimals, where a wrong digit choice shows most.
    add(static_cast<double>(static_cast<int64_t>(random() % 2000001) - 1000000) / 1000.0);
  }
  ASSERT_TRUE(test_support::WriteFileBytes(test_support::TestDataDir() + L"\\out\\doubles.txt", lines));
}

// Random text over the characters that need care: testdata_check.sh reads each escaped form back with
// Python's json and compares it with the original.
TEST(JsonWriterTest, StringsForPython) {
  std::mt19937 random(2028);
  const uint32_t interesting[] = {0, 1, 8, 9, 10, 12, 13, 0x1F, ' ', '"', '\\', '/', '<', '>', 0x7F, 0x80,
                                  0xE9, 0x7FF, 0x800, 0x2028, 0x2029, 0xFEFF, 0xFFFD, 0xFFFE, 0x10000,
                                  0x1F600, 0x10FFFF};
  std::string lines;
  for (int i = 0; i < 5000; ++i) {
    std::string raw;
    const int length = static_cast<int>(random() % 12);
    for (int j = 0; j < length; ++j) {
      uint32_t code_point = random() % 3 ? interesting[random() % (sizeof(interesting) / sizeof(interesting[0]))]
                                         : random() % 0x110000;
      if (code_point >= 0xD800 && code_point <= 0xDFFF)
        code_point = 'x';
      WriteUnicodeCharacter(code_point, &raw);
    }
    std::string hex;
    for (unsigned char c : raw) {
      char pair[3];
      snprintf(pair, sizeof(pair), "%02x", c);
      hex += pair;
    }
    lines += hex + "\t" + Written(StringValue(raw)) + "\n";
  }
  ASSERT_TRUE(test_support::WriteFileBytes(test_support::TestDataDir() + L"\\out\\strings.txt", lines));
}

}  // namespace
}  // namespace base
