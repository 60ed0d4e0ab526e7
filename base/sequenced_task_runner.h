// A TaskRunner whose tasks run one at a time, in posting order (among tasks due at the same time), and may
// be marked non-nestable: such a task never runs inside a nested run loop.
#ifndef BASE_SEQUENCED_TASK_RUNNER_H_
#define BASE_SEQUENCED_TASK_RUNNER_H_

#include "base/task_runner.h"

namespace base {

class SequencedTaskRunner : public TaskRunner {
 public:
  virtual bool PostNonNestableDelayedTask(const Location& from_here, Closure task, TimeDelta delay) = 0;

  bool PostNonNestableTask(const Location& from_here, Closure task);

  // Deletes `object` in a non-nestable task of this runner. False when the runner refuses it; the object is
  // then not deleted (it may only be deleted on this runner).
  template <typename T>
  bool DeleteSoon(const Location& from_here, const T* object) {
    return DeleteSoonInternal(from_here, &DeleteObject<T>, object);
  }

 protected:
  ~SequencedTaskRunner() override = default;

 private:
  template <typename T>
  static void DeleteObject(const void* object) {
    delete static_cast<const T*>(object);
  }

  bool DeleteSoonInternal(const Location& from_here, void (*deleter)(const void*), const void* object);
};

}  // namespace base

#endif  // BASE_SEQUENCED_TASK_RUNNER_H_
