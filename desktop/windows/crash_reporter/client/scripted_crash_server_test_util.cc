#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

#include <sstream>

#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {
namespace {

constexpr DWORD kBrokenTestWaitMs = 60000;

std::wstring Quoted(const std::wstring& text) {
  return L"\"" + text + L"\"";
}

DWORD RunClientProgram(const std::wstring& program, const std::wstring& mode, const ScriptedCrashServer* server,
                       const std::wstring& folder, const std::wstring& arguments, std::string* output) {
  const std::wstring command =
      Quoted(program) + L" " + mode + L" " + Quoted(server ? server->pipe_name() : L"-") + L" " + Quoted(folder) +
      L" " + (server ? server->event_base() : test_support::UniqueName(L"CrashClient")) +
      (arguments.empty() ? L"" : L" " + arguments);
  DWORD exit_code = 0;
  if (!test_support::RunProcess(command, &exit_code, output))
    return static_cast<DWORD>(-1);
  return exit_code;
}

}  // namespace

std::wstring FreshRecordFolder(const std::wstring& name) {
  std::wstring root = test_support::TestDataDir();
  if (root.empty())
    root = test_support::ExecutableDir();
  // Every ancestor first: the test data folder itself may not exist yet.
  for (size_t slash = root.find(L'\\', 3); slash != std::wstring::npos; slash = root.find(L'\\', slash + 1))
    CreateDirectoryW(root.substr(0, slash).c_str(), nullptr);
  CreateDirectoryW(root.c_str(), nullptr);
  const std::wstring folder = root + L"\\" + name;
  CreateDirectoryW(folder.c_str(), nullptr);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  return folder;
}

std::string ReadRecord(const std::wstring& folder, const std::wstring& name) {
  std::string contents;
  test_support::ReadFileBytes(folder + L"\\" + name, &contents);
  return contents;
}

std::map<std::string, std::string> ReadRecordFields(const std::wstring& folder, const std::wstring& name) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(ReadRecord(folder, name));
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
      fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

bool StartTestChild(const std::wstring& command_line, const std::wstring& ready, test_support::ScopedTestHandle* process) {
  test_support::ScopedTestHandle ready_event(CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
  std::wstring command = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  process->reset(info.hProcess);
  const HANDLE waits[] = {ready_event.get(), process->get()};
  return WaitForMultipleObjects(2, waits, FALSE, kBrokenTestWaitMs) == WAIT_OBJECT_0;
}

ScriptedCrashServer::ScriptedCrashServer(const std::wstring& mode, const std::wstring& record_folder)
    : pipe_name_(std::wstring(kCrashPipeNamePrefix) + test_support::UniqueName(L"Test")),
      event_base_(test_support::UniqueName(L"ScriptedCrashServer")) {
  registered_.reset(CreateEventW(nullptr, TRUE, FALSE, (event_base_ + L"_registered").c_str()));
  started_ = StartTestChild(Quoted(test_support::ExecutableDir() + L"\\crash_server_test_child.exe") + L" " + mode +
                                L" " + Quoted(pipe_name_) + L" " + Quoted(record_folder) + L" " + event_base_,
                            event_base_ + L"_ready", &process_);
}

ScriptedCrashServer::~ScriptedCrashServer() {
  Kill();
}

bool ScriptedCrashServer::WaitForRegistration() {
  const HANDLE waits[] = {registered_.get(), process_.get()};
  return WaitForMultipleObjects(2, waits, FALSE, kBrokenTestWaitMs) == WAIT_OBJECT_0;
}

bool ScriptedCrashServer::WaitForExit(DWORD* exit_code) {
  return WaitForSingleObject(process_.get(), kBrokenTestWaitMs) == WAIT_OBJECT_0 &&
         GetExitCodeProcess(process_.get(), exit_code);
}

void ScriptedCrashServer::Kill() {
  if (process_.valid() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), kBrokenTestWaitMs);
  }
}

DWORD RunCrashClient(const std::wstring& mode, const ScriptedCrashServer* server, const std::wstring& folder,
                     const std::wstring& arguments, std::string* output) {
  return RunClientProgram(test_support::ExecutableDir() + L"\\crash_client_test_child.exe", mode, server, folder,
                          arguments, output);
}

DWORD RunCrashClientCopy(const std::wstring& program, const std::wstring& mode, const ScriptedCrashServer* server,
                         const std::wstring& folder) {
  return RunClientProgram(program, mode, server, folder, std::wstring(), nullptr);
}

}  // namespace installer
}  // namespace zorvi
