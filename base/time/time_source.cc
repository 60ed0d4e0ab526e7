#include "base/time/time_source.h"

namespace base {

Time SystemTimeSource::Now() {
  return Time::Now();
}

}  // namespace base
