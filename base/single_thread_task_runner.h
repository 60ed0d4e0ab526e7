// A SequencedTaskRunner whose tasks all run on one thread.
#ifndef BASE_SINGLE_THREAD_TASK_RUNNER_H_
#define BASE_SINGLE_THREAD_TASK_RUNNER_H_

#include "base/sequenced_task_runner.h"

namespace base {

class SingleThreadTaskRunner : public SequencedTaskRunner {
 public:
  bool BelongsToCurrentThread() const { return RunsTasksOnCurrentThread(); }

 protected:
  ~SingleThreadTaskRunner() override = default;
};

}  // namespace base

#endif  // BASE_SINGLE_THREAD_TASK_RUNNER_H_
