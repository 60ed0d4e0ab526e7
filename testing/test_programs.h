// The programs and data files beside a test, and the children that report as "name=value" lines: shared by the
// tests of every area that starts programs of its own.
#ifndef TESTING_TEST_PROGRAMS_H_
#define TESTING_TEST_PROGRAMS_H_

#include <map>
#include <string>

#include "base/files/file_path.h"

namespace zorvi::installer::test {

// A program beside the test executable.
base::FilePath TestProgram(const std::wstring& file_name);

// The file in the area's test data folder (what testdata_setup.sh wrote).
base::FilePath TestDataFile(const std::wstring& relative_path);

// Runs `command_line` and parses its "name=value" report; false, with *error set, when it could not be
// started or did not end with 0.
bool RunReportingChild(const std::wstring& command_line, std::map<std::string, std::string>* report,
                       std::string* error);

}  // namespace zorvi::installer::test

#endif  // TESTING_TEST_PROGRAMS_H_
