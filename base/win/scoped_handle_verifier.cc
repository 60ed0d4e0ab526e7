#include "base/win/scoped_handle_verifier.h"

#include <winternl.h>

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/debug/alias.h"
#include "base/debug/debugger.h"
#include "base/debug/stack_trace.h"
#include "base/hash.h"
#include "base/lazy_instance.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this module's base address, provided by the linker

namespace base {
namespace win {
namespace {

struct HandleHash {
  size_t operator()(HANDLE handle) const {
    return SuperFastHash(reinterpret_cast<const char*>(&handle), sizeof(handle));
  }
};

struct HandleRecord {
  const void* owner;
  const void* pc1;
  const void* pc2;
  debug::StackTrace stack;
  DWORD thread_id;
};

using HandleMap = std::unordered_map<HANDLE, HandleRecord, HandleHash>;

constinit LazyInstance<Lock>::Leaky g_verifier_lock;
std::atomic<ActiveVerifier*> g_active_verifier{nullptr};

// The object type's name of a handle ("Event", "Process", ...), empty when it cannot be queried.
std::string GetHandleTypeName(HANDLE handle) {
  using NtQueryObjectFunction = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  static const auto query_object = reinterpret_cast<NtQueryObjectFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  if (!query_object)
    return std::string();
  ULONG size = 0;
  query_object(handle, ObjectTypeInformation, nullptr, 0, &size);
  if (size < sizeof(PUBLIC_OBJECT_TYPE_INFORMATION))
    return std::string();
  std::unique_ptr<char[]> buffer(new char[size]);
  if (!NT_SUCCESS(query_object(handle, ObjectTypeInformation, buffer.get(), size, &size)))
    return std::string();
  const auto* info = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer.get());
  return WideToUTF8(StringPiece16(info->TypeName.Buffer, info->TypeName.Length / sizeof(wchar_t)));
}

// Closes the handle; a failure stops the process unless the handle is a process handle protected from
// closing (callers may hand such a handle to a holder on purpose).
bool CloseHandleWrapper(HANDLE handle) {
  if (::CloseHandle(handle))
    return true;
  // Evidence for the crash dump.
  DWORD last_error = GetLastError();
  debug::DebugAlias(&last_error);
  std::string type_name = GetHandleTypeName(handle);
  debug::DebugAlias(type_name.c_str());
  DWORD flags = 0;
  GetHandleInformation(handle, &flags);
  debug::DebugAlias(&flags);
  if (type_name == "Process" && (flags & HANDLE_FLAG_PROTECT_FROM_CLOSE))
    return false;
  debug::BreakDebugger();
}

class ActiveVerifierImpl final : public ActiveVerifier {
 public:
  explicit ActiveVerifierImpl(bool enabled) : enabled_(enabled), lock_(g_verifier_lock.Pointer()) {}

  bool CloseHandle(HANDLE handle) override {
    if (!enabled_)
      return CloseHandleWrapper(handle);
    closing_.Set(true);
    const bool closed = CloseHandleWrapper(handle);
    closing_.Set(false);
    return closed;
  }

  void StartTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) override {
    if (!enabled_)
      return;
    const DWORD thread_id = GetCurrentThreadId();
    AutoLock lock(*lock_);
    auto [position, inserted] = map_.try_emplace(handle, HandleRecord{owner, pc1, pc2, debug::StackTrace(), thread_id});
    if (!inserted) {
      // Registered twice: the first holder's record and the verifier's birth place are the evidence.
      HandleRecord existing = position->second;
      debug::DebugAlias(&existing);
      debug::DebugAlias(&creation_stack_);
      debug::BreakDebugger();
    }
  }

  void StopTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) override {
    if (!enabled_)
      return;
    AutoLock lock(*lock_);
    auto position = map_.find(handle);
    if (position == map_.end()) {
      // Released without being registered.
      debug::DebugAlias(&creation_stack_);
      debug::BreakDebugger();
    }
    if (position->second.owner != owner) {
      // Released by a holder that did not register it.
      HandleRecord existing = position->second;
      debug::DebugAlias(&existing);
      debug::DebugAlias(&pc1);
      debug::DebugAlias(&pc2);
      debug::BreakDebugger();
    }
    map_.erase(position);
  }

  void Disable() override { enabled_ = false; }

  void OnHandleBeingClosed(HANDLE handle) override {
    if (!enabled_ || closing_.Get())
      return;
    AutoLock lock(*lock_);
    auto position = map_.find(handle);
    if (position != map_.end()) {
      // Closed behind its holder's back.
      HandleRecord existing = position->second;
      debug::DebugAlias(&existing);
      debug::DebugAlias(&creation_stack_);
      debug::BreakDebugger();
    }
  }

  HMODULE GetModule() const override { return reinterpret_cast<HMODULE>(&__ImageBase); }

  size_t TrackedCount() const {
    AutoLock lock(*lock_);
    return map_.size();
  }

 private:
  debug::StackTrace creation_stack_;
  bool enabled_;
  ThreadLocalBoolean closing_;  // set while this thread is inside the verifier's own close
  Lock* lock_;
  HandleMap map_;
};

// Makes or adopts the process's verifier; the first one installed wins.
ActiveVerifier* InstallActiveVerifier() {
  using GetHandleVerifierFunction = ActiveVerifier* (*)();
  const auto main_module_export = reinterpret_cast<GetHandleVerifierFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "GetHandleVerifier")));
  // Asked outside the lock: the main executable's verifier takes its own.
  ActiveVerifier* adopted = nullptr;
  if (main_module_export && main_module_export != &GetHandleVerifier)
    adopted = main_module_export();

  AutoLock lock(g_verifier_lock.Get());
  if (ActiveVerifier* installed = g_active_verifier.load(std::memory_order_acquire))
    return installed;
  ActiveVerifier* verifier = adopted;
  if (!verifier) {
    // Tracking is on only in the module whose verifier the main executable exports (its own).
    verifier = new ActiveVerifierImpl(main_module_export == &GetHandleVerifier);
  }
  g_active_verifier.store(verifier, std::memory_order_release);
  return verifier;
}

}  // namespace

ActiveVerifier* ActiveVerifier::Get() {
  if (ActiveVerifier* verifier = g_active_verifier.load(std::memory_order_acquire))
    return verifier;
  return InstallActiveVerifier();
}

void OnHandleBeingClosed(HANDLE handle) {
  ActiveVerifier::Get()->OnHandleBeingClosed(handle);
}

size_t GetTrackedHandleCountForTesting() {
  ActiveVerifier* verifier = ActiveVerifier::Get();
  // Only this module's own kind of verifier can be read; an adopted one may come from other code.
  if (verifier->GetModule() != reinterpret_cast<HMODULE>(&__ImageBase))
    return 0;
  return static_cast<ActiveVerifierImpl*>(verifier)->TrackedCount();
}

}  // namespace win
}  // namespace base

extern "C" base::win::ActiveVerifier* GetHandleVerifier() {
  return base::win::ActiveVerifier::Get();
}
