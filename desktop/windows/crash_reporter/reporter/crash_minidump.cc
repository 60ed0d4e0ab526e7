#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"

#include <string>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/product_info.h"
#include "desktop/windows/crash_reporter/dump_library.h"

namespace zorvi {
namespace installer {
namespace {

// What dbghelp answers when a dump of the asked kind cannot be made of this process; the next kind may work.
constexpr DWORD kInvalidArgumentResult = 0x80070057;
// The detailed kind first, then the normal one.
constexpr MINIDUMP_TYPE kDumpTypes[] = {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal};
static_assert(MiniDumpWithIndirectlyReferencedMemory == 0x40);
constexpr DWORD kCrashedProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

bool CutToNothing(HANDLE file) {
  return SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file);
}

base::win::ScopedHandle OpenCrashedProcess(DWORD process_id) {
  base::win::ScopedHandle process(OpenProcess(kCrashedProcessAccess, FALSE, process_id));
  if (!process.IsValid())
    PLOG(ERROR) << "OpenProcess failed for the crashed process " << process_id;
  return process;
}

}  // namespace

bool WriteClientMinidump(DWORD process_id, uint64_t thread_id_address, uint64_t exception_pointers_address,
                         uint64_t assertion_address, const base::FilePath& path, uint64_t largest_size) {
  base::win::ScopedHandle process = OpenCrashedProcess(process_id);
  if (!process.IsValid())
    return false;
  CrashInformationRecord record = {};
  if (!ReadClientMemory(process.Get(), exception_pointers_address, &record.exception_pointers,
                        sizeof(record.exception_pointers)) ||
      !ReadClientMemory(process.Get(), thread_id_address, &record.thread_id, sizeof(record.thread_id)) ||
      (assertion_address &&
       !ReadClientMemory(process.Get(), assertion_address, &record.assertion, sizeof(record.assertion)))) {
    PLOG(ERROR) << "Reading the crash information of process " << process_id << " failed";
    return false;
  }
  return WriteMinidumpFile(process.Get(), process_id, record, path, largest_size);
}

bool WriteSelfMinidump(DWORD process_id, uint64_t record_address, const base::FilePath& path, uint64_t largest_size) {
  base::win::ScopedHandle process = OpenCrashedProcess(process_id);
  if (!process.IsValid())
    return false;
  CrashInformationRecord record = {};
  if (!ReadClientMemory(process.Get(), record_address, &record, sizeof(record))) {
    PLOG(ERROR) << "Reading the crash information of process " << process_id << " failed";
    return false;
  }
  return WriteMinidumpFile(process.Get(), process_id, record, path, largest_size);
}

bool WriteMinidumpFile(HANDLE process, DWORD process_id, const CrashInformationRecord& record,
                       const base::FilePath& path, uint64_t largest_size) {
  base::win::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Creating the minidump file " << path.value() << " failed";
    return false;
  }
  const bool written = WriteMinidump(process, process_id, record, file.Get(), largest_size);
  file.Close();
  if (!written)
    DeleteFileW(path.value().c_str());
  return written;
}

bool WriteMinidump(HANDLE process, DWORD process_id, const CrashInformationRecord& record, HANDLE file,
                   uint64_t largest_size) {
  DumpLibrary dbghelp(L"dbghelp.dll");
  const auto write_dump = dbghelp.Find<MiniDumpWriteDumpFunction>("MiniDumpWriteDump");
  if (!write_dump) {
    PLOG(ERROR) << "MiniDumpWriteDump is not available";
    return false;
  }
  MINIDUMP_EXCEPTION_INFORMATION exception = {
      record.thread_id, reinterpret_cast<EXCEPTION_POINTERS*>(static_cast<uintptr_t>(record.exception_pointers)),
      TRUE};
  const std::string version = GetFullVersionString() + " " + std::to_string(GetBuildNumber());
  MINIDUMP_USER_STREAM streams[] = {
      {kVersionStreamType, static_cast<ULONG>(version.size()), const_cast<char*>(version.data())},
      {kAssertionTextStreamType, sizeof(record.assertion), const_cast<CrashAssertionRecord*>(&record.assertion)},
  };
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {
      record.assertion.type == kInvalidParameterAssertion ? 2ul : 1ul, streams};

  base::AutoLock one_dump_at_a_time(GetDumpWritingLock());
  for (MINIDUMP_TYPE type : kDumpTypes) {
    if (write_dump(process, process_id, file, type, record.exception_pointers ? &exception : nullptr,
                   &user_streams, nullptr)) {
      DWORD high = 0;
      const DWORD low = GetFileSize(file, &high);
      if (low == INVALID_FILE_SIZE) {
        PLOG(ERROR) << "GetFileSize of the minidump failed";
        return false;
      }
      const uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
      if (size <= largest_size)
        return true;
      LOG(ERROR) << "A minidump of type 0x" << std::hex << type << " takes " << std::dec << size
                 << " bytes, more than " << largest_size;
    } else {
      const DWORD error = GetLastError();
      if (error != kInvalidArgumentResult) {
        LOG(ERROR) << "MiniDumpWriteDump failed: " << logging::SystemErrorCodeToString(error);
        return false;
      }
    }
    if (!CutToNothing(file)) {
      PLOG(ERROR) << "Emptying the minidump file failed";
      return false;
    }
  }
  return false;
}

}  // namespace installer
}  // namespace zorvi
