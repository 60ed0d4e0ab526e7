// Measures the time since it was made, on the monotonic clock.
#ifndef BASE_TIMER_ELAPSED_TIMER_H_
#define BASE_TIMER_ELAPSED_TIMER_H_

#include "base/time/time.h"

namespace base {

class ElapsedTimer {
 public:
  ElapsedTimer() : begin_(TimeTicks::Now()) {}
  ElapsedTimer(const ElapsedTimer&) = delete;
  ElapsedTimer& operator=(const ElapsedTimer&) = delete;

  TimeDelta Elapsed() const { return TimeTicks::Now() - begin_; }

 private:
  const TimeTicks begin_;
};

}  // namespace base

#endif  // BASE_TIMER_ELAPSED_TIMER_H_
