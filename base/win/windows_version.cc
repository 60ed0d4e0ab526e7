#include "base/win/windows_version.h"

#include <windows.h>

#include <atomic>

namespace base {
namespace win {
namespace {

std::atomic<OSInfo*> g_os_info{nullptr};

}  // namespace

WindowsVersion MajorMinorBuildToVersion(uint32_t major, uint32_t minor, uint32_t build) {
  if (major < 5)
    return VERSION_PRE_XP;
  if (major == 5) {
    if (minor == 0)
      return VERSION_PRE_XP;
    return minor == 1 ? VERSION_XP : VERSION_SERVER_2003;
  }
  if (major == 6) {
    switch (minor) {
      case 0:
        return VERSION_VISTA;
      case 1:
        return VERSION_WIN7;
      case 2:
        return VERSION_WIN8;
      default:
        return VERSION_WIN8_1;
    }
  }
  if (major == 10)
    return build < 10586 ? VERSION_WIN10 : VERSION_WIN10_TH2;
  return VERSION_WIN_LAST;
}

OSInfo::OSInfo()
    : version_(VERSION_PRE_XP),
      version_number_{0, 0, 0},
      service_pack_{0, 0},
      architecture_(OTHER_ARCHITECTURE),
      processors_(0),
      allocation_granularity_(0) {
  OSVERSIONINFOEXW version_info = {};
  version_info.dwOSVersionInfoSize = sizeof(version_info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  // The version the system reports to this program: 6.2 for programs not manifested for Windows 10.
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version_info));
#pragma GCC diagnostic pop
  version_number_ = {version_info.dwMajorVersion, version_info.dwMinorVersion, version_info.dwBuildNumber};
  version_ = MajorMinorBuildToVersion(version_number_.major, version_number_.minor, version_number_.build);
  service_pack_ = {version_info.wServicePackMajor, version_info.wServicePackMinor};

  SYSTEM_INFO system_info = {};
  ::GetNativeSystemInfo(&system_info);
  switch (system_info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      architecture_ = X86_ARCHITECTURE;
      break;
    case PROCESSOR_ARCHITECTURE_AMD64:
      architecture_ = X64_ARCHITECTURE;
      break;
    case PROCESSOR_ARCHITECTURE_IA64:
      architecture_ = IA64_ARCHITECTURE;
      break;
    default:
      architecture_ = OTHER_ARCHITECTURE;
      break;
  }
  processors_ = static_cast<int>(system_info.dwNumberOfProcessors);
  allocation_granularity_ = system_info.dwAllocationGranularity;
}

// static
OSInfo* OSInfo::GetInstance() {
  OSInfo* info = g_os_info.load(std::memory_order_acquire);
  if (info)
    return info;
  OSInfo* built = new OSInfo();
  if (g_os_info.compare_exchange_strong(info, built, std::memory_order_acq_rel, std::memory_order_acquire))
    return built;
  delete built;  // another thread published first: use its record
  return info;
}

WindowsVersion GetVersion() {
  return OSInfo::GetInstance()->version();
}

}  // namespace win
}  // namespace base
