// A task runner that accepts no task. A preference store made on it reads its file synchronously and never
// writes anything: the way to look into another installation's preferences without a writer thread.
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_NULL_TASK_RUNNER_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_NULL_TASK_RUNNER_H_

#include "base/sequenced_task_runner.h"

namespace zorvi::installer {

class NullTaskRunner : public base::SequencedTaskRunner {
 public:
  NullTaskRunner();

  // Each refuses the task (false).
  bool PostDelayedTask(const base::Location& from_here, base::Closure task, base::TimeDelta delay) override;
  bool PostNonNestableDelayedTask(const base::Location& from_here, base::Closure task,
                                  base::TimeDelta delay) override;
  // No task ever runs anywhere.
  bool RunsTasksOnCurrentThread() const override;

 private:
  ~NullTaskRunner() override;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_NULL_TASK_RUNNER_H_
