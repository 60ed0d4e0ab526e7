#include "base/threading/thread_name_registry.h"

#include <new>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

namespace base {

// Never destroyed: threads may still look names up while the process ends.
struct ThreadNameRegistryTraits {
  static constexpr bool kRegisterOnExit = false;
  static ThreadNameRegistry* New(void* storage) { return new (storage) ThreadNameRegistry(); }
  static void Delete(ThreadNameRegistry*) {}
};

namespace {

constinit LazyInstance<ThreadNameRegistry, ThreadNameRegistryTraits> g_registry;

}  // namespace

ThreadNameRegistry::ThreadNameRegistry() {
  AutoLock lock(lock_);
  default_name_ = InternName(std::string());
  main_process_name_ = default_name_;
}

// static
ThreadNameRegistry* ThreadNameRegistry::GetInstance() {
  return g_registry.Pointer();
}

std::string* ThreadNameRegistry::InternName(const std::string& name) {
  auto found = name_to_interned_name_.find(name);
  if (found != name_to_interned_name_.end())
    return found->second;
  std::string* interned = new std::string(name);
  name_to_interned_name_[name] = interned;
  return interned;
}

void ThreadNameRegistry::RegisterThread(PlatformThreadHandle handle, PlatformThreadId id) {
  AutoLock lock(lock_);
  thread_id_to_handle_[id] = handle;
  thread_handle_to_interned_name_[handle] = default_name_;
}

void ThreadNameRegistry::SetName(PlatformThreadId id, const std::string& name) {
  const char* interned_name = nullptr;
  {
    AutoLock lock(lock_);
    std::string* interned = InternName(name);
    auto handle = thread_id_to_handle_.find(id);
    if (handle == thread_id_to_handle_.end()) {
      main_process_name_ = interned;
      main_process_id_ = id;
      return;
    }
    thread_handle_to_interned_name_[handle->second] = interned;
    interned_name = interned->c_str();
  }
  // Outside the lock: the tracker may allocate, and allocations may be traced.
  trace_event::AllocationContextTracker::SetCurrentThreadName(interned_name);
}

const char* ThreadNameRegistry::GetName(PlatformThreadId id) {
  AutoLock lock(lock_);
  if (id == main_process_id_)
    return main_process_name_->c_str();
  auto handle = thread_id_to_handle_.find(id);
  if (handle == thread_id_to_handle_.end())
    return default_name_->c_str();
  auto name = thread_handle_to_interned_name_.find(handle->second);
  DCHECK(name != thread_handle_to_interned_name_.end());
  return name->second->c_str();
}

void ThreadNameRegistry::RemoveName(PlatformThreadHandle handle, PlatformThreadId id) {
  AutoLock lock(lock_);
  thread_handle_to_interned_name_.erase(handle);
  auto registered = thread_id_to_handle_.find(id);
  if (registered != thread_id_to_handle_.end() && registered->second == handle)
    thread_id_to_handle_.erase(registered);
}

}  // namespace base
