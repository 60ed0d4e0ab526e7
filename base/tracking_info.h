// What the task profiler keeps with a posted task: where it was counted as born, when it was posted, and
// when it is due.
#ifndef BASE_TRACKING_INFO_H_
#define BASE_TRACKING_INFO_H_

#include "base/location.h"
#include "base/profiler/task_profiler.h"
#include "base/time/time.h"

namespace base {

struct TrackingInfo {
  // Nothing counted: no birth, no posting time, no due time.
  TrackingInfo() = default;
  // Counts a birth at `posted_from` on the calling thread and stamps the posting time (both stay null while
  // profiling is off).
  TrackingInfo(const Location& posted_from, TimeTicks delayed_run_time);

  // When the task began to wait in the queue: the posting time, or for a delayed task the time it was due.
  TrackedTime EffectivePostTime() const;

  // The birth record of the posting location; null when profiling is off.
  Births* birth_tally = nullptr;
  TrackedTime time_posted;
  // Null for a task that is due at once.
  TimeTicks delayed_run_time;
};

}  // namespace base

#endif  // BASE_TRACKING_INFO_H_
