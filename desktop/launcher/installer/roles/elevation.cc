#include "desktop/launcher/installer/roles/elevation.h"

#include <windows.h>

#include <aclapi.h>
#include <shellapi.h>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/win/registry.h"
#include "base/win/scoped_local_memory.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/access_control.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kSystemPoliciesKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kEnableLuaValue[] = L"EnableLUA";

}  // namespace

bool IsUACEnabled() {
  if (IsUserAdmin(true) || base::win::GetVersion() < base::win::VERSION_VISTA)
    return true;
  // Only a policy that says so turns elevation off; anything unreadable leaves it on.
  base::win::RegKey policies;
  DWORD enable_lua = 1;
  return policies.Open(HKEY_LOCAL_MACHINE, kSystemPoliciesKey, KEY_READ) != ERROR_SUCCESS ||
         policies.ReadValueDW(kEnableLuaValue, &enable_lua) != ERROR_SUCCESS || enable_lua != 0;
}

bool FixEventACL(HANDLE event) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  DWORD error = GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &raw_descriptor);
  const base::win::ScopedLocalMemory<> descriptor(raw_descriptor);
  if (error != ERROR_SUCCESS) {
    logging::Win32ErrorLogMessage(__FILE__, __LINE__, logging::LOG_ERROR, error).stream()
        << "FixEventACL: failed to GetSecurityInfo";
    return false;
  }

  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  if (!administrators.valid) {
    PLOG(ERROR) << "FixEventACL: failed to CreateWellKnownSid";
    return false;
  }
  base::win::ScopedLocalMemory<ACL> new_dacl;
  if (AddGrantToDacl(dacl, administrators.sid(), GENERIC_ALL, NO_INHERITANCE, &new_dacl) != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetEntriesInAcl";
    return false;
  }
  if (SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, new_dacl.Get(),
                      nullptr) != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetSecurityInfo";
    return false;
  }
  return true;
}

base::win::ScopedHandle ShellExecuteElevated(const base::FilePath& program, const std::wstring& parameters) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"runas";
  info.lpFile = program.value().c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  if (!ShellExecuteExW(&info))
    return base::win::ScopedHandle();
  return base::win::ScopedHandle(info.hProcess);
}

base::win::ScopedHandle LaunchElevated(const base::FilePath& program, const std::wstring& parameters) {
  if (const ElevatedLaunchHook hook = GetElevatedLaunchHook())
    return base::win::ScopedHandle(hook(program, parameters));
  return ShellExecuteElevated(program, parameters);
}

}  // namespace zorvi::installer
