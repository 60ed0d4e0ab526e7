#include "desktop/launcher/installer/package_fetcher/package_test_util.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "base/strings/utf_string_conversions.h"
#include "testing/test_support.h"

namespace zorvi::installer::package_test {

base::FilePath DataPath(const std::wstring& relative) {
  return base::FilePath(test_support::TestDataDir()).Append(relative);
}

std::vector<std::vector<std::string>> SplitTable(const std::string& text, char separator) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, separator);)
      fields.push_back(field);
    if (!line.empty() && line.back() == separator)
      fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

std::vector<std::vector<std::string>> ReadTable(const std::wstring& relative, char separator) {
  std::string text;
  EXPECT_TRUE(test_support::ReadFileBytes(DataPath(relative).value(), &text))
      << "missing test data " << base::WideToUTF8(relative) << ": did testdata_setup.sh run?";
  return SplitTable(text, separator);
}

base::FilePath FreshOutputFolder(const std::wstring& relative) {
  const base::FilePath folder = DataPath(L"out").Append(relative);
  EXPECT_TRUE(test_support::RemoveTree(folder.value())) << base::WideToUTF8(folder.value());
  // The folders on the way, the folder itself last.
  for (size_t slash = folder.value().find(L'\\', 3); ; slash = folder.value().find(L'\\', slash + 1)) {
    CreateDirectoryW(folder.value().substr(0, slash).c_str(), nullptr);
    if (slash == std::wstring::npos)
      break;
  }
  EXPECT_TRUE(Exists(folder)) << "cannot make " << base::WideToUTF8(folder.value());
  return folder;
}

std::vector<std::wstring> ListFolder(const base::FilePath& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder.value() + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..")
      names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

std::string ReadBytes(const base::FilePath& path) {
  std::string bytes;
  return test_support::ReadFileBytes(path.value(), &bytes) ? bytes : "<missing>";
}

bool Exists(const base::FilePath& path) {
  return GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace zorvi::installer::package_test
