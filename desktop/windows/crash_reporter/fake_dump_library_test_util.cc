#include "desktop/windows/crash_reporter/fake_dump_library_test_util.h"

#include <cwchar>

namespace zorvi {
namespace installer {
namespace {

FakeDumpLibraries* g_active = nullptr;
// Never handed to the system: the fake verifier's module.
const HMODULE kFakeVerifierModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7e57));
constexpr ULONG kEnumerationError = ERROR_NOT_SUPPORTED;

}  // namespace

FakeDumpLibraries::FakeDumpLibraries() : functions_{&Load, &Find, &Free} {
  g_active = this;
  SetDumpLibraryFunctionsForTesting(&functions_);
}

FakeDumpLibraries::~FakeDumpLibraries() {
  SetDumpLibraryFunctionsForTesting(nullptr);
  g_active = nullptr;
}

void FakeDumpLibraries::set_dump_answers(std::vector<DumpAnswer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.assign(answers.begin(), answers.end());
}

void FakeDumpLibraries::set_verifier(Verifier verifier, std::vector<AVRF_HANDLE_OPERATION> records) {
  std::lock_guard<std::mutex> lock(mutex_);
  verifier_ = verifier;
  records_ = std::move(records);
}

std::vector<FakeDumpLibraries::DumpCall> FakeDumpLibraries::dump_calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int FakeDumpLibraries::enumerations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enumerations_;
}

int FakeDumpLibraries::libraries_held() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return libraries_held_;
}

AVRF_HANDLE_OPERATION FakeDumpLibraries::HandleRecord(uint64_t handle, ULONG operation, ULONG depth) {
  AVRF_HANDLE_OPERATION record = {};
  record.Handle = handle;
  record.ProcessId = GetCurrentProcessId();
  record.ThreadId = GetCurrentThreadId();
  record.OperationType = operation;
  record.BackTraceInformation.Depth = depth;
  for (ULONG i = 0; i < depth && i < AVRF_MAX_TRACES; ++i)
    record.BackTraceInformation.ReturnAddresses[i] = handle * 0x1000 + i;
  return record;
}

HMODULE WINAPI FakeDumpLibraries::Load(const wchar_t* file_name) {
  FakeDumpLibraries* self = g_active;
  std::lock_guard<std::mutex> lock(self->mutex_);
  HMODULE module = nullptr;
  if (_wcsicmp(file_name, L"verifier.dll") == 0 && self->verifier_ != Verifier::kSystem) {
    if (self->verifier_ == Verifier::kMissing) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    module = kFakeVerifierModule;
  } else {
    module = LoadLibraryW(file_name);
  }
  if (module)
    ++self->libraries_held_;
  return module;
}

FARPROC WINAPI FakeDumpLibraries::Find(HMODULE module, const char* name) {
  FakeDumpLibraries* self = g_active;
  if (module == kFakeVerifierModule) {
    const bool enumerate = strcmp(name, "VerifierEnumerateResource") == 0;
    return enumerate ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Enumerate)) : nullptr;
  }
  FARPROC found = GetProcAddress(module, name);
  if (found && strcmp(name, "MiniDumpWriteDump") == 0) {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->system_write_dump_ = reinterpret_cast<MiniDumpWriteDumpFunction>(reinterpret_cast<void*>(found));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&WriteDump));
  }
  return found;
}

BOOL WINAPI FakeDumpLibraries::Free(HMODULE module) {
  FakeDumpLibraries* self = g_active;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    --self->libraries_held_;
  }
  return module == kFakeVerifierModule ? TRUE : FreeLibrary(module);
}

BOOL WINAPI FakeDumpLibraries::WriteDump(HANDLE process, DWORD process_id, HANDLE file, MINIDUMP_TYPE type,
                                         PMINIDUMP_EXCEPTION_INFORMATION exception,
                                         PMINIDUMP_USER_STREAM_INFORMATION streams,
                                         PMINIDUMP_CALLBACK_INFORMATION callback) {
  FakeDumpLibraries* self = g_active;
  DumpCall call = {process_id, type, exception != nullptr, 0, 0, false, {}, callback != nullptr};
  if (exception) {
    call.thread_id = exception->ThreadId;
    call.exception_pointers = reinterpret_cast<uintptr_t>(exception->ExceptionPointers);
    call.client_pointers = exception->ClientPointers != FALSE;
  }
  for (ULONG i = 0; streams && i < streams->UserStreamCount; ++i) {
    const MINIDUMP_USER_STREAM& stream = streams->UserStreamArray[i];
    call.streams.emplace_back(stream.Type,
                              std::string(static_cast<const char*>(stream.Buffer), stream.BufferSize));
  }
  MiniDumpWriteDumpFunction system_write_dump;
  DumpAnswer answer = {};
  bool scripted;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->calls_.push_back(std::move(call));
    system_write_dump = self->system_write_dump_;
    scripted = !self->answers_.empty();
    if (scripted) {
      answer = self->answers_.front();
      self->answers_.pop_front();
    }
  }
  if (!scripted)
    return system_write_dump(process, process_id, file, type, exception, streams, callback);
  if (!answer.succeeds) {
    SetLastError(answer.error);
    return FALSE;
  }
  const std::string bytes(answer.bytes, 'd');
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

ULONG NTAPI FakeDumpLibraries::Enumerate(HANDLE, ULONG, ULONG resource_type, VerifierRecordCallback callback,
                                         void* context) {
  FakeDumpLibraries* self = g_active;
  std::vector<AVRF_HANDLE_OPERATION> records;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    ++self->enumerations_;
    if (self->verifier_ == Verifier::kFailing || resource_type != AvrfResourceHandleTrace)
      return kEnumerationError;
    records = self->records_;
  }
  for (AVRF_HANDLE_OPERATION& record : records) {
    ULONG level = HeapEnumerationStop;
    if (callback(&record, context, &level) != 0 || level != HeapEnumerationEverything)
      break;
  }
  return 0;
}

}  // namespace installer
}  // namespace zorvi
