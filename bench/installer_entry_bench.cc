// The installer entry's two costs that other processes wait for:
// - the "--version" probe, which installer processes ask of every installer copy they are about to trust or
//   start, from process start to exit with its output read through a pipe, against an empty windowed program
//   started the same way (target: at most 1.2 times its time), and against a windowed program that only splits
//   its command line as every installer process does first (which loads the shell and the windowing system);
// - ChooseDownloadFolder with a 100 MiB installer (the size of a host carrying its package), which copies the
//   installer into the folder and starts the copy, against CopyFileExW of the same file plus the empty program's
//   start.
// Best of several runs each, all in the same run.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <string>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "bench/bench_util.h"
#include "desktop/launcher/installer/roles/download_folder.h"

namespace {

const int kRuns = bench::Sized(20, 1);
// Process starts under wine vary by tens of milliseconds on a shared machine: the short probe is taken more often.
const int kProbeRuns = bench::Sized(60, 2);
const int64_t kLargeHostBytes = bench::Sized(100 << 20, 4 << 20);

base::FilePath OwnFolder() {
  base::FilePath folder;
  base::PathService::Get(base::kExeDir, &folder);
  return folder;
}

// Starts `command_line` with its standard output on a pipe, reads it to the end and waits for the exit.
bool RunAndRead(const std::wstring& command_line) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0))
    return false;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION info = {};
  std::wstring writable = command_line;
  const bool started = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                                      nullptr, &startup, &info);
  CloseHandle(write_end);
  if (started) {
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(read_end, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  CloseHandle(read_end);
  return started;
}

}  // namespace

int main() {
  // The first windowed process of a session starts its desktop process, which inherits that process's handles:
  // started by a probe, it would hold the probe's pipe open for good. The benchmark starts it first.
  GetDesktopWindow();
  const base::FilePath bin = OwnFolder();
  const std::wstring host = L"\"" + bin.Append(L"installer.exe").value() + L"\" --version";
  const base::FilePath references = bin.DirName().Append(L"bench_reference");
  const std::wstring empty = L"\"" + references.Append(L"empty_gui_program.exe").value() + L"\"";
  const std::wstring split = L"\"" + references.Append(L"split_command_line_program.exe").value() + L"\" --version";
  // Taken in turns, so that a change of the machine's load meets all three alike.
  double probe = 1e300, empty_start = 1e300, split_start = 1e300;
  for (int run = 0; run <= kProbeRuns; ++run) {
    for (auto [program, best] : {std::pair{&host, &probe}, {&empty, &empty_start}, {&split, &split_start}}) {
      const double start = bench::NowSeconds();
      if (!RunAndRead(*program))
        return 1;
      if (run > 0)  // the first round warms the file cache
        *best = std::min(*best, bench::NowSeconds() - start);
    }
  }
  bench::Report("\"--version\" probe, start to exit", probe, "s", "empty windowed program", empty_start,
                bench::Better::kLower);
  bench::Report("\"--version\" probe, start to exit", probe, "s", "windowed program splitting its command line",
                split_start, bench::Better::kLower);

  // A host with a package's worth of data appended, in a folder of its own; the temporary folder is moved there.
  const base::FilePath work = bin.Append(L"entry_bench_" + std::to_wstring(GetCurrentProcessId()));
  if (!base::CreateDirectory(work))
    return 1;
  const base::FilePath large_host = work.Append(L"installer.exe");
  std::string bytes;
  base::ReadFileToString(bin.Append(L"installer.exe"), &bytes);
  bytes.resize(std::max<size_t>(bytes.size(), kLargeHostBytes), '\x5a');
  base::WriteFile(large_host, bytes.data(), static_cast<int>(bytes.size()));
  base::PathService::Override(base::kTempDir, work);
  const std::wstring subfolder = L"Bench Installer";
  // The copy started from the folder has no library beside it and says so on the standard error it is given;
  // what the probes of the copies answer is not wanted either.
  HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
  SetStdHandle(STD_ERROR_HANDLE, nul);
  SetStdHandle(STD_OUTPUT_HANDLE, nul);
  const double choose = bench::BestSeconds(kRuns, [&] {
    base::FilePath folder;
    const bool chosen = zorvi::installer::ChooseDownloadFolder(subfolder, large_host, &folder);
    return chosen && RemoveDirectoryW(folder.value().c_str());
  });
  SetStdHandle(STD_ERROR_HANDLE, errors);
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  CloseHandle(nul);
  const base::FilePath copy = work.Append(L"copy.exe");
  const double reference = bench::BestSeconds(kRuns, [&] {
    const bool copied = CopyFileExW(large_host.value().c_str(), copy.value().c_str(), nullptr, nullptr, nullptr, 0);
    return copied && RunAndRead(empty) && DeleteFileW(copy.value().c_str());
  });
  bench::Report("ChooseDownloadFolder with a " + std::to_string(bytes.size() >> 20) + " MiB installer", choose, "s",
                "CopyFileExW of it + empty program start", reference, bench::Better::kLower);
  base::DeleteFile(work, true);
  return probe < 0 || choose < 0;
}
