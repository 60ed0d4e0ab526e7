// The client side of the crash pipe: registers the process with its crash reporter at start-up, and at crash
// time asks the reporter to capture the crash through the kernel objects the reporter handed over. The
// reporter reads the crash facts straight out of this object's memory, at the addresses registered here.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_SERVER_CLIENT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_SERVER_CLIENT_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {

class CrashServerClient {
 public:
  // Nothing is opened until Register. `custom_info` may be null (no table).
  CrashServerClient(const std::wstring& pipe_name, uint32_t dump_type, const CrashCustomClientInfo* custom_info);
  // Uses an already opened pipe once, instead of opening the pipe by name; takes ownership of it.
  CrashServerClient(HANDLE pipe, uint32_t dump_type, const CrashCustomClientInfo* custom_info);
  ~CrashServerClient();
  CrashServerClient(const CrashServerClient&) = delete;
  CrashServerClient& operator=(const CrashServerClient&) = delete;

  // True when registered (at once when already so). Keeps nothing when any step fails; the pipe is closed
  // again either way.
  bool Register();

  // Runs on the crashing thread: publishes the crash facts and waits until the reporter has captured them.
  // True only when the reporter said it is done; false at once without registration or when the reporter
  // died, false after the wait's limit when it is too slow. A null `assertion` sends a zeroed record.
  bool RequestDump(EXCEPTION_POINTERS* exception_pointers, const CrashAssertionRecord* assertion);

  DWORD server_process_id() const { return server_process_id_; }

  // Test-only: shorten the wait for a busy pipe (2,000 ms) and for the reporter's answer (15,000 ms).
  static void SetPipeWaitForTesting(DWORD milliseconds);
  static void SetDumpWaitForTesting(DWORD milliseconds);

 private:
  HANDLE OpenPipe();

  std::wstring pipe_name_;
  base::win::ScopedHandle given_pipe_;
  uint32_t dump_type_;
  CrashCustomClientInfo custom_info_;

  base::win::ScopedHandle dump_request_event_;
  base::win::ScopedHandle dump_done_event_;
  base::win::ScopedHandle server_alive_mutex_;
  DWORD server_process_id_ = 0;

  // The crash facts, at addresses the reporter learns at registration: keep this object where it is.
  DWORD crashing_thread_id_ = 0;
  EXCEPTION_POINTERS* exception_pointers_ = nullptr;
  CrashAssertionRecord assertion_ = {};
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_SERVER_CLIENT_H_
