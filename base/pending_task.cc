#include "base/pending_task.h"

#include <utility>

namespace base {

PendingTask::PendingTask(const Location& posted_from, Closure task)
    : TrackingInfo(posted_from, TimeTicks()), task(std::move(task)), posted_from(posted_from) {}

PendingTask::PendingTask(const Location& posted_from, Closure task, TimeTicks delayed_run_time, bool nestable)
    : TrackingInfo(posted_from, delayed_run_time),
      task(std::move(task)),
      posted_from(posted_from),
      nestable(nestable) {}

bool PendingTask::operator<(const PendingTask& other) const {
  if (delayed_run_time < other.delayed_run_time)
    return false;
  if (delayed_run_time > other.delayed_run_time)
    return true;
  const int32_t distance =
      static_cast<int32_t>(static_cast<uint32_t>(sequence_num) - static_cast<uint32_t>(other.sequence_num));
  return distance > 0;
}

}  // namespace base
