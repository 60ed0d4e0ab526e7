// The public JSON conformance corpus, parsed in full. testdata_setup.sh records for every case what a model
// says: Python's strict json module plus exactly the reader's documented leniencies and strictnesses (see
// lenient_json_model.py). Every case must agree with the model, value for value. The writer's output of every
// accepted case goes to a file that testdata_check.sh reads back with Python's json.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/values.h"
#include "testing/test_support.h"

namespace base {
namespace {

struct Expectation {
  std::string name;
  bool accept = false;
  bool strict_accepts = false;
  std::string detail;  // the leniencies used, or why the case is rejected
  std::unique_ptr<Value> value;
};

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Reads one value of the model's line format (N, T, F, "I n", "D bits", "S hex", "A count", "O count" with
// "K hex" before each member).
std::unique_ptr<Value> ReadModelValue(const std::vector<std::string>& lines, size_t* index) {
  const std::string& line = lines.at((*index)++);
  const std::string rest = line.size() > 2 ? line.substr(2) : std::string();
  switch (line[0]) {
    case 'N':
      return Value::CreateNullValue();
    case 'T':
      return std::make_unique<ScalarValue>(true);
    case 'F':
      return std::make_unique<ScalarValue>(false);
    case 'I':
      return std::make_unique<ScalarValue>(std::stoi(rest));
    case 'D': {
      const uint64_t bits = std::stoull(rest, nullptr, 16);
      double value;
      memcpy(&value, &bits, sizeof(value));
      return std::make_unique<ScalarValue>(value);
    }
    case 'S':
      return std::make_unique<StringValue>(FromHex(rest));
    case 'A': {
      auto list = std::make_unique<ListValue>();
      for (int i = std::stoi(rest); i > 0; --i)
        list->Append(ReadModelValue(lines, index));
      return list;
    }
    case 'O': {
      auto dictionary = std::make_unique<DictionaryValue>();
      for (int i = std::stoi(rest); i > 0; --i) {
        const std::string key = FromHex(lines.at((*index)++).substr(2));
        dictionary->SetWithoutPathExpansion(key, ReadModelValue(lines, index));
      }
      return dictionary;
    }
    default:
      ADD_FAILURE() << "bad model line: " << line;
      return nullptr;
  }
}

std::vector<Expectation> ReadExpectations() {
  std::string text;
  EXPECT_TRUE(test_support::ReadFileBytes(test_support::TestDataDir() + L"\\expectations.txt", &text));
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  std::vector<Expectation> expectations;
  for (size_t i = 0; i < lines.size();) {
    std::vector<std::string> fields;
    std::istringstream record(lines[i++]);
    for (std::string field; std::getline(record, field, '\t');)
      fields.push_back(field);
    if (fields.size() != 5 || fields[0] != "case") {
      ADD_FAILURE() << "bad case line " << i;
      break;
    }
    Expectation expectation;
    expectation.name = fields[1];
    expectation.accept = fields[2] == "accept";
    expectation.strict_accepts = fields[3] == "strict-accepts";
    expectation.detail = fields[4];
    if (expectation.accept)
      expectation.value = ReadModelValue(lines, &i);
    EXPECT_EQ("end", lines.at(i++));
    expectations.push_back(std::move(expectation));
  }
  return expectations;
}

TEST(JsonTestSuite, EveryCaseAgreesWithTheLenientModel) {
  const std::wstring dir = test_support::TestDataDir();
  ASSERT_FALSE(dir.empty());
  std::string missing;
  if (test_support::ReadFileBytes(dir + L"\\corpus-missing.txt", &missing))
    GTEST_SKIP() << missing;
  const std::vector<Expectation> expectations = ReadExpectations();
  ASSERT_GE(expectations.size(), 318u);

  std::string writer_output;
  std::map<std::string, int> tally;
  for (const Expectation& expectation : expectations) {
    std::string input;
    ASSERT_TRUE(test_support::ReadFileBytes(dir + L"\\suite\\" + std::wstring(expectation.name.begin(),
                                                                                  expectation.name.end()),
                                            &input))
        << expectation.name;
    int code = 0;
    std::string message;
    std::unique_ptr<Value> root = JsonReader::ReadAndReturnError(input, &code, &message);
    const char kind = expectation.name[0];
    if (expectation.accept) {
      ASSERT_NE(nullptr, root) << expectation.name << ": " << message << " (model used: " << expectation.detail
                               << ")";
      EXPECT_TRUE(root->Equals(expectation.value.get())) << expectation.name;
      std::string json;
      EXPECT_TRUE(JsonWriter::Write(*root, &json));
      // What the writer makes of a value reads back as that value.
      std::unique_ptr<Value> again = JsonReader::Read(json);
      EXPECT_TRUE(again && again->Equals(root.get())) << expectation.name << ": " << json;
      writer_output += expectation.name + "\t" + json + "\n";
      // A case that a strict parser rejects is accepted only through a documented leniency.
      if (!expectation.strict_accepts) {
        EXPECT_NE("-", expectation.detail) << expectation.name;
      }
      tally[std::string(1, kind) + (expectation.strict_accepts ? " accepted" : " accepted by a leniency")]++;
    } else {
      EXPECT_EQ(nullptr, root) << expectation.name << " should fail: " << expectation.detail;
      // Every failure carries an error code and a positioned message.
      EXPECT_GE(code, JsonReader::kInvalidEscape) << expectation.name;
      EXPECT_LE(code, JsonReader::kUnquotedDictionaryKey) << expectation.name;
      EXPECT_EQ(0u, message.find("Line: ")) << expectation.name << ": " << message;
      // Every case that a strict parser must accept is accepted.
      EXPECT_NE('y', kind) << expectation.name;
      tally[std::string(1, kind) + (expectation.strict_accepts ? " rejected by a strictness" : " rejected")]++;
    }
  }
  for (const auto& entry : tally)
    std::cout << entry.first << ": " << entry.second << "\n";
  ASSERT_TRUE(test_support::WriteFileBytes(dir + L"\\out\\writer.txt", writer_output));
}

}  // namespace
}  // namespace base
