#include "base/threading/thread_task_runner_handle.h"

#include <utility>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/threading/thread_local.h"

namespace base {
namespace {

constinit LazyInstance<ThreadLocalPointer<ThreadTaskRunnerHandle>>::Leaky g_current_handle;

}  // namespace

// static
scoped_refptr<SingleThreadTaskRunner> ThreadTaskRunnerHandle::Get() {
  ThreadTaskRunnerHandle* current = g_current_handle.Get().Get();
  CHECK(current) << "this thread has no task runner";
  return current->task_runner_;
}

// static
bool ThreadTaskRunnerHandle::IsSet() {
  return g_current_handle.Get().Get() != nullptr;
}

ThreadTaskRunnerHandle::ThreadTaskRunnerHandle(scoped_refptr<SingleThreadTaskRunner> task_runner)
    : task_runner_(std::move(task_runner)) {
  CHECK(task_runner_);
  DCHECK(task_runner_->BelongsToCurrentThread());
  CHECK(!IsSet()) << "this thread already has a task runner";
  g_current_handle.Get().Set(this);
}

ThreadTaskRunnerHandle::~ThreadTaskRunnerHandle() {
  DCHECK_EQ(g_current_handle.Get().Get(), this);
  g_current_handle.Get().Set(nullptr);
}

}  // namespace base
