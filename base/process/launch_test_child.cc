// A child program for the process tests. The first argument picks what it does:
//   exit CODE                  ends with CODE
//   cat FILE CODE              copies FILE to standard output, then ends with CODE
//   signal HANDLE...           SetEvent on each inherited handle value (decimal); ends with the number set
//   block READY_EVENT          signals the named event, then waits forever
//   spawn-block FILE READY     starts "block READY" as its own child, writes that child's id to FILE, waits
//                              forever
//   startup FILE               writes what it was started with to FILE as "name=value" lines
//   crash                      writes through a null pointer
//   nested-job                 starts "exit 0" into a new job of its own; ends with 0 when that worked, else 2
//   breakaway                  starts "exit 0" outside its own job; ends with 0 when that worked, else 2
//   write-pid FILE EVENT       writes its process id to FILE, then signals the named event
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/process/launch.h"

namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH * 4];
  DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
  return std::wstring(path, length);
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + offset, static_cast<DWORD>(bytes.size() - offset), &written, nullptr))
      return false;
    offset += written;
  }
  return true;
}

bool WriteTextFile(const wchar_t* path, const std::string& text) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  const bool written = WriteAll(file, text);
  CloseHandle(file);
  return written;
}

void SignalNamedEvent(const wchar_t* name) {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
  if (event) {
    SetEvent(event);
    CloseHandle(event);
  }
}

[[noreturn]] void BlockForever() {
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(never, INFINITE);
  ExitProcess(99);
}

std::string Narrow(const std::wstring& wide) {
  std::string narrow;
  for (wchar_t c : wide)
    narrow += c < 128 ? static_cast<char>(c) : '?';
  return narrow;
}

int Cat(const wchar_t* path, int code) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 100;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    if (!WriteAll(out, std::string(buffer, read)))
      return 101;
  }
  CloseHandle(file);
  return code;
}

int Startup(const wchar_t* path) {
  STARTUPINFOW info = {};
  info.cb = sizeof(info);
  GetStartupInfoW(&info);
  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  wchar_t variable[256] = {};
  const DWORD variable_length = GetEnvironmentVariableW(L"ZORVI_LAUNCH_TEST", variable, ARRAYSIZE(variable));
  std::string text;
  text += "flags=" + std::to_string(info.dwFlags) + "\n";
  text += "show=" + std::to_string(info.wShowWindow) + "\n";
  text += "desktop=" + (info.lpDesktop ? Narrow(info.lpDesktop) : std::string("(null)")) + "\n";
  text += "directory=" + Narrow(directory) + "\n";
  text += "variable=" + (variable_length ? Narrow(variable) : std::string("(none)")) + "\n";
  text += "stdout=" + std::to_string(reinterpret_cast<uintptr_t>(info.hStdOutput)) + "\n";
  return WriteTextFile(path, text) ? 0 : 100;
}

int NestedJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  base::LaunchOptions options;
  options.job_handle = job;
  options.wait = true;
  base::Process process = base::LaunchProcess(L"\"" + OwnPath() + L"\" exit 0", options);
  return process.IsValid() ? 0 : 2;
}

int Breakaway() {
  base::LaunchOptions options;
  options.force_breakaway_from_job = true;
  options.wait = true;
  base::Process process = base::LaunchProcess(L"\"" + OwnPath() + L"\" exit 0", options);
  return process.IsValid() ? 0 : 2;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2)
    return 200;
  const std::wstring mode = argv[1];
  if (mode == L"exit" && argc == 3)
    ExitProcess(static_cast<UINT>(std::wcstoul(argv[2], nullptr, 0)));
  if (mode == L"cat" && argc == 4)
    return Cat(argv[2], static_cast<int>(std::wcstoul(argv[3], nullptr, 0)));
  if (mode == L"signal") {
    int set = 0;
    for (int i = 2; i < argc; ++i) {
      HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(argv[i], nullptr, 10)));
      if (SetEvent(handle))
        ++set;
    }
    return set;
  }
  if (mode == L"block" && argc == 3) {
    SignalNamedEvent(argv[2]);
    BlockForever();
  }
  if (mode == L"spawn-block" && argc == 4) {
    std::wstring command = L"\"" + OwnPath() + L"\" block " + argv[3];
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      return 101;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (!WriteTextFile(argv[2], std::to_string(info.dwProcessId)))
      return 100;
    BlockForever();
  }
  if (mode == L"startup" && argc == 3)
    return Startup(argv[2]);
  if (mode == L"crash") {
    volatile uintptr_t zero = 0;
    *reinterpret_cast<volatile int*>(zero) = 1;
    return 102;
  }
  if (mode == L"nested-job")
    return NestedJob();
  if (mode == L"breakaway")
    return Breakaway();
  if (mode == L"write-pid" && argc == 4) {
    if (!WriteTextFile(argv[2], std::to_string(GetCurrentProcessId())))
      return 100;
    SignalNamedEvent(argv[3]);
    return 0;
  }
  return 201;
}
