// Helpers for the tests that start launch_test_child.exe.
#ifndef BASE_PROCESS_PROCESS_TEST_UTIL_H_
#define BASE_PROCESS_PROCESS_TEST_UTIL_H_

#include <windows.h>

#include <string>

#include "base/process/process.h"
#include "testing/test_support.h"

namespace base {
namespace test {

// The quoted path of the child program, ready to take arguments after a blank.
std::wstring ChildCommand();

// A named manual-reset event unique to the running test, for a child to signal.
class NamedTestEvent {
 public:
  explicit NamedTestEvent(const std::wstring& prefix);

  const std::wstring& name() const { return name_; }
  // Waits until the event is set or `process` ends; true when the event came first.
  bool WaitWhileRunning(const Process& process) const;

 private:
  std::wstring name_;
  test_support::ScopedTestHandle event_;
};

// A unique path in the temporary folder; the file is deleted when the object goes.
class TempFilePath {
 public:
  explicit TempFilePath(const std::wstring& prefix);
  TempFilePath(const TempFilePath&) = delete;
  TempFilePath& operator=(const TempFilePath&) = delete;
  ~TempFilePath();

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// The exit code of a process that has ended (waits for it).
DWORD WaitForExitCode(const Process& process);

}  // namespace test
}  // namespace base

#endif  // BASE_PROCESS_PROCESS_TEST_UTIL_H_
