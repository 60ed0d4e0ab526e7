// Facts about the machine, read from the cached Windows version information.
#ifndef BASE_SYS_INFO_H_
#define BASE_SYS_INFO_H_

#include <cstdint>

namespace base {

class SysInfo {
 public:
  SysInfo() = delete;

  // Logical processors.
  static int32_t NumberOfProcessors();
  // The granularity of virtual-memory reservations (and of file-mapping offsets).
  static uint64_t VMAllocationGranularity();
};

}  // namespace base

#endif  // BASE_SYS_INFO_H_
