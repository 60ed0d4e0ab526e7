#include "desktop/windows/crash_reporter/reporter/process_state_impl.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <new>
#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"
#include "desktop/windows/crash_reporter/reporter/module_info_impl.h"
#include "desktop/windows/crash_reporter/reporter/thread_info_impl.h"

namespace zorvi {
namespace installer {
namespace {

constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
static_assert(kProcessAccess == 0x410);
static_assert(sizeof(MODULEENTRY32W) == 1080 && sizeof(PROCESS_MEMORY_COUNTERS_EX) == 80);
// Thread entries are asked for in their documented size; an entry must reach the owner's id to be of use.
constexpr DWORD kThreadEntrySize = 28;
constexpr DWORD kThreadEntryMinSize = offsetof(THREADENTRY32, th32OwnerProcessID) + sizeof(DWORD);
static_assert(sizeof(THREADENTRY32) == kThreadEntrySize && kThreadEntryMinSize == 16);
// Where the exception record keeps the exception's address.
static_assert(offsetof(EXCEPTION_RECORD, ExceptionAddress) == 16);

ProcessStateImpl::SnapshotFunction g_create_snapshot = &CreateToolhelp32Snapshot;

struct DriveDevice {
  std::wstring root;
  std::wstring device;
};

std::vector<std::wstring> GetLogicalDriveRoots() {
  const DWORD length = GetLogicalDriveStringsW(0, nullptr);
  if (length == 0) {
    PLOG(ERROR) << "GetLogicalDriveStrings failed";
    return {};
  }
  std::vector<wchar_t> buffer(length + 1);
  const DWORD result = GetLogicalDriveStringsW(length + 1, buffer.data());
  if (result == 0 || result > length) {
    PLOG(ERROR) << "GetLogicalDriveStrings failed, result=" << result << ", length=" << length;
    return {};
  }
  std::vector<std::wstring> roots;
  for (const wchar_t* root = buffer.data(); *root; root += roots.back().size() + 1)
    roots.emplace_back(root);
  return roots;
}

// The process's executable as a path of a drive ("C:\..."): the system names it by its device
// ("\Device\HarddiskVolume1\..."), and the module list names modules by drive.
base::FilePath GetImagePathOfDrive(HANDLE process) {
  wchar_t device_path[MAX_PATH];
  const DWORD length = GetProcessImageFileNameW(process, device_path, MAX_PATH);
  if (length == 0) {
    PLOG(ERROR) << "GetProcessImageFileName failed";
    return base::FilePath();
  }
  const base::FilePath image(base::StringPiece16(device_path, length));
  std::vector<DriveDevice> drives;
  for (const std::wstring& root : GetLogicalDriveRoots()) {
    if (root.size() != 3 || root[1] != L':' || root[2] != L'\\') {
      LOG(WARNING) << "GetDeviceName: '" << root << "'";
      continue;
    }
    const wchar_t drive[] = {root[0], L':', L'\0'};
    wchar_t device[MAX_PATH];
    if (!QueryDosDeviceW(drive, device, MAX_PATH)) {
      PLOG(ERROR) << "QueryDosDevice failed for '" << drive << "' (from '" << root << "')";
      continue;
    }
    base::FilePath path(root);
    if (base::FilePath(device).AppendRelativePath(image, &path))
      return path;
    drives.push_back({root, device});
  }
  LOG(WARNING) << "Could not convert process image file name '" << image.value() << "'";
  for (const DriveDevice& drive : drives) {
    LOG(INFO) << "Logical drive: " << drive.root;
    LOG(INFO) << "Device name: " << drive.device;
  }
  return base::FilePath();
}

}  // namespace

RemoteMemoryReader::RemoteMemoryReader(HANDLE process) : process_(process) {}

RemoteMemoryReader::~RemoteMemoryReader() = default;

const uint8_t* RemoteMemoryReader::Read(uint64_t address, size_t size, size_t* bytes_read) {
  *bytes_read = 0;
  if (size > capacity_) {
    buffer_.reset(new (std::nothrow) uint8_t[size]);
    capacity_ = buffer_ ? size : 0;
    if (!buffer_)
      return nullptr;
  }
  SIZE_T read = 0;
  if (ReadProcessMemory(process_, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), buffer_.get(), size,
                        &read) &&
      read > 0) {
    *bytes_read = read;
    return buffer_.get();
  }
  // A crash log reads thousands of places; a process whose memory is gone must not flood the reporter's log.
  ++failures_;
  if (failures_ <= kMaxLoggedFailures) {
    PLOG(ERROR) << "ReadProcessMemory failed for address 0x" << std::hex << address << " and size " << std::dec << size
                << ", bytes_read=" << read;
  }
  if (failures_ == kMaxLoggedFailures)
    LOG(INFO) << "Reached limit of logged memory read errors";
  return nullptr;
}

ProcessStateImpl::ProcessStateImpl() = default;

ProcessStateImpl::~ProcessStateImpl() = default;

void ProcessStateImpl::SetSnapshotFunctionForTesting(SnapshotFunction function) {
  g_create_snapshot = function ? function : &CreateToolhelp32Snapshot;
}

bool ProcessStateImpl::Init(DWORD process_id, uint64_t exception_pointers_address, uint64_t thread_id_address,
                            const std::vector<ModuleListEntry>& fallback_modules) {
  process_.Set(OpenProcess(kProcessAccess, FALSE, process_id));
  if (!process_.IsValid()) {
    PLOG(ERROR) << "OpenProcess failed for process " << process_id;
    return false;
  }
  ReadMemoryCounters();
  ReadModules(process_id, GetImagePathOfDrive(process_.Get()), fallback_modules);

  CONTEXT context;
  if (!ReadCrash(exception_pointers_address, &context))
    return false;
  uint32_t crashed_thread_id = 0;
  if (!ReadClientMemory(process_.Get(), thread_id_address, &crashed_thread_id, sizeof(crashed_thread_id))) {
    LOG(WARNING) << "Could not read ID of crashed thread";
    crashed_thread_id = 0;
  }
  auto crashed = std::make_unique<ThreadInfoImpl>(crashed_thread_id, true);
  crashed->InitWithContext(process_.Get(), context);
  threads_.push_back(std::move(crashed));
  ReadOtherThreads(process_id, crashed_thread_id);
  return true;
}

void ProcessStateImpl::ReadMemoryCounters() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process_.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof(counters))) {
    PLOG(ERROR) << "GetProcessMemoryInfo failed";
    return;
  }
  working_set_size_ = counters.WorkingSetSize;
  peak_working_set_size_ = counters.PeakWorkingSetSize;
  private_bytes_ = counters.PrivateUsage;
}

