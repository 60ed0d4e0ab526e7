// The crash client inside a process: hooks the three ways a process dies of a programming error (an
// unhandled exception, an invalid argument to a runtime function, a pure virtual call) and turns each into a
// dump request. Out of process (registered with a crash reporter), the reporter captures the crash; in process,
// the handler writes a minidump itself from a thread of its own. Handlers form a process-wide stack: the newest
// handles a crash, and a crash inside a hook reaches the one below it.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_EXCEPTION_HANDLER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_EXCEPTION_HANDLER_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"
#include "desktop/windows/crash_reporter/runtime_hooks.h"

struct _MINIDUMP_CALLBACK_INPUT;
struct _MINIDUMP_CALLBACK_OUTPUT;

namespace zorvi {
namespace installer {

class CrashServerClient;

class CrashExceptionHandler {
 public:
  enum HandlerTypes : int {
    kHandleNothing = 0,
    kHandleExceptions = 1,
    kHandleInvalidParameters = 2,
    kHandlePureCalls = 4,
    kHandleAll = 7,
  };

  // Before a dump: false cancels it. `assertion` is null for exceptions.
  using FilterCallback = bool (*)(void* context, EXCEPTION_POINTERS* exception_pointers,
                                  CrashAssertionRecord* assertion);
  // After a dump (or a failed one): whether the crash counts as handled.
  using DumpDoneCallback = bool (*)(const wchar_t* dump_folder, const wchar_t* dump_id, void* context,
                                    EXCEPTION_POINTERS* exception_pointers, CrashAssertionRecord* assertion,
                                    bool succeeded);

  // Registers with the reporter behind `pipe_name`; when that fails the handler works in process and writes
  // its dumps into `dump_folder`. `dump_type` holds minidump type flags. `custom_info` may be null.
  CrashExceptionHandler(const std::wstring& dump_folder, FilterCallback filter, DumpDoneCallback dump_done,
                        void* callback_context, int handler_types, uint32_t dump_type,
                        const std::wstring& pipe_name, const CrashCustomClientInfo* custom_info);
  ~CrashExceptionHandler();
  CrashExceptionHandler(const CrashExceptionHandler&) = delete;
  CrashExceptionHandler& operator=(const CrashExceptionHandler&) = delete;

  // Reports a crash that some other handler caught (the window procedure's, for one).
  bool WriteDumpNow(EXCEPTION_POINTERS* exception_pointers);

  bool IsOutOfProcess() const { return client_ != nullptr; }

  // Breakpoints and single steps are passed on unless this is set.
  void set_report_debug_exceptions(bool report) { report_debug_exceptions_ = report; }
  // Invalid-handle exceptions are reported unless this is set, which lets execution go on after them.
  void set_consume_invalid_handle_exceptions(bool consume) { consume_invalid_handle_exceptions_ = consume; }

  // The hooks as the system and the runtime call them; each picks its handler from the stack.
  static LONG WINAPI HandleException(EXCEPTION_POINTERS* exception_pointers);
  static void HandleInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                     unsigned int line, uintptr_t reserved);
  static void HandlePureVirtualCall();

  // Test-only: handlers constructed afterwards make their dump ids as if the system had no UuidCreate.
  static void DisableUuidCreateForTesting(bool disable);
  // Test-only: the handlers alive, or -1 when the process-wide lock of the handler stack does not exist (no
  // handler lives and no hook is at work).
  static int LiveHandlerCountForTesting();

 private:
  struct MemoryRange {
    ULONG64 base;
    ULONG size;
  };

  static CrashExceptionHandler* EnterHook(CrashExceptionHandler** bottom);
  static void LeaveHook();
  static DWORD WINAPI HandlerThreadMain(void* parameter);
  static BOOL CALLBACK MinidumpCallback(void* parameter, _MINIDUMP_CALLBACK_INPUT* input,
                                        _MINIDUMP_CALLBACK_OUTPUT* output);

  void StartInProcessMode(const std::wstring& dump_folder);
  void RestorePreviousHooks() const;
  void MakeDumpId();
  // The shared end of the invalid-parameter and pure-call hooks: true when the report counts as handled.
  bool ReportAssertion(DWORD exception_code, CrashAssertionRecord* assertion);
  bool WriteDumpWithException(DWORD thread_id, EXCEPTION_POINTERS* exception_pointers,
                              CrashAssertionRecord* assertion);
  bool WriteDumpOnHandlerThread(EXCEPTION_POINTERS* exception_pointers, CrashAssertionRecord* assertion);
  bool WriteMinidump(DWORD requesting_thread_id, EXCEPTION_POINTERS* exception_pointers,
                     CrashAssertionRecord* assertion, HANDLE process, bool add_info_stream);

  FilterCallback filter_;
  DumpDoneCallback dump_done_;
  void* callback_context_;
  int handler_types_;
  uint32_t dump_type_;
  std::unique_ptr<CrashServerClient> client_;

  std::wstring dump_folder_;
  std::wstring dump_id_;
  std::wstring dump_path_;
  HMODULE dbghelp_ = nullptr;
  void* write_dump_function_ = nullptr;
  HMODULE rpcrt4_ = nullptr;
  void* uuid_create_function_ = nullptr;

  LPTOP_LEVEL_EXCEPTION_FILTER previous_filter_ = nullptr;
  InvalidParameterHandler previous_invalid_parameter_handler_ = nullptr;
  PureCallHandler previous_pure_call_handler_ = nullptr;

  bool report_debug_exceptions_ = false;
  bool consume_invalid_handle_exceptions_ = false;

  // In-process mode: the handler thread and the hand-over to it.
  base::win::ScopedHandle handler_thread_;
  volatile bool handler_thread_stopping_ = false;
  CRITICAL_SECTION handoff_lock_;
  bool handoff_lock_initialized_ = false;
  base::win::ScopedHandle dump_request_semaphore_;
  base::win::ScopedHandle dump_done_semaphore_;
  DWORD requesting_thread_id_ = 0;
  EXCEPTION_POINTERS* requested_exception_pointers_ = nullptr;
  CrashAssertionRecord* requested_assertion_ = nullptr;
  bool handler_thread_result_ = false;

  // Memory added to an in-process dump; the first range is kept for the code round the crashing instruction.
  std::vector<MemoryRange> extra_memory_;
  size_t next_extra_memory_ = 0;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_EXCEPTION_HANDLER_H_
