// Writes one minidump of a crashed process from outside it, into a file named after a fresh GUID: the dump
// server uses it when it writes its clients' dumps itself. Besides the system's streams, the dump carries an
// information stream, the client's assertion record and, for an invalid-handle crash, the history of the
// faulting handle as the platform's handle tracing recorded it. One writer makes one dump.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_DUMP_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_DUMP_WRITER_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/dump_library.h"

namespace zorvi {
namespace installer {

class DumpWriter {
 public:
  static constexpr uint32_t kInfoStreamType = 0x47670001;
  static constexpr uint32_t kAssertionStreamType = 0x47670002;

  // `exception_pointers` (0: none) and `assertion_address` (0: none) are addresses in the dumped process when
  // `pointers_in_dumped_process`, else in this one. `dump_type` holds minidump type flags. The dump is for
  // `crashing_thread_id`; `requesting_thread_id` is the thread that has it written.
  DumpWriter(const std::wstring& dump_folder, HANDLE process, DWORD process_id, DWORD crashing_thread_id,
             DWORD requesting_thread_id, uint64_t exception_pointers, uint64_t assertion_address, uint32_t dump_type,
             bool pointers_in_dumped_process);
  ~DumpWriter();
  DumpWriter(const DumpWriter&) = delete;
  DumpWriter& operator=(const DumpWriter&) = delete;

  // Creates "<dump folder>\<guid>.dmp" (never over an existing file) and gives its path; false when this
  // writer has a file already or the file cannot be made.
  bool CreateDumpFile(std::wstring* dump_path);

  // Writes the dump into the file. Refuses a full-memory dump (it would need a file of its own) and a client
  // whose assertion record cannot be read; either way the file stays, empty, and is closed.
  bool WriteMinidump();

 private:
  // The faulting handle's records, as the stream that carries them; empty when the crash is not an
  // invalid-handle exception or nothing was recorded. False only when the crash itself cannot be read.
  bool CollectHandleTrace(std::vector<uint8_t>* stream) const;

  const std::wstring dump_folder_;
  const HANDLE process_;
  const DWORD process_id_;
  const DWORD crashing_thread_id_;
  const DWORD requesting_thread_id_;
  const uint64_t exception_pointers_;
  const uint64_t assertion_address_;
  const uint32_t dump_type_;
  const bool pointers_in_dumped_process_;

  base::win::ScopedHandle dump_file_;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_DUMP_WRITER_H_
