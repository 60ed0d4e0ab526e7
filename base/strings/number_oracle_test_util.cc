#include "base/strings/number_oracle_test_util.h"

#include <charconv>

#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace base {
namespace test {

namespace {

std::string Unescape(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      result += text[i];
      continue;
    }
    switch (text[++i]) {
      case 't': result += '\t'; break;
      case 'n': result += '\n'; break;
      case 'v': result += '\v'; break;
      case 'f': result += '\f'; break;
      case 'r': result += '\r'; break;
      default: result += text[i]; break;
    }
  }
  return result;
}

template <typename T>
T ParseField(const std::string& field, int base) {
  T value = 0;
  const std::from_chars_result parsed = std::from_chars(field.data(), field.data() + field.size(), value, base);
  EXPECT_TRUE(parsed.ec == std::errc() && parsed.ptr == field.data() + field.size()) << "bad field " << field;
  return value;
}

}  // namespace

bool ReadNumberOracleFile(const std::string& name, std::string* contents) {
  const std::wstring dir = test_support::TestDataDir();
  if (dir.empty())
    return false;
  return test_support::ReadFileBytes(dir + L"\\numbers\\" + std::wstring(name.begin(), name.end()), contents);
}

bool WriteNumberOracleFile(const std::string& name, const std::string& contents) {
  const std::wstring dir = test_support::TestDataDir();
  if (dir.empty())
    return false;
  return test_support::WriteFileBytes(dir + L"\\numbers\\" + std::wstring(name.begin(), name.end()), contents);
}

bool ReadNumberOracleRecords(const std::string& name, std::vector<std::vector<std::string>>* records) {
  std::string contents;
  if (!ReadNumberOracleFile(name, &contents))
    return false;
  records->clear();
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos)
      end = contents.size();
    std::vector<std::string> fields;
    size_t field_start = start;
    while (true) {
      const size_t tab = contents.find('\t', field_start);
      if (tab == std::string::npos || tab > end) {
        fields.push_back(contents.substr(field_start, end - field_start));
        break;
      }
      fields.push_back(contents.substr(field_start, tab - field_start));
      field_start = tab + 1;
    }
    fields[0] = Unescape(fields[0]);
    records->push_back(std::move(fields));
    start = end + 1;
  }
  return true;
}

int64_t OracleInt64(const std::string& field) {
  return ParseField<int64_t>(field, 10);
}

uint64_t OracleUint64(const std::string& field) {
  return ParseField<uint64_t>(field, 10);
}

uint64_t OracleHexBits(const std::string& field) {
  return ParseField<uint64_t>(field, 16);
}

}  // namespace test
}  // namespace base
