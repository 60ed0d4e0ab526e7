#include "base/sequenced_task_runner.h"

#include <utility>

#include "base/bind.h"

namespace base {

bool SequencedTaskRunner::PostNonNestableTask(const Location& from_here, Closure task) {
  return PostNonNestableDelayedTask(from_here, std::move(task), TimeDelta());
}

bool SequencedTaskRunner::DeleteSoonInternal(const Location& from_here, void (*deleter)(const void*),
                                             const void* object) {
  return PostNonNestableDelayedTask(from_here, Bind(deleter, object), TimeDelta());
}

}  // namespace base
