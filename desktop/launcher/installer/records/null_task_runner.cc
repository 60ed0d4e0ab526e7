#include "desktop/launcher/installer/records/null_task_runner.h"

namespace zorvi::installer {

NullTaskRunner::NullTaskRunner() = default;

NullTaskRunner::~NullTaskRunner() = default;

bool NullTaskRunner::PostDelayedTask(const base::Location&, base::Closure, base::TimeDelta) {
  return false;
}

bool NullTaskRunner::PostNonNestableDelayedTask(const base::Location&, base::Closure, base::TimeDelta) {
  return false;
}

bool NullTaskRunner::RunsTasksOnCurrentThread() const {
  return false;
}

}  // namespace zorvi::installer
