#include "base/tracking_info.h"

namespace base {

TrackingInfo::TrackingInfo(const Location& posted_from, TimeTicks delayed_run_time)
    : birth_tally(ThreadData::TallyABirthIfActive(posted_from)),
      time_posted(ThreadData::Now()),
      delayed_run_time(delayed_run_time) {}

TrackedTime TrackingInfo::EffectivePostTime() const {
  return delayed_run_time.is_null() ? time_posted : TrackedTime(delayed_run_time);
}

}  // namespace base
