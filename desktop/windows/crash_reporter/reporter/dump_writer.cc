#include "desktop/windows/crash_reporter/reporter/dump_writer.h"

#include <avrfsdk.h>

#include <cstring>

#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {
namespace {

constexpr DWORD kInvalidHandleCode = 0xC0000008;
static_assert(sizeof(AVRF_HANDLE_OPERATION) == 288 && sizeof(MINIDUMP_HANDLE_OPERATION_LIST) == 16);
static_assert(AvrfResourceHandleTrace == 1 && OperationDbBADREF == 3 && HandleOperationListStream == 18);

// Which threads the dump was written by and for; all zero when the pointers belong to the dumped process.
struct DumpInfoStream {
  uint32_t validity;  // bit 0: dump thread id valid, bit 1: requesting thread id valid
  uint32_t dump_thread_id;
  uint32_t requesting_thread_id;
};
static_assert(sizeof(DumpInfoStream) == 12);

// The handle-trace records of one enumeration, in the order the platform gave them.
struct HandleTraceRecords {
  uint64_t faulting_handle = 0;  // the handle of the last bad reference
  std::vector<AVRF_HANDLE_OPERATION> records;

  static ULONG NTAPI OnRecord(void* record, void* context, ULONG* enumeration_level) {
    auto* self = static_cast<HandleTraceRecords*>(context);
    const auto* operation = static_cast<const AVRF_HANDLE_OPERATION*>(record);
    if (operation->OperationType == OperationDbBADREF)
      self->faulting_handle = operation->Handle;
    self->records.push_back(*operation);
    *enumeration_level = HeapEnumerationEverything;
    return 0;  // go on
  }
};

}  // namespace

DumpWriter::DumpWriter(const std::wstring& dump_folder, HANDLE process, DWORD process_id, DWORD crashing_thread_id,
                       DWORD requesting_thread_id, uint64_t exception_pointers, uint64_t assertion_address,
                       uint32_t dump_type, bool pointers_in_dumped_process)
    : dump_folder_(dump_folder),
      process_(process),
      process_id_(process_id),
      crashing_thread_id_(crashing_thread_id),
      requesting_thread_id_(requesting_thread_id),
      exception_pointers_(exception_pointers),
      assertion_address_(assertion_address),
      dump_type_(dump_type),
      pointers_in_dumped_process_(pointers_in_dumped_process) {}

DumpWriter::~DumpWriter() = default;

bool DumpWriter::CreateDumpFile(std::wstring* dump_path) {
  if (dump_file_.IsValid())
    return false;
  DumpLibrary rpcrt4(L"rpcrt4.dll");
  const auto uuid_create = rpcrt4.Find<UuidCreateFunction>("UuidCreate");
  if (!uuid_create)
    return false;
  GUID guid = {};
  uuid_create(&guid);
  const std::wstring path = dump_folder_ + L"\\" + GuidToString(guid) + L".dmp";
  dump_file_.Set(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!dump_file_.IsValid())
    return false;
  *dump_path = path;
  return true;
}

bool DumpWriter::WriteMinidump() {
  if (!dump_file_.IsValid() || (dump_type_ & MiniDumpWithFullMemory))
    return false;
  DumpLibrary dbghelp(L"dbghelp.dll");
  const auto write_dump = dbghelp.Find<MiniDumpWriteDumpFunction>("MiniDumpWriteDump");
  if (!write_dump)
    return false;

  MINIDUMP_EXCEPTION_INFORMATION exception = {
      crashing_thread_id_, reinterpret_cast<EXCEPTION_POINTERS*>(static_cast<uintptr_t>(exception_pointers_)),
      pointers_in_dumped_process_};
  DumpInfoStream info = {};
  if (!pointers_in_dumped_process_)
    info = {3, requesting_thread_id_, crashing_thread_id_};
  CrashAssertionRecord assertion = {};
  if (assertion_address_ && pointers_in_dumped_process_) {
    if (!ReadClientMemory(process_, assertion_address_, &assertion, sizeof(assertion))) {
      dump_file_.Close();
      return false;
    }
  } else if (assertion_address_) {
    std::memcpy(&assertion, reinterpret_cast<const void*>(static_cast<uintptr_t>(assertion_address_)),
                sizeof(assertion));
  }
  std::vector<uint8_t> handle_trace;
  if (exception_pointers_ && !(dump_type_ & MiniDumpWithHandleData) && !CollectHandleTrace(&handle_trace)) {
    dump_file_.Close();
    return false;
  }
  std::vector<MINIDUMP_USER_STREAM> streams = {
      {kInfoStreamType, sizeof(info), &info},
      {kAssertionStreamType, sizeof(assertion), &assertion},
  };
  if (!handle_trace.empty())
    streams.push_back({HandleOperationListStream, static_cast<ULONG>(handle_trace.size()), handle_trace.data()});
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {static_cast<ULONG>(streams.size()), streams.data()};
  base::AutoLock one_dump_at_a_time(GetDumpWritingLock());
  return write_dump(process_, process_id_, dump_file_.Get(), static_cast<MINIDUMP_TYPE>(dump_type_),
                    exception_pointers_ ? &exception : nullptr, &user_streams, nullptr) != FALSE;
}

bool DumpWriter::CollectHandleTrace(std::vector<uint8_t>* stream) const {
  EXCEPTION_POINTERS pointers = {};
  DWORD code = 0;
  if (!ReadClientMemory(process_, exception_pointers_, &pointers, sizeof(pointers)) ||
      !ReadClientMemory(process_, reinterpret_cast<uintptr_t>(pointers.ExceptionRecord), &code, sizeof(code))) {
    return false;
  }
  if (code != kInvalidHandleCode)
    return true;
  // Without the verifier (it is an optional part of the platform) the dump goes without the handle's history:
  // the rest of it is worth more than nothing.
  DumpLibrary verifier(L"verifier.dll");
  const auto enumerate = verifier.Find<VerifierEnumerateResourceFunction>("VerifierEnumerateResource");
  if (!enumerate)
    return true;
  HandleTraceRecords collected;
  if (enumerate(process_, 0, AvrfResourceHandleTrace, &HandleTraceRecords::OnRecord, &collected) != 0 ||
      collected.records.empty()) {
    return true;
  }

  MINIDUMP_HANDLE_OPERATION_LIST header = {sizeof(MINIDUMP_HANDLE_OPERATION_LIST), sizeof(AVRF_HANDLE_OPERATION), 0,
                                           0};
  std::vector<uint8_t> records;
  for (const AVRF_HANDLE_OPERATION& record : collected.records) {
    if (record.Handle != collected.faulting_handle)
      continue;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    records.insert(records.end(), bytes, bytes + sizeof(record));
    ++header.NumberOfEntries;
  }
  const auto* header_bytes = reinterpret_cast<const uint8_t*>(&header);
  stream->assign(header_bytes, header_bytes + sizeof(header));
  stream->insert(stream->end(), records.begin(), records.end());
  return true;
}

}  // namespace installer
}  // namespace zorvi
