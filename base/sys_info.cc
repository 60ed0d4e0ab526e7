#include "base/sys_info.h"

#include "base/win/windows_version.h"

namespace base {

// static
int32_t SysInfo::NumberOfProcessors() {
  return win::OSInfo::GetInstance()->processors();
}

// static
uint64_t SysInfo::VMAllocationGranularity() {
  return win::OSInfo::GetInstance()->allocation_granularity();
}

}  // namespace base
