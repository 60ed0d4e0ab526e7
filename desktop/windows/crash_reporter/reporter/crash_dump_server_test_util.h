// A dump server in the test process whose callbacks record what they were told, with waits on what a test
// expects next, and the runner of the dump server's client children.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_DUMP_SERVER_TEST_UTIL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_DUMP_SERVER_TEST_UTIL_H_

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/reporter/crash_dump_server.h"
#include "testing/test_support.h"

namespace zorvi {
namespace installer {

// Generous: only a hang waits this long.
inline constexpr DWORD kHangWaitMs = 120000;

// An address whose reading fails: nothing is ever mapped in the lowest 64 KiB of a process. (Memory that is
// merely reserved or inaccessible does not do: wine reads it all the same.)
inline const void* const kUnmappedAddress = reinterpret_cast<const void*>(0x1000);

class RecordingCrashServer {
 public:
  // Runs on the capture's pool worker for each dump request, before the client is released; captures of
  // different clients run at the same time.
  using DumpHandler = std::function<void(const CrashClientRecord& client, const std::wstring* dump_path)>;

  RecordingCrashServer(bool generate_dumps = false, const std::wstring& dump_folder = std::wstring());
  ~RecordingCrashServer();

  bool Start();
  // Destroys the server, as the reporter does when it ends.
  void Destroy();

  const std::wstring& pipe_name() const { return pipe_name_; }
  void set_dump_handler(DumpHandler handler) { dump_handler_ = std::move(handler); }

  // The process id of the next client whose registration completed; false after kHangWaitMs.
  bool WaitForConnect(DWORD* process_id);
  // Until `count` clients have exited in all.
  bool WaitForExits(size_t count);

  std::vector<DWORD> connected() const;
  std::vector<DWORD> uploads() const;
  size_t dump_requests() const;

 private:
  static void OnConnect(void* context, const CrashClientRecord* client);
  static void OnDump(void* context, const CrashClientRecord* client, const std::wstring* dump_path);
  static void OnExit(void* context, const CrashClientRecord* client);
  static void OnUpload(void* context, DWORD process_id);

  const std::wstring pipe_name_;
  std::unique_ptr<CrashDumpServer> server_;
  DumpHandler dump_handler_;
  mutable std::mutex mutex_;
  std::vector<DWORD> connected_;
  size_t connects_taken_ = 0;
  std::vector<DWORD> uploads_;
  size_t dump_requests_ = 0;
  size_t exits_ = 0;
  size_t exits_awaited_ = 0;
  test_support::ScopedTestHandle connect_semaphore_;
  test_support::ScopedTestHandle exits_reached_;
};

// Runs crash_pipe_client_test_child.exe in `mode` against `pipe_name` and gives its exit code (-1 when it could
// not start); its output goes to *output when that is not null.
DWORD RunPipeClient(const std::wstring& mode, const std::wstring& pipe_name,
                    const std::wstring& argument = std::wstring(), std::string* output = nullptr);

// Runs crash_client_test_child.exe in `mode` against `pipe_name`, writing into `folder`, as RunPipeClient. The
// child waits for its dump as long as only a hang takes: dumps under wine can take longer than a client's own
// limit. `arguments` follow that wait.
DWORD RunCrashingClient(const std::wstring& mode, const std::wstring& pipe_name, const std::wstring& folder,
                        const std::wstring& arguments = std::wstring());

// A process's up-time in milliseconds, as the server computes a client's (the pipe client child prints its own).
inline uint64_t MillisecondsSinceCreation(HANDLE process) {
  FILETIME creation, exit, kernel, user, now;
  GetProcessTimes(process, &creation, &exit, &kernel, &user);
  GetSystemTimeAsFileTime(&now);
  const auto value = [](const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return (value(now) - value(creation)) / 10000;
}

inline long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

inline uint64_t AddressOf(const void* object) {
  return reinterpret_cast<uintptr_t>(object);
}

// A crash made up in this process, as a crashed client keeps it: the context captured here, a record of `code`
// at its instruction, and the pointers to both.
struct CapturedException {
  explicit CapturedException(DWORD code) {
    RtlCaptureContext(&context);
    record.ExceptionCode = code;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  }
  CapturedException(const CapturedException&) = delete;
  CapturedException& operator=(const CapturedException&) = delete;

  CONTEXT context = {};
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_DUMP_SERVER_TEST_UTIL_H_
