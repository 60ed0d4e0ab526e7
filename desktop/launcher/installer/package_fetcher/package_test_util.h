// Helpers of the package tests: the test data that testdata_setup.sh made (files and their tables of
// outside-oracle facts) and output folders that testdata_check.sh reads afterwards.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_TEST_UTIL_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace zorvi::installer::package_test {

// A path below the test data folder; `relative` uses backslashes.
base::FilePath DataPath(const std::wstring& relative);

// The lines of `text` (CR LF or LF), each split at `separator`.
std::vector<std::vector<std::string>> SplitTable(const std::string& text, char separator);

// The rows of a table in the test data folder, each line split at `separator`. A missing table fails the test.
std::vector<std::vector<std::string>> ReadTable(const std::wstring& relative, char separator);

// The folder "out\<relative>" of the test data, emptied (or made) for this run.
base::FilePath FreshOutputFolder(const std::wstring& relative);

// The names directly inside `folder`.
std::vector<std::wstring> ListFolder(const base::FilePath& folder);

// The file's bytes, or "<missing>".
std::string ReadBytes(const base::FilePath& path);
bool Exists(const base::FilePath& path);

}  // namespace zorvi::installer::package_test

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_TEST_UTIL_H_
