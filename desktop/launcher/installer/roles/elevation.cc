#include "desktop/launcher/installer/roles/elevation.h"

#include <windows.h>

#include <aclapi.h>
#include <shellapi.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/win/registry.h"
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
  const std::unique_ptr<void, LocalFreeDeleter> descriptor(raw_descriptor);
  if (error != ERROR_SUCCESS) {
    logging::Win32ErrorLogMessage(__FILE__, __LINE__, logging::LOG_ERROR, error).stream()
        << "FixEventACL: failed to GetSecurityInfo";
    return false;
  }

  // BUILTIN\Administrators, S-1-5-32-544.
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID raw_administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                0, 0, &raw_administrators)) {
    PLOG(ERROR) << "FixEventACL: failed to AllocateAndInitializeSid";
    return false;
  }
  const std::unique_ptr<void, decltype(&FreeSid)> administrators(raw_administrators, &FreeSid);

  EXPLICIT_ACCESS_W entry = {};
  entry.grfAccessPermissions = GENERIC_ALL;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = NO_INHERITANCE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(administrators.get());
  PACL raw_new_dacl = nullptr;
  if (SetEntriesInAclW(1, &entry, dacl, &raw_new_dacl) != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetEntriesInAcl";
    return false;
  }
  const std::unique_ptr<ACL, LocalFreeDeleter> new_dacl(raw_new_dacl);
  if (SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, new_dacl.get(),
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
