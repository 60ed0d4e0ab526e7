// Where code that wants to be tested with a fixed clock asks for the time.
#ifndef BASE_TIME_TIME_SOURCE_H_
#define BASE_TIME_TIME_SOURCE_H_

#include "base/time/time.h"

namespace base {

class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual Time Now() = 0;
};

// Time::Now.
class SystemTimeSource : public TimeSource {
 public:
  Time Now() override;
};

}  // namespace base

#endif  // BASE_TIME_TIME_SOURCE_H_
