// Runs the product's host and library end to end: both copied into a folder of a test's own and started the way
// another installer process (or the user's shell) starts them, with a temporary folder of their own so that
// parallel runs never share a log or download folder.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_HOST_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_HOST_TEST_UTIL_H_

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"

namespace zorvi::installer::test {

// What one run of a program reported.
struct ProgramRun {
  DWORD exit_code = 0;
  std::string output;   // standard output, read through a pipe
  std::string errors;   // standard error
  DWORD processes = 0;  // processes that ran in the run's job, the program included
};

// This process's environment block with the variables set to the values given (added or replaced), for
// CreateProcess with CREATE_UNICODE_ENVIRONMENT.
std::wstring EnvironmentWith(const std::vector<std::pair<std::wstring, std::wstring>>& variables);

// Runs `command_line` without a console (as the shell starts a windowed program; wine would otherwise attach it
// to the test's), with standard input on NUL, in a job of its own, with TEMP and TMP set to `temp_folder` and
// `folder` as its current folder; waits for it and for every process that kept its output open. Standard error
// goes through a file "stderr_<n>.txt" in `folder`. False when it could not be started.
bool RunProgram(const std::wstring& command_line, const base::FilePath& folder, const base::FilePath& temp_folder,
                ProgramRun* run);

// What the build's host makes each branding and build getter answer, as Python computed it from the host's
// resource (testdata_setup.sh): "GetProductName", "GetFullVersionString", "GetLauncherExeName", ...
const std::map<std::string, std::string>& HostExpectations();

// installer.exe and zorvi.dll of the build, copied as `host_name` and zorvi.dll into `folder`.
class StagedHost {
 public:
  // Runs get `temp_folder` (created) as their temporary folder; by default `folder`\temp.
  explicit StagedHost(const base::FilePath& folder, const std::wstring& host_name = L"installer.exe",
                      const base::FilePath& temp_folder = base::FilePath());

  // The host with `arguments`.
  bool Run(const std::wstring& arguments, ProgramRun* run) const;

  const base::FilePath& folder() const { return folder_; }
  const base::FilePath& executable() const { return executable_; }
  const base::FilePath& temp_folder() const { return temp_folder_; }
  // "<temp>\<product> Installer": the folder of the log file and, by default, of the downloads.
  base::FilePath installer_folder() const;

  // The log files of the runs so far, by name.
  std::vector<base::FilePath> LogFiles() const;
  // The lines of the only log file; a test failure when there is not exactly one.
  std::vector<std::string> LogLines() const;
  // The same lines without their "[...] " prefix.
  std::vector<std::string> LogMessages() const;

 private:
  base::FilePath folder_;
  base::FilePath executable_;
  base::FilePath temp_folder_;
};

}  // namespace zorvi::installer::test

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_HOST_TEST_UTIL_H_
