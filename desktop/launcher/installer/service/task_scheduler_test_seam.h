// The task scheduler's test seam, a seam as desktop/common/product/test_seams.h describes them: only test code
// sets it; the product only reads it where it makes its scheduler.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_TEST_SEAM_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_TEST_SEAM_H_

namespace zorvi::installer {

class TaskScheduler;

// Makes the scheduler CreateTaskScheduler returns in place of the system's (whose 2.0 interfaces wine implements
// only in part), e.g. a recorder of the calls (testing/installer/recording_task_scheduler.h). Null, the default,
// keeps the system's.
using TaskSchedulerFactoryHook = TaskScheduler* (*)();
void SetTaskSchedulerFactoryForTesting(TaskSchedulerFactoryHook hook);
TaskSchedulerFactoryHook GetTaskSchedulerFactoryHook();

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TASK_SCHEDULER_TEST_SEAM_H_
