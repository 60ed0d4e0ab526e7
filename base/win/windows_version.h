// The Windows version as an ordered enumeration, with the raw version numbers and a few facts about the
// machine, read once per process.
#ifndef BASE_WIN_WINDOWS_VERSION_H_
#define BASE_WIN_WINDOWS_VERSION_H_

#include <cstddef>
#include <cstdint>

namespace base {
namespace win {

// Ordered: code compares versions with < and >=.
enum WindowsVersion {
  VERSION_PRE_XP = 0,        // 5.0 and anything older
  VERSION_XP = 1,            // 5.1
  VERSION_SERVER_2003 = 2,   // 5.2 (also XP x64) and higher minors of 5
  VERSION_VISTA = 3,         // 6.0
  VERSION_WIN7 = 4,          // 6.1
  VERSION_WIN8 = 5,          // 6.2
  VERSION_WIN8_1 = 6,        // 6.3 and higher minors of 6
  VERSION_WIN10 = 7,         // 10.x before build 10586
  VERSION_WIN10_TH2 = 8,     // 10.x build 10586 or later
  VERSION_WIN_LAST = 9,      // anything newer: 7, 8, 9 and above 10
};

// The version that the numbers of the system's version query stand for.
WindowsVersion MajorMinorBuildToVersion(uint32_t major, uint32_t minor, uint32_t build);

class OSInfo {
 public:
  struct VersionNumber {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
  };

  struct ServicePack {
    int major;
    int minor;
  };

  enum WindowsArchitecture {
    X86_ARCHITECTURE = 0,
    X64_ARCHITECTURE = 1,
    IA64_ARCHITECTURE = 2,
    OTHER_ARCHITECTURE = 3,
  };

  // The process-wide record, made on first use. Concurrent first callers may each build one; one of them is
  // published and the others are freed.
  static OSInfo* GetInstance();

  OSInfo(const OSInfo&) = delete;
  OSInfo& operator=(const OSInfo&) = delete;

  WindowsVersion version() const { return version_; }
  VersionNumber version_number() const { return version_number_; }
  ServicePack service_pack() const { return service_pack_; }
  WindowsArchitecture architecture() const { return architecture_; }
  int processors() const { return processors_; }
  size_t allocation_granularity() const { return allocation_granularity_; }

 private:
  OSInfo();

  WindowsVersion version_;
  VersionNumber version_number_;
  ServicePack service_pack_;
  WindowsArchitecture architecture_;
  int processors_;
  size_t allocation_granularity_;
};

// OSInfo::GetInstance()->version().
WindowsVersion GetVersion();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WINDOWS_VERSION_H_
