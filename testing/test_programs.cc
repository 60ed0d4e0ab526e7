#include "testing/test_programs.h"

#include <windows.h>

#include "base/strings/utf_string_conversions.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer::test {

base::FilePath TestProgram(const std::wstring& file_name) {
  return base::FilePath(test_support::ExecutableDir()).Append(file_name);
}

base::FilePath TestDataFile(const std::wstring& relative_path) {
  return base::FilePath(test_support::TestDataDir()).Append(relative_path);
}

bool RunReportingChild(const std::wstring& command_line, std::map<std::string, std::string>* report,
                       std::string* error) {
  DWORD exit_code = 0;
  std::string output;
  if (!test_support::RunProcess(command_line, &exit_code, &output)) {
    *error = "cannot start " + base::WideToUTF8(command_line);
    return false;
  }
  if (exit_code != 0) {
    *error = base::WideToUTF8(command_line) + " ended with " + std::to_string(exit_code) + ": " + output;
    return false;
  }
  *report = test_support::ParseNameValueLines(output);
  return true;
}

}  // namespace zorvi::installer::test
