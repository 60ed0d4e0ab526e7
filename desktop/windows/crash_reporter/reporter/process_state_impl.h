// The crash reporter's snapshot of a crashed client, taken while the reporter is attached to it as a debugger
// (which stops it): the crash read out of the client, the memory counters, the modules (their facts from their
// files on disk) and every thread with its registers, the crashed thread first.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_PROCESS_STATE_IMPL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_PROCESS_STATE_IMPL_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/reporter/process_state.h"

namespace zorvi {
namespace installer {

// A module as the crashed client announced it in its crash keys; the snapshot uses these when the system cannot
// list the client's modules.
struct ModuleListEntry {
  std::wstring name;
  std::wstring path;
  uint64_t base = 0;
  uint64_t size = 0;
};

class ProcessStateImpl : public ProcessState {
 public:
  // How often a module list that fails with ERROR_BAD_LENGTH (the process was loading or unloading a module
  // meanwhile) is asked for.
  static constexpr int kModuleSnapshotAttempts = 10;

  ProcessStateImpl();
  ~ProcessStateImpl() override;
  ProcessStateImpl(const ProcessStateImpl&) = delete;
  ProcessStateImpl& operator=(const ProcessStateImpl&) = delete;

  // Takes the snapshot of the process `process_id`, whose crash client keeps the address of its
  // EXCEPTION_POINTERS at `exception_pointers_address` and the crashing thread's id at `thread_id_address`.
  // False only when the process cannot be opened or its crash cannot be read; anything else that fails is
  // logged and left out.
  bool Init(DWORD process_id, uint64_t exception_pointers_address, uint64_t thread_id_address,
            const std::vector<ModuleListEntry>& fallback_modules);

  HANDLE process() const { return process_.Get(); }
  // The process's memory counters (bytes); 0 when they could not be read.
  uint64_t working_set_size() const { return working_set_size_; }
  uint64_t peak_working_set_size() const { return peak_working_set_size_; }
  uint64_t private_bytes() const { return private_bytes_; }

  bool IsAddressReadable(uint64_t address) const override;
  uint32_t GetExceptionCode() const override;
  const char* GetExceptionName() const override;
  uint64_t GetExceptionAddress() const override;
  const Threads& GetThreads() const override;
  const ModuleInfo* GetMainModule() const override;
  const Modules& GetModules() const override;
  std::unique_ptr<RemoteMemoryReader> CreateMemoryReader() const override;

  // Stands in for CreateToolhelp32Snapshot (null: the system's again).
  using SnapshotFunction = HANDLE(WINAPI*)(DWORD flags, DWORD process_id);
  static void SetSnapshotFunctionForTesting(SnapshotFunction function);

 private:
  void ReadMemoryCounters();
  void ReadModules(DWORD process_id, const base::FilePath& image_path,
                   const std::vector<ModuleListEntry>& fallback_modules);
  void AddModule(const wchar_t* name, const std::wstring& path, uint64_t base, uint32_t size,
                 const base::FilePath& image_path);
  // The exception code and address and the crashed thread's context.
  bool ReadCrash(uint64_t exception_pointers_address, CONTEXT* context);
  void ReadOtherThreads(DWORD process_id, uint32_t crashed_thread_id);

  base::win::ScopedHandle process_;
  const ModuleInfo* main_module_ = nullptr;
  Modules modules_;
  std::vector<std::wstring> module_paths_;  // for the log, when the main module is not among them
  Threads threads_;
  uint32_t exception_code_ = 0;
  uint64_t exception_address_ = 0;
  uint64_t working_set_size_ = 0;
  uint64_t peak_working_set_size_ = 0;
  uint64_t private_bytes_ = 0;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_PROCESS_STATE_IMPL_H_