void ProcessStateImpl::ReadModules(DWORD process_id, const base::FilePath& image_path,
                                   const std::vector<ModuleListEntry>& fallback_modules) {
  // The list cannot be had while the process loads or unloads a module; that passes, so ask again at once.
  base::win::ScopedHandle snapshot;
  int attempts_left = kModuleSnapshotAttempts;
  while (attempts_left > 0) {
    --attempts_left;
    snapshot.Set(g_create_snapshot(TH32CS_SNAPMODULE, process_id));
    if (snapshot.IsValid() || GetLastError() != ERROR_BAD_LENGTH)
      break;
  }
  if (!snapshot.IsValid()) {
    PLOG(ERROR) << "TH32CS_SNAPMODULE failed, retries_left=" << attempts_left;
  } else {
    MODULEENTRY32W entry;
    entry.dwSize = sizeof(entry);
    if (!Module32FirstW(snapshot.Get(), &entry)) {
      PLOG(ERROR) << "Module32First failed";
    } else {
      do {
        AddModule(entry.szModule, entry.szExePath, reinterpret_cast<uintptr_t>(entry.modBaseAddr),
                  entry.modBaseSize, image_path);
      } while (Module32NextW(snapshot.Get(), &entry));
    }
  }

  if (modules_.empty()) {
    LOG(INFO) << "Using fallback modules";
    for (const ModuleListEntry& module : fallback_modules)
      AddModule(module.name.c_str(), module.path, module.base, static_cast<uint32_t>(module.size), image_path);
  }

  if (!main_module_ && !image_path.empty()) {
    LOG(WARNING) << "Couldn't find main module for '" << image_path.value() << "'";
    for (const std::wstring& path : module_paths_)
      LOG(WARNING) << "Module path: " << path;
  }
}

