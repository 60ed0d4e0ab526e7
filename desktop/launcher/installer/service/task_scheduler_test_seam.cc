#include "desktop/launcher/installer/service/task_scheduler_test_seam.h"

#include <atomic>

namespace zorvi::installer {

namespace {

std::atomic<TaskSchedulerFactoryHook> g_task_scheduler_factory_hook{nullptr};

}  // namespace

void SetTaskSchedulerFactoryForTesting(TaskSchedulerFactoryHook hook) {
  g_task_scheduler_factory_hook.store(hook, std::memory_order_relaxed);
}

TaskSchedulerFactoryHook GetTaskSchedulerFactoryHook() {
  return g_task_scheduler_factory_hook.load(std::memory_order_relaxed);
}

}  // namespace zorvi::installer
