#include "base/hash_test_util.h"

#include <sstream>

#include "testing/test_support.h"

namespace base {

std::vector<HashOracleEntry> ReadHashOracle(const std::wstring& list_name) {
  std::vector<HashOracleEntry> entries;
  const std::wstring folder = test_support::TestDataDir() + L"\\hash\\";
  std::string list;
  if (test_support::TestDataDir().empty() || !test_support::ReadFileBytes(folder + list_name, &list))
    return entries;
  std::istringstream lines(list);
  HashOracleEntry entry;
  while (lines >> entry.expected_hex >> entry.file_name) {
    const std::wstring path = folder + std::wstring(entry.file_name.begin(), entry.file_name.end());
    if (!test_support::ReadFileBytes(path, &entry.contents))
      return {};
    entries.push_back(entry);
  }
  return entries;
}

std::string ToHex(const void* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<const unsigned char*>(bytes)[i];
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

}  // namespace base
