// Started by the logging tests: sets up logging from its switches, writes one message of each kind with its
// own line number in the body, and reports on standard output whether InitLogging succeeded.
//   --log-file=PATH   the log file (else the default)     --delete-old   start a fresh log file
//   --dest=N          destination flags (default 1)       --cwd=DIR      current folder before InitLogging
//   --init-times=N    call InitLogging N times            --fatal        end with LOG(FATAL)
//   --repeat=N        first N more INFO lines, "repeat <pid> <i>"
// "v" and "vmodule" are read by InitLogging itself.
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();

  const std::wstring cwd = command_line.GetSwitchValueNative("cwd");
  if (!cwd.empty() && !SetCurrentDirectoryW(cwd.c_str()))
    return 10;

  const std::wstring log_file = command_line.GetSwitchValueNative("log-file");
  logging::LoggingSettings settings;
  if (!log_file.empty())
    settings.log_file = log_file.c_str();
  if (command_line.HasSwitch("delete-old"))
    settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  int destination = 1;
  if (command_line.HasSwitch("dest") && !base::StringToInt(command_line.GetSwitchValueASCII("dest"), &destination))
    return 11;
  settings.logging_dest = static_cast<uint32_t>(destination);
  int init_times = 1;
  if (command_line.HasSwitch("init-times") &&
      !base::StringToInt(command_line.GetSwitchValueASCII("init-times"), &init_times)) {
    return 12;
  }

  bool initialized = true;
  for (int i = 0; i < init_times; ++i)
    initialized = logging::InitLogging(settings);
  const std::string report = initialized ? "init=1\n" : "init=0\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), report.data(), static_cast<DWORD>(report.size()), &written, nullptr);

  int repeat = 0;
  if (command_line.HasSwitch("repeat") && !base::StringToInt(command_line.GetSwitchValueASCII("repeat"), &repeat))
    return 14;
  for (int i = 0; i < repeat; ++i)
    LOG(INFO) << "repeat " << GetCurrentProcessId() << " " << i;
  LOG(INFO) << "info line=" << __LINE__;
  VLOG(1) << "v1 line=" << __LINE__;
  VLOG(2) << "v2 line=" << __LINE__;
  VLOG(3) << "v3 line=" << __LINE__;
  LOG(INFO) << "other=" << logging::GetVlogLevel("c:\\elsewhere\\other.cc");
  SetLastError(ERROR_ACCESS_DENIED);
  PLOG(WARNING) << "plog line=" << __LINE__;
  if (GetLastError() != ERROR_ACCESS_DENIED)
    return 13;
  LOG(ERROR) << "error line=" << __LINE__;
  if (command_line.HasSwitch("fatal"))
    LOG(FATAL) << "fatal line=" << __LINE__;
  return 0;
}
