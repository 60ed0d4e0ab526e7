// The crash reporter's costs that an installer process waits for or leaves behind:
// - its start: from StartCrashReporter's call to the reporter's init event (the installer waits for that before
//   it goes on) and on to the first registration on its pipe, against starting an empty windowed program and
//   waiting for its end;
// - a crash to its files: a crash host (the tests' crash_reporter_test_child.exe, which starts up as an
//   installer process does) writes through null, and its reporter writes the text log and the minidump; from the
//   crash to the host's end, which comes once the reporter's dump is on disk, against the empty program's start.
// This program is its own reporter: started with "crash-reporter-parent-id" it runs the reporter role.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "bench/bench_util.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/windows/crash_reporter/client/crash_client_startup.h"
#include "desktop/windows/crash_reporter/client/crash_exception_handler.h"
#include "desktop/windows/crash_reporter/crash_common.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"
#include "desktop/windows/crash_reporter/reporter/crash_reporter_main.h"

namespace zi = zorvi::installer;

namespace {

constexpr int kStarts = 10;
constexpr int kCrashes = 3;

bool RunToEnd(const std::wstring& command_line, DWORD* exit_code = nullptr) {
  base::LaunchOptions options;
  options.wait = true;
  const base::Process process = base::LaunchProcess(command_line, options);
  if (process.IsValid() && exit_code)
    GetExitCodeProcess(process.Handle(), exit_code);
  return process.IsValid();
}

}  // namespace

int main() {
  base::CommandLine::Init();
  base::AtExitManager at_exit;
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(zi::kCrashReporterParentIdSwitch)) {
    zi::RunCrashReporterProcess();
    return 0;
  }
  base::FilePath bin;
  base::PathService::Get(base::kExeDir, &bin);
  const std::wstring empty =
      L"\"" + bin.DirName().Append(L"bench_reference").Append(L"empty_gui_program.exe").value() + L"\"";

  // Every reporter started here lives until this process ends: the measured ones pile up like a loaded machine's.
  double to_init = 1e300, to_registered = 1e300;
  for (int run = 0; run <= kStarts; ++run) {
    const double start = bench::NowSeconds();
    const uint32_t reporter = zi::StartCrashReporter();
    const double ready = bench::NowSeconds();
    if (!reporter)
      return 1;
    zi::CrashExceptionHandler handler(std::wstring(), nullptr, nullptr, nullptr, zi::CrashExceptionHandler::kHandleNothing,
                                      0, zi::FormatCrashObjectName(zi::kCrashPipeNamePrefix, reporter), nullptr);
    const double registered = bench::NowSeconds();
    if (!handler.IsOutOfProcess())
      return 2;
    if (run > 0) {  // the first round warms the file cache
      to_init = std::min(to_init, ready - start);
      to_registered = std::min(to_registered, registered - start);
    }
  }
  const double empty_start = bench::BestSeconds(kStarts, [&] { return RunToEnd(empty); });
  bench::Report("reporter start, to its init event", to_init, "s", "empty windowed program, start to end",
                empty_start, bench::Better::kLower);
  bench::Report("reporter start, to the first registration", to_registered, "s",
                "empty windowed program, start to end", empty_start, bench::Better::kLower);

  // The crash host writes its files into a folder of its own, with the dump asked for.
  const base::FilePath work = bin.Append(L"reporter_bench_" + std::to_wstring(GetCurrentProcessId()));
  if (!base::CreateDirectory(work))
    return 3;
  SetEnvironmentVariableW(L"ZORVI_CRASH_LOG_DIR", work.value().c_str());
  // A port nothing listens on: the crash check and the uploads fail at once, and no crash leaves the machine.
  SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", L"http://127.0.0.1:1/crash");
  // The host waits for its go event before it crashes: set from the start.
  const base::win::ScopedHandle go(
      CreateEventW(nullptr, TRUE, TRUE, (work.BaseName().value() + L"_go").c_str()));
  const std::wstring host = L"\"" + bin.Append(L"crash_reporter_test_child.exe").value() +
                            L"\" null-write \"" + work.value() +
                            L"\" --with-feature:alternative-crash-logging=on --test-dump-wait=600000";
  // The host's own start and its reporter's are part of each run; the empty program's start is taken off.
  const double crash = bench::BestSeconds(kCrashes, [&] {
    DWORD exit_code = 0;
    const bool ran = RunToEnd(host, &exit_code) && exit_code == EXCEPTION_ACCESS_VIOLATION;
    if (!ran)
      fprintf(stderr, "the crash host ended with %lx\n", exit_code);
    return ran && base::DeleteFile(work.Append(L"*.dmp"), false);
  });
  bench::Report("crash to minidump on disk (with the host's and reporter's start)", crash, "s",
                "empty windowed program, start to end", empty_start, bench::Better::kLower);
  base::DeleteFile(work, true);
  return 0;
}
