// Randomly mutated JSON texts: the reader must never crash, every failure must carry an error code and a
// positioned message, and everything it accepts must survive a write and a second read unchanged.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/values.h"

namespace base {
namespace {

const char* const kFixedSeeds[] = {
    "{\"a\": [1, 2.5, -3e2, true, false, null], \"b\": {\"c\": \"text\", \"d\": \"esc\\n\\u00e9\\x41\\v\"}}",
    "[\"caf\xc3\xa9\", \"\xf0\x9f\x98\x80\", \"\\uD83D\\uDE00\", {\"\": []}, [[[[{}]]]], 0, -0, 2147483648]",
    "// comment\n{ /* block */ \"k\" : \"v\" , \"n\" : 12345678901234567890 }\r\n",
    "\xEF\xBB\xBF[1.0e-5, 0.25, \"<tag>\", \"\\\"quoted\\\"\", \"\\/\\\\\"]",
    "{\"deep\": [[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]}",
};

// Bytes that steer a mutation towards the parser's decisions.
const char kInteresting[] = "{}[]\",:\\/*-+.eE0123456789tfnux \t\r\n\x80\xc3\xe2\xef\xf0\xff";

std::string Mutate(std::string text, std::mt19937* random) {
  const int mutations = 1 + static_cast<int>((*random)() % 5);
  for (int m = 0; m < mutations; ++m) {
    const size_t at = text.empty() ? 0 : (*random)() % (text.size() + 1);
    const char byte = (*random)() % 2 ? kInteresting[(*random)() % (sizeof(kInteresting) - 1)]
                                      : static_cast<char>((*random)());
    switch ((*random)() % 6) {
      case 0:
        if (at < text.size())
          text[at] = byte;
        break;
      case 1:
        text.insert(at, 1, byte);
        break;
      case 2:
        if (at < text.size())
          text.erase(at, 1 + (*random)() % 8);
        break;
      case 3:
        text.resize(at);
        break;
      case 4: {
        // Repeat a slice, which deepens nesting and repeats keys.
        const size_t from = (*random)() % (text.size() + 1);
        const size_t length = (*random)() % 24;
        text.insert(at, text.substr(from, length));
        break;
      }
      default:
        text.insert(at, (*random)() % 2 ? "/*" : "//");
        break;
    }
  }
  return text;
}

TEST(JsonMutationTest, HundredThousandMutatedTexts) {
  std::vector<std::string> seeds(std::begin(kFixedSeeds), std::end(kFixedSeeds));
  // Close to the nesting limit, so that a few more brackets cross it.
  seeds.push_back(std::string(97, '[') + "{\"k\":1}" + std::string(97, ']'));
  std::mt19937 random(16);
  int accepted = 0, rejected = 0;
  std::vector<int> codes(9, 0);
  for (int round = 0; round < 100000; ++round) {
    const std::string text = Mutate(seeds[round % seeds.size()], &random);
    int code = -1, line = -1, column = -1;
    std::string message;
    std::unique_ptr<Value> root = JsonReader::ReadAndReturnError(text, &code, &message, &line, &column);
    if (!root) {
      ++rejected;
      ASSERT_GE(code, JsonReader::kInvalidEscape) << text;
      ASSERT_LE(code, JsonReader::kUnquotedDictionaryKey) << text;
      ++codes[code];
      ASSERT_GE(line, 1) << text;
      ASSERT_GE(column, 0) << text;
      ASSERT_EQ(0u, message.find("Line: ")) << text;
      ASSERT_NE(std::string::npos, message.find(JsonReader::ErrorCodeToString(code))) << text;
      continue;
    }
    ++accepted;
    std::string json;
    ASSERT_TRUE(JsonWriter::Write(*root, &json));
    std::unique_ptr<Value> again = JsonReader::Read(json);
    ASSERT_NE(nullptr, again) << text << " was written as " << json;
    ASSERT_TRUE(again->Equals(root.get())) << text << " was written as " << json;
  }
  // The mutations reach both outcomes and every kind of error.
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(rejected, 50000);
  for (int code = JsonReader::kInvalidEscape; code <= JsonReader::kUnquotedDictionaryKey; ++code)
    EXPECT_GT(codes[code], 0) << "error code " << code << " never met";
}

}  // namespace
}  // namespace base
