// Prints what OSInfo sees in this process, and what the system's unadjusted version query says, as
// "name=value" lines for windows_version_unittest.cc.
#include <windows.h>

#include <cstdio>

#include "base/win/windows_version.h"

int main() {
  const base::win::OSInfo* info = base::win::OSInfo::GetInstance();
  std::printf("version=%d\n", static_cast<int>(base::win::GetVersion()));
  std::printf("major=%u\nminor=%u\nbuild=%u\n", info->version_number().major, info->version_number().minor,
              info->version_number().build);
  std::printf("sp_major=%d\nsp_minor=%d\n", info->service_pack().major, info->service_pack().minor);
  std::printf("architecture=%d\nprocessors=%d\ngranularity=%zu\n", static_cast<int>(info->architecture()),
              info->processors(), info->allocation_granularity());

  // RtlGetVersion ignores the program's compatibility manifest: the version the system really has.
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtl_get_version = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOEXW real = {};
  real.dwOSVersionInfoSize = sizeof(real);
  if (!rtl_get_version || rtl_get_version(&real) != 0)
    return 1;
  std::printf("real_major=%lu\nreal_minor=%lu\nreal_build=%lu\n", real.dwMajorVersion, real.dwMinorVersion,
              real.dwBuildNumber);
  std::printf("real_sp_major=%u\nreal_sp_minor=%u\n", real.wServicePackMajor, real.wServicePackMinor);
  return 0;
}
