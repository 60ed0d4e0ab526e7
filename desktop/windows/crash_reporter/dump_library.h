// The debugging libraries the dump writers need (dbghelp.dll, rpcrt4.dll, verifier.dll) are loaded only when a
// dump is written, through one replaceable table of the three loader calls: tests stand in for a library the
// machine lacks, or for a dump function that fails, without changing how the writers load and free them.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_LIBRARY_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_LIBRARY_H_

// Order matters: dbghelp.h needs windows.h first.
#include <windows.h>
#include <dbghelp.h>

#include "base/synchronization/lock.h"

namespace zorvi {
namespace installer {

// The functions the dump writers look up in those libraries.
using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE process, DWORD process_id, HANDLE file, MINIDUMP_TYPE type,
                                                PMINIDUMP_EXCEPTION_INFORMATION exception,
                                                PMINIDUMP_USER_STREAM_INFORMATION user_streams,
                                                PMINIDUMP_CALLBACK_INFORMATION callback);
using UuidCreateFunction = LONG(WINAPI*)(GUID* uuid);
// Enumerates what the platform's application verifier recorded about a process, one record per callback.
using VerifierRecordCallback = ULONG(NTAPI*)(void* record, void* context, ULONG* enumeration_level);
using VerifierEnumerateResourceFunction = ULONG(NTAPI*)(HANDLE process, ULONG flags, ULONG resource_type,
                                                        VerifierRecordCallback callback, void* context);

struct DumpLibraryFunctions {
  HMODULE(WINAPI* load_library)(const wchar_t* file_name);
  FARPROC(WINAPI* get_proc_address)(HMODULE module, const char* name);
  BOOL(WINAPI* free_library)(HMODULE module);
};

// The table in use: the system's loader unless a test replaced it.
const DumpLibraryFunctions& GetDumpLibraryFunctions();

// Test-only: `functions` is used from now on (null: the system's again); it must outlive its use.
void SetDumpLibraryFunctionsForTesting(const DumpLibraryFunctions* functions);

// dbghelp's functions are single-threaded, and the dump server captures different clients at the same time:
// every call of MiniDumpWriteDump in the reporter is made under this lock.
base::Lock& GetDumpWritingLock();

// One loaded library, freed when it goes.
class DumpLibrary {
 public:
  explicit DumpLibrary(const wchar_t* file_name);
  ~DumpLibrary();
  DumpLibrary(const DumpLibrary&) = delete;
  DumpLibrary& operator=(const DumpLibrary&) = delete;

  // The exported function as `Function`; null when nothing is loaded or it is not exported.
  template <typename Function>
  Function Find(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(FindAddress(name)));
  }

 private:
  FARPROC FindAddress(const char* name) const;

  const HMODULE module_;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_LIBRARY_H_
