// The crash client's tests talk to a scripted reporter in another process (crash_server_test_child.exe),
// which records what it received in a folder of the test data, so that both the tests and the Linux-side
// checks can read it.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_SCRIPTED_CRASH_SERVER_TEST_UTIL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_SCRIPTED_CRASH_SERVER_TEST_UTIL_H_

#include <windows.h>

#include <map>
#include <string>

#include "testing/test_support.h"

namespace zorvi {
namespace installer {

// A folder of the test data named `name` (made when missing, emptied when it exists).
std::wstring FreshRecordFolder(const std::wstring& name);

// The whole file `name` of `folder`; empty when it does not exist.
std::string ReadRecord(const std::wstring& folder, const std::wstring& name);

// A record of "key=value" lines.
std::map<std::string, std::string> ReadRecordFields(const std::wstring& folder, const std::wstring& name);

// Starts a child and waits until it sets the named event `ready` (or ends); false when it could not start or
// ended first. The child's process handle goes to *process.
bool StartTestChild(const std::wstring& command_line, const std::wstring& ready, test_support::ScopedTestHandle* process);

class ScriptedCrashServer {
 public:
  // Starts the server in `mode` on a pipe of a unique name, recording into `record_folder`; started() tells
  // whether its pipe exists.
  ScriptedCrashServer(const std::wstring& mode, const std::wstring& record_folder);
  ~ScriptedCrashServer();  // ends the server when it still runs

  bool started() const { return started_; }
  const std::wstring& pipe_name() const { return pipe_name_; }
  const std::wstring& event_base() const { return event_base_; }
  HANDLE process() const { return process_.get(); }

  // Waits until the server has recorded a registration (at most a minute: only a broken test waits).
  bool WaitForRegistration();
  // Waits for the server to end and gives its exit code.
  bool WaitForExit(DWORD* exit_code);
  // Ends the server the hard way, as a crashing reporter ends.
  void Kill();

 private:
  std::wstring pipe_name_;
  std::wstring event_base_;
  test_support::ScopedTestHandle process_;
  test_support::ScopedTestHandle registered_;
  bool started_ = false;
};

// Runs crash_client_test_child.exe in `mode` against `server` (or against no reporter) and gives its exit code;
// its output goes to *output when that is not null.
DWORD RunCrashClient(const std::wstring& mode, const ScriptedCrashServer* server, const std::wstring& folder,
                     const std::wstring& arguments = std::wstring(), std::string* output = nullptr);

// The same, running `program`: a copy of crash_client_test_child.exe elsewhere.
DWORD RunCrashClientCopy(const std::wstring& program, const std::wstring& mode, const ScriptedCrashServer* server,
                         const std::wstring& folder);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_SCRIPTED_CRASH_SERVER_TEST_UTIL_H_
