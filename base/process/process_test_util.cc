#include "base/process/process_test_util.h"

#include "testing/test_support.h"

namespace base {
namespace test {

std::wstring ChildCommand() {
  return L"\"" + test_support::ExecutableDir() + L"\\launch_test_child.exe\"";
}

NamedTestEvent::NamedTestEvent(const std::wstring& prefix)
    : name_(test_support::UniqueName(prefix)), event_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}

bool NamedTestEvent::WaitWhileRunning(const Process& process) const {
  HANDLE handles[] = {event_.get(), process.Handle()};
  return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0;
}

TempFilePath::TempFilePath(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + test_support::UniqueName(prefix) + L".tmp";
}

TempFilePath::~TempFilePath() {
  DeleteFileW(path_.c_str());
}

DWORD WaitForExitCode(const Process& process) {
  WaitForSingleObject(process.Handle(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Handle(), &code))
    return static_cast<DWORD>(-1);
  return code;
}

}  // namespace test
}  // namespace base
