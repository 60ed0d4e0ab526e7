// A task waiting in a queue: the closure, where it was posted, when it is due, and its place in posting
// order, together with what the task profiler keeps about it.
#ifndef BASE_PENDING_TASK_H_
#define BASE_PENDING_TASK_H_

#include <cstdint>
#include <queue>
#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/time/time.h"
#include "base/tracking_info.h"

namespace base {

struct PendingTask : public TrackingInfo {
  // Due at once, nestable, not high-resolution, sequence number 0.
  PendingTask(const Location& posted_from, Closure task);
  PendingTask(const Location& posted_from, Closure task, TimeTicks delayed_run_time, bool nestable);
  PendingTask(const PendingTask& other) = default;
  PendingTask(PendingTask&& other) noexcept = default;
  PendingTask& operator=(const PendingTask& other) = default;
  PendingTask& operator=(PendingTask&& other) noexcept = default;
  ~PendingTask() = default;

  // True when this task is less urgent than `other`: it is due later or, due at the same time, was posted
  // after it. Posting order is read from the signed 32-bit difference of the sequence numbers, so it stays
  // right when the counter wraps from 2147483647 to -2147483648. A std::priority_queue of PendingTask thus
  // has the most urgent task on top.
  bool operator<(const PendingTask& other) const;

  Closure task;
  Location posted_from;
  int32_t sequence_num = 0;
  // May run inside a nested run loop.
  bool nestable = true;
  // Posted with a delay short enough to need the high-resolution timer.
  bool is_high_res = false;
};

using TaskQueue = std::queue<PendingTask>;
// Most urgent task on top.
using DelayedTaskQueue = std::priority_queue<PendingTask>;

}  // namespace base

#endif  // BASE_PENDING_TASK_H_
