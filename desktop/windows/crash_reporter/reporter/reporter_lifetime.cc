#include "desktop/windows/crash_reporter/reporter/reporter_lifetime.h"

#include <string>

#include "base/command_line.h"
#include "base/lazy_instance.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/common/product/installer_switches.h"

namespace zorvi {
namespace installer {
namespace {

constinit base::LazyInstance<ReporterLifetime> g_reporter_lifetime;
std::atomic<void (*)()> g_exit_callback_hook{nullptr};

}  // namespace

ReporterLifetime& ReporterLifetime::Get() {
  return g_reporter_lifetime.Get();
}

ReporterLifetime::ReporterLifetime() : zero_(&lock_) {}

bool ReporterLifetime::Init() {
  base::AutoLock hold(lock_);
  initialized_ = true;
  return true;
}

void ReporterLifetime::AddRef() {
  base::AutoLock hold(lock_);
  ++count_;
}

void ReporterLifetime::Release() {
  base::AutoLock hold(lock_);
  if (--count_ == 0)
    zero_.Broadcast();
}

bool ReporterLifetime::WaitForZero() {
  base::AutoLock hold(lock_);
  if (!initialized_)
    return false;
  while (count_ != 0)
    zero_.Wait();
  return true;
}

int ReporterLifetime::count() const {
  base::AutoLock hold(lock_);
  return count_;
}

ParentProcessWatcher::~ParentProcessWatcher() {
  // Blocking: the exit callback may be running on a pool thread, and it must not outlive this object.
  if (wait_)
    UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
  ReleaseOnce();
}

bool ParentProcessWatcher::Watch(uint32_t parent_id) {
  process_.Set(OpenProcess(SYNCHRONIZE, FALSE, parent_id));
  if (!process_.IsValid())
    return false;
  ReporterLifetime::Get().AddRef();
  armed_ = 1;
  HANDLE wait = nullptr;
  if (!RegisterWaitForSingleObject(&wait, process_.Get(), &OnParentExited, this, INFINITE, WT_EXECUTEONLYONCE))
    return false;
  wait_ = wait;
  return true;
}

void ParentProcessWatcher::SetExitCallbackHookForTesting(void (*hook)()) {
  g_exit_callback_hook = hook;
}

void CALLBACK ParentProcessWatcher::OnParentExited(void* watcher, BOOLEAN /*timed_out*/) {
  if (void (*hook)() = g_exit_callback_hook.load())
    hook();
  static_cast<ParentProcessWatcher*>(watcher)->ReleaseOnce();
}

void ParentProcessWatcher::ReleaseOnce() {
  // Whichever of the exit callback and the destructor comes first gives the unit back.
  int32_t armed = 1;
  if (armed_.compare_exchange_strong(armed, 0))
    ReporterLifetime::Get().Release();
}

bool GetParentProcessIdFromSwitch(uint32_t* parent_id) {
  return GetParentProcessIdFromSwitch(*base::CommandLine::ForCurrentProcess(), parent_id);
}

bool GetParentProcessIdFromSwitch(const base::CommandLine& command_line, uint32_t* parent_id) {
  if (!command_line.HasSwitch(kCrashReporterParentIdSwitch))
    return false;
  uint64_t value = 0;
  if (!base::StringToUint64(command_line.GetSwitchValueASCII(kCrashReporterParentIdSwitch), &value) ||
      value > 0xFFFFFFFFu)
    return false;
  *parent_id = static_cast<uint32_t>(value);
  return true;
}

}  // namespace installer
}  // namespace zorvi
