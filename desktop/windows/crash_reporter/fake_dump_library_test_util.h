// Stands in for the debugging libraries of the dump writers while it lives: records every MiniDumpWriteDump
// call with its user streams (passing it on to the system's function unless a scripted answer is due), plays
// the platform's verifier as a test needs it, and counts the libraries loaded and not freed.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_FAKE_DUMP_LIBRARY_TEST_UTIL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_FAKE_DUMP_LIBRARY_TEST_UTIL_H_

#include <windows.h>
#include <avrfsdk.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "desktop/windows/crash_reporter/dump_library.h"

namespace zorvi {
namespace installer {

class FakeDumpLibraries {
 public:
  // A scripted MiniDumpWriteDump result: success after writing `bytes` bytes, or failure with `error`.
  struct DumpAnswer {
    bool succeeds;
    DWORD error;
    size_t bytes;
  };
  struct DumpCall {
    DWORD process_id;
    MINIDUMP_TYPE type;
    bool has_exception;
    DWORD thread_id;
    uint64_t exception_pointers;
    bool client_pointers;
    std::vector<std::pair<uint32_t, std::string>> streams;  // type and bytes, in order
    bool has_callback;
  };
  enum class Verifier {
    kSystem,   // whatever the machine has
    kMissing,  // the library cannot be loaded
    kRecords,  // enumerates the records given
    kFailing,  // the enumeration reports an error
  };

  FakeDumpLibraries();
  ~FakeDumpLibraries();
  FakeDumpLibraries(const FakeDumpLibraries&) = delete;
  FakeDumpLibraries& operator=(const FakeDumpLibraries&) = delete;

  void set_dump_answers(std::vector<DumpAnswer> answers);
  void set_verifier(Verifier verifier, std::vector<AVRF_HANDLE_OPERATION> records = {});

  std::vector<DumpCall> dump_calls() const;
  int enumerations() const;
  // Loads minus frees.
  int libraries_held() const;

  // A record of the verifier's handle trace.
  static AVRF_HANDLE_OPERATION HandleRecord(uint64_t handle, ULONG operation, ULONG depth);

 private:
  static HMODULE WINAPI Load(const wchar_t* file_name);
  static FARPROC WINAPI Find(HMODULE module, const char* name);
  static BOOL WINAPI Free(HMODULE module);
  static BOOL WINAPI WriteDump(HANDLE process, DWORD process_id, HANDLE file, MINIDUMP_TYPE type,
                               PMINIDUMP_EXCEPTION_INFORMATION exception, PMINIDUMP_USER_STREAM_INFORMATION streams,
                               PMINIDUMP_CALLBACK_INFORMATION callback);
  static ULONG NTAPI Enumerate(HANDLE process, ULONG flags, ULONG resource_type, VerifierRecordCallback callback,
                               void* context);

  const DumpLibraryFunctions functions_;
  mutable std::mutex mutex_;
  std::deque<DumpAnswer> answers_;
  Verifier verifier_ = Verifier::kSystem;
  std::vector<AVRF_HANDLE_OPERATION> records_;
  std::vector<DumpCall> calls_;
  MiniDumpWriteDumpFunction system_write_dump_ = nullptr;
  int enumerations_ = 0;
  int libraries_held_ = 0;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_FAKE_DUMP_LIBRARY_TEST_UTIL_H_
