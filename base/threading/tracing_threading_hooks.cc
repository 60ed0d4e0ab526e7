#include "base/threading/tracing_threading_hooks.h"

#include <atomic>
#include <map>
#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/lazy_instance.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/synchronization/lock.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread.h"
#include "base/threading/thread_name_registry.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/timer/timer.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace internal {
namespace {

// The trace log names an observer by a plain function and its context; the loop wants an interface. One
// adapter per context, found again by the context when it leaves.
class DestructionObserverAdapter : public MessageLoop::DestructionObserver {
 public:
  DestructionObserverAdapter(MessageLoop* loop, void (*will_destroy)(void*), void* context)
      : loop_(loop), will_destroy_(will_destroy), context_(context) {}
  ~DestructionObserverAdapter() override = default;

  void WillDestroyCurrentMessageLoop() override;

 private:
  MessageLoop* const loop_;
  void (*const will_destroy_)(void*);
  void* const context_;
};

struct ObserverRegistry {
  Lock lock;
  std::map<void*, DestructionObserverAdapter*> adapters;  // by context
};
constinit LazyInstance<ObserverRegistry>::Leaky g_observers;

// Takes the context's adapter out of the registry; null when it has none.
DestructionObserverAdapter* TakeAdapter(void* context) {
  ObserverRegistry& registry = g_observers.Get();
  AutoLock lock(registry.lock);
  auto found = registry.adapters.find(context);
  if (found == registry.adapters.end())
    return nullptr;
  DestructionObserverAdapter* adapter = found->second;
  registry.adapters.erase(found);
  return adapter;
}

void DestructionObserverAdapter::WillDestroyCurrentMessageLoop() {
  // Told once: the adapter leaves first, so that the context, which usually leaves from inside the call (the
  // trace buffer does), finds nothing left to remove.
  if (TakeAdapter(context_) != this)
    return;
  loop_->RemoveDestructionObserver(this);
  will_destroy_(context_);
  delete this;
}

void* CurrentMessageLoop() {
  return MessageLoop::current();
}

void AddDestructionObserver(void* message_loop, void (*will_destroy)(void*), void* context) {
  auto* loop = static_cast<MessageLoop*>(message_loop);
  auto* adapter = new DestructionObserverAdapter(loop, will_destroy, context);
  {
    ObserverRegistry& registry = g_observers.Get();
    AutoLock lock(registry.lock);
    DestructionObserverAdapter*& slot = registry.adapters[context];
    CHECK(!slot) << "a context observes one message loop at a time";
    slot = adapter;
  }
  loop->AddDestructionObserver(adapter);
}

void RemoveDestructionObserver(void* message_loop, void* context) {
  std::unique_ptr<DestructionObserverAdapter> adapter(TakeAdapter(context));
  if (adapter)
    static_cast<MessageLoop*>(message_loop)->RemoveDestructionObserver(adapter.get());
}

SingleThreadTaskRunner* CurrentTaskRunner() {
  MessageLoop* loop = MessageLoop::current();
  return loop ? loop->task_runner().get() : nullptr;
}

const char* CurrentThreadName() {
  return ThreadNameRegistry::GetInstance()->GetName(PlatformThread::CurrentId());
}

constexpr trace_event::TraceLog::ThreadingHooks kTraceLogHooks = {
    &CurrentMessageLoop, &AddDestructionObserver, &RemoveDestructionObserver, &CurrentTaskRunner,
    &CurrentThreadName};

void* StartThread(const char* name) {
  auto thread = std::make_unique<Thread>(name);
  if (!thread->Start())
    return nullptr;
  return thread.release();
}

void StopThread(void* thread) {
  delete static_cast<Thread*>(thread);  // stops it and waits for it
}

// The periodic dump timer: one per process, run on the thread that started it.
struct PeriodicTimer {
  Lock lock;
  std::unique_ptr<Timer> timer;
  scoped_refptr<SingleThreadTaskRunner> task_runner;
};
constinit LazyInstance<PeriodicTimer>::Leaky g_periodic_timer;

void RunDumpTask(void (*task)()) {
  task();
}

void StopRepeatingTimer();

void StartRepeatingTimer(uint32_t period_ms, void (*task)(), const Location& location) {
  StopRepeatingTimer();
  if (!ThreadTaskRunnerHandle::IsSet()) {
    LOG(ERROR) << "No message loop on this thread to run the periodic memory dumps";
    return;
  }
  auto timer = std::make_unique<Timer>(true, true);
  timer->Start(location, TimeDelta::FromMilliseconds(period_ms), Bind(&RunDumpTask, task));
  PeriodicTimer& periodic = g_periodic_timer.Get();
  AutoLock lock(periodic.lock);
  periodic.timer = std::move(timer);
  periodic.task_runner = ThreadTaskRunnerHandle::Get();
}

void StopRepeatingTimer() {
  std::unique_ptr<Timer> timer;
  scoped_refptr<SingleThreadTaskRunner> task_runner;
  {
    PeriodicTimer& periodic = g_periodic_timer.Get();
    AutoLock lock(periodic.lock);
    timer = std::move(periodic.timer);
    task_runner = std::move(periodic.task_runner);
  }
  // A timer is stopped on its own thread; from elsewhere it goes there to be deleted.
  if (timer && !task_runner->RunsTasksOnCurrentThread())
    task_runner->DeleteSoon(FROM_HERE, timer.release());
}

constexpr trace_event::MemoryDumpManager::ThreadingHooks kMemoryDumpHooks = {&StartThread, &StopThread,
                                                                              &StartRepeatingTimer,
                                                                              &StopRepeatingTimer};

std::atomic<bool> g_installed{false};

}  // namespace

void InstallTracingThreadingHooks() {
  if (g_installed.exchange(true, std::memory_order_acq_rel))
    return;
  trace_event::TraceLog::SetThreadingHooks(&kTraceLogHooks);
  trace_event::MemoryDumpManager::SetThreadingHooks(&kMemoryDumpHooks);
}

}  // namespace internal
}  // namespace base
