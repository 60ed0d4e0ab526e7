#include "desktop/launcher/installer/installer_host_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer::test {

std::wstring EnvironmentWith(const std::vector<std::pair<std::wstring, std::wstring>>& variables) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
    const std::wstring text(entry);
    const bool replaced = std::any_of(variables.begin(), variables.end(), [&](const auto& variable) {
      return base::StartsWith(text, variable.first + L"=", base::CompareCase::INSENSITIVE_ASCII);
    });
    if (!replaced)
      block += text + L'\0';
  }
  FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : variables)
    block += name + L"=" + value + L'\0';
  return block + L'\0';
}

bool RunProgram(const std::wstring& command_line, const base::FilePath& folder, const base::FilePath& temp_folder,
                ProgramRun* run) {
  // Wine starts its desktop process when a program of the prefix makes its first window (COM's apartment window
  // and a console count) and that process keeps the standard handles of the program that made it; made now, it
  // has this process's handles instead of the pipe below.
  GetDesktopWindow();
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0))
    return false;
  test_support::ScopedTestHandle reader(read_end), writer(write_end);
  SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  // A file of each run's own, shared with anyone: helper processes that wine starts on demand inherit the standard
  // handles of the process that needed them and may keep them open past its end.
  static int run_number = 0;
  const std::wstring errors_path = folder.Append(L"stderr_" + std::to_wstring(++run_number) + L".txt").value();
  test_support::ScopedTestHandle errors(CreateFileW(errors_path.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                    &inheritable, CREATE_ALWAYS, 0, nullptr));
  test_support::ScopedTestHandle input(
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr));
  test_support::ScopedTestHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!errors.valid() || !input.valid() || !job.valid()) {
    ADD_FAILURE() << "cannot set up the run: error " << GetLastError();
    return false;
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = writer.get();
  startup.hStdError = errors.get();
  std::wstring environment = EnvironmentWith({{L"TEMP", temp_folder.value()}, {L"TMP", temp_folder.value()}});
  std::wstring writable_command_line = command_line;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, writable_command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                      folder.value().c_str(), &startup, &info)) {
    ADD_FAILURE() << "CreateProcess: " << GetLastError();
    return false;
  }
  test_support::ScopedTestHandle process(info.hProcess), thread(info.hThread);
  const bool in_job = AssignProcessToJobObject(job.get(), process.get());
  ResumeThread(thread.get());
  writer.reset();  // the read ends once every process holding the write end has ended
  errors.reset();
  EXPECT_TRUE(in_job) << "the program could not join its job";

  run->output.clear();
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    run->output.append(buffer, read);
  WaitForSingleObject(process.get(), INFINITE);
  GetExitCodeProcess(process.get(), &run->exit_code);
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                            nullptr);
  run->processes = accounting.TotalProcesses;
  test_support::ReadFileBytes(errors_path, &run->errors);
  return true;
}

const std::map<std::string, std::string>& HostExpectations() {
  static const std::map<std::string, std::string>* const expectations = [] {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(TestDataFile(L"branding\\installer.expected"), &text));
    return new std::map<std::string, std::string>(test_support::ParseNameValueLines(text));
  }();
  return *expectations;
}

StagedHost::StagedHost(const base::FilePath& folder, const std::wstring& host_name, const base::FilePath& temp_folder)
    : folder_(folder),
      executable_(folder.Append(host_name)),
      temp_folder_(temp_folder.empty() ? folder.Append(L"temp") : temp_folder) {
  EXPECT_TRUE(base::CreateDirectory(temp_folder_));
  EXPECT_TRUE(base::CopyFile(TestProgram(L"installer.exe"), executable_));
  EXPECT_TRUE(base::CopyFile(TestProgram(L"zorvi.dll"), folder.Append(L"zorvi.dll")));
}

bool StagedHost::Run(const std::wstring& arguments, ProgramRun* run) const {
  return RunProgram(L"\"" + executable_.value() + L"\" " + arguments, folder_, temp_folder(), run);
}

base::FilePath StagedHost::installer_folder() const {
  return temp_folder_.Append(base::UTF8ToWide(HostExpectations().at("GetProductName") + " Installer"));
}

std::vector<base::FilePath> StagedHost::LogFiles() const {
  std::vector<base::FilePath> files;
  base::FileEnumerator enumerator(installer_folder(), false, base::FileEnumerator::FILES, L"*.log");
  for (base::FilePath file = enumerator.Next(); !file.empty(); file = enumerator.Next())
    files.push_back(file);
  std::sort(files.begin(), files.end(),
            [](const base::FilePath& a, const base::FilePath& b) { return a.value() < b.value(); });
  return files;
}

std::vector<std::string> StagedHost::LogLines() const {
  const std::vector<base::FilePath> files = LogFiles();
  std::string text;
  if (files.size() != 1 || !base::ReadFileToString(files[0], &text)) {
    ADD_FAILURE() << files.size() << " log files in " << installer_folder().value();
    return std::vector<std::string>();
  }
  return base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
}

std::vector<std::string> StagedHost::LogMessages() const {
  std::vector<std::string> messages;
  for (const std::string& line : LogLines()) {
    const size_t end_of_prefix = line.find("] ");
    messages.push_back(end_of_prefix == std::string::npos ? line : line.substr(end_of_prefix + 2));
  }
  return messages;
}

}  // namespace zorvi::installer::test
