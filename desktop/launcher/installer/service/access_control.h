// The installer's use of the Windows security API: whether the user is an administrator, whether the process
// may write an object, switching privileges, taking ownership, and granting the current user rights on a file,
// folder or registry key it cannot write, with a way to undo the grant.
//
// Objects are named as the named-security functions expect: file paths, or registry keys named with
// GetRegistryObjectName. Failures are reported only by the results.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_ACCESS_CONTROL_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_ACCESS_CONTROL_H_

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <string>

namespace zorvi::installer {

struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

// What a temporary grant replaced: restoring it puts the previous access list back.
struct AccessGrant {
  std::wstring object_name;
  SE_OBJECT_TYPE object_type = SE_UNKNOWN_OBJECT_TYPE;
  PACL previous_dacl = nullptr;  // inside previous_descriptor
  std::unique_ptr<void, LocalFreeDeleter> previous_descriptor;
};

// Whether the process token is in BUILTIN\Administrators. With `check_elevated`, on Vista and later, a limited
// (UAC) token is judged by its linked elevated token instead.
bool IsUserAdmin(bool check_elevated);

// Whether the process `process_id` runs as the same user account as this one; false when that cannot be told.
bool RunsAsSameUser(DWORD process_id);

// Whether the process token would be granted `desired_access` (specific rights) on the object. Only files and
// registry keys; false for other types.
bool HasWriteAccess(const std::wstring& object_name, SE_OBJECT_TYPE object_type, DWORD desired_access);

// Enables or disables the named privilege in `token`, which is closed afterwards. False when the token does not
// hold the privilege.
bool EnablePrivilege(const wchar_t* privilege_name, bool enable, HANDLE token);

// Makes BUILTIN\Administrators the object's owner, with the take-ownership privilege enabled meanwhile.
bool TakeOwnership(const std::wstring& object_name, SE_OBJECT_TYPE object_type);

// Grants the current user `access_mask` on the object, inherited by the objects and containers below it, and
// lifts the denial of those rights from entries of SIDs the process token belongs to; taking ownership when the
// access list cannot otherwise be read or written. Unless `permanent`, *grant receives what RestoreAccess needs
// (any grant it held before is released first).
bool GrantAccess(const std::wstring& object_name, SE_OBJECT_TYPE object_type, DWORD access_mask, bool permanent,
                 std::unique_ptr<AccessGrant>* grant);

// Puts the grant's previous access list back, protected from inheritance if it was; false for no grant or when
// the list cannot be written.
bool RestoreAccess(std::unique_ptr<AccessGrant> grant);

// The registry key's name for the named-security functions: "CLASSES_ROOT\", "MACHINE\", "CURRENT_USER\" or
// "USERS\" + subkey; other roots give the subkey alone.
std::wstring GetRegistryObjectName(HKEY root, const std::wstring& subkey);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_ACCESS_CONTROL_H_