void ProcessStateImpl::AddModule(const wchar_t* name, const std::wstring& path, uint64_t base, uint32_t size,
                                 const base::FilePath& image_path) {
  module_paths_.push_back(path);
  base::win::ScopedHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid())
    LOG(ERROR) << "CreateFile failed for " << path;
  auto module = std::make_unique<ModuleInfoImpl>();
  if (!name || *name == L'\0')
    LOG(WARNING) << "Module " << path << " has no name";
  module->Init(name, file.Get(), base, size);
  if (!main_module_ && !image_path.empty() && base::FilePath::CompareIgnoreCase(path, image_path.value()) == 0)
    main_module_ = module.get();
  modules_.push_back(std::move(module));
}

bool ProcessStateImpl::ReadCrash(uint64_t exception_pointers_address, CONTEXT* context) {
  // The client's field holds the address of its EXCEPTION_POINTERS: the record's address, then the context's.
  uint64_t pointers_address = 0;
  uint64_t pointers[2] = {};
  static_assert(sizeof(pointers) == sizeof(EXCEPTION_POINTERS));
  if (!ReadRemotePointer(process_.Get(), exception_pointers_address, &pointers_address) ||
      !ReadClientMemory(process_.Get(), pointers_address, pointers, sizeof(pointers)) ||
      !ReadClientMemory(process_.Get(), pointers[0] + offsetof(EXCEPTION_RECORD, ExceptionCode), &exception_code_,
                        sizeof(exception_code_)) ||
      !ReadClientMemory(process_.Get(), pointers[0] + offsetof(EXCEPTION_RECORD, ExceptionAddress),
                        &exception_address_, sizeof(exception_address_)) ||
      !ReadClientMemory(process_.Get(), pointers[1], context, sizeof(*context))) {
    PLOG(ERROR) << "Reading the crash of the process failed";
    return false;
  }
  return true;
}

void ProcessStateImpl::ReadOtherThreads(DWORD process_id, uint32_t crashed_thread_id) {
  base::win::ScopedHandle snapshot(g_create_snapshot(TH32CS_SNAPTHREAD, process_id));
  if (!snapshot.IsValid()) {
    PLOG(ERROR) << "TH32CS_SNAPTHREAD failed";
    return;
  }
  THREADENTRY32 entry;
  entry.dwSize = kThreadEntrySize;
  if (!Thread32First(snapshot.Get(), &entry) || entry.dwSize < kThreadEntryMinSize) {
    PLOG(ERROR) << "Thread32First failed, te.dwSize=" << entry.dwSize << ", min size=" << kThreadEntryMinSize;
    return;
  }
  do {
    if (entry.th32OwnerProcessID == process_id && entry.th32ThreadID != crashed_thread_id) {
      auto thread = std::make_unique<ThreadInfoImpl>(entry.th32ThreadID, false);
      if (thread->Init(process_.Get()))
        threads_.push_back(std::move(thread));
    }
    entry.dwSize = kThreadEntrySize;
  } while (Thread32Next(snapshot.Get(), &entry));
}

bool ProcessStateImpl::IsAddressReadable(uint64_t address) const {
  uint8_t byte = 0;
  SIZE_T read = 0;
  return ReadProcessMemory(process_.Get(), reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &byte,
                           sizeof(byte), &read) &&
         read == sizeof(byte);
}

uint32_t ProcessStateImpl::GetExceptionCode() const {
  return exception_code_;
}

const char* ProcessStateImpl::GetExceptionName() const {
  return nullptr;
}

uint64_t ProcessStateImpl::GetExceptionAddress() const {
  return exception_address_;
}

const ProcessState::Threads& ProcessStateImpl::GetThreads() const {
  return threads_;
}

const ModuleInfo* ProcessStateImpl::GetMainModule() const {
  return main_module_;
}

const ProcessState::Modules& ProcessStateImpl::GetModules() const {
  return modules_;
}

std::unique_ptr<RemoteMemoryReader> ProcessStateImpl::CreateMemoryReader() const {
  if (!process_.IsValid())
    return nullptr;
  return std::make_unique<RemoteMemoryReader>(process_.Get());
}

}  // namespace installer
}  // namespace zorvi
