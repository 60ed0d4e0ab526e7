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

#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_local_memory.h"

namespace zorvi::installer {

// A well-known SID (BUILTIN\Administrators, Authenticated Users, ...), kept in place; `valid` is false when the
// system could not make it.
struct WellKnownSid {
  explicit WellKnownSid(WELL_KNOWN_SID_TYPE type);
  PSID sid() { return storage; }

  alignas(SID) BYTE storage[SECURITY_MAX_SID_SIZE];
  bool valid;
};

// Makes *granted: `dacl` (null: an empty list) with one more entry allowing `access_mask` to `sid`, passed on to
// the objects below as `inheritance` says (NO_INHERITANCE, SUB_CONTAINERS_AND_OBJECTS_INHERIT, ...). An entry of
// the same SID and inheritance already in the list takes the rights in. Returns the system's error code.
DWORD AddGrantToDacl(PACL dacl,
                     PSID sid,
                     DWORD access_mask,
                     DWORD inheritance,
                     base::win::ScopedLocalMemory<ACL>* granted);

// What a temporary grant replaced: restoring it puts the previous access list back, and the previous owner
// when the grant had to take ownership.
struct AccessGrant {
  std::wstring object_name;
  SE_OBJECT_TYPE object_type = SE_UNKNOWN_OBJECT_TYPE;
  PACL previous_dacl = nullptr;  // inside previous_descriptor
  base::win::ScopedLocalMemory<> previous_descriptor;
  PSID previous_owner = nullptr;  // inside previous_owner_descriptor; null when the owner was kept
  base::win::ScopedLocalMemory<> previous_owner_descriptor;
};

// Whether the process token is in BUILTIN\Administrators. With `check_elevated`, on Vista and later, a limited
// (UAC) token is judged by its linked elevated token instead.
bool IsUserAdmin(bool check_elevated);

// Whether the process `process_id` runs as the same user account as this one; false when that cannot be told.
bool RunsAsSameUser(DWORD process_id);

// The user SID of the token of `process` (opened with PROCESS_QUERY_LIMITED_INFORMATION); empty when it cannot be
// read.
std::vector<BYTE> ProcessUserSid(HANDLE process);

// The SID of the account named `account` (a bare name or "DOMAIN\name"); empty when the system knows none.
std::vector<BYTE> AccountSid(const std::wstring& account);

// Whether `name` is the name of the account `sid`, bare or as "DOMAIN\name", letter case aside. A bare name may also
// be another account's (a local account named like a domain user), so it is compared with the SID's own name rather
// than looked up.
bool NamesAccount(const std::wstring& name, const std::vector<BYTE>& sid);

// Whose rights made the kernel object `object` (opened with READ_CONTROL), as its owner tells: this process's when
// the owner is this process token's user or default owner, Local System or BUILTIN\Administrators. A process may
// make only itself, or a group its token allows, the owner of an object it creates, so nothing a standard user makes
// passes in an administrator's process. Unreadable also when the object has no owner, which wine leaves on one made
// without a descriptor (Windows always gives one).
enum class OwnerRights { kThisProcess, kAnotherAccount, kUnreadable };
OwnerRights OwnerRightsOf(HANDLE object);

// *descriptor receives a descriptor naming only this process token's default owner. An object created with it gets
// the owner and default access list Windows gives one created without a descriptor; under wine, which gives that one
// no owner, it gets an owner that OwnerRightsOf can read. False when the token cannot be read.
bool MakeOwnOwnerDescriptor(base::win::ScopedLocalMemory<>* descriptor);

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
// access list cannot otherwise be read or written (the owner before is read first, through backup rights when
// the list keeps it from the process). Unless `permanent`, *grant receives what RestoreAccess needs (any grant it
// held before is released first).
bool GrantAccess(const std::wstring& object_name, SE_OBJECT_TYPE object_type, DWORD access_mask, bool permanent,
                 std::unique_ptr<AccessGrant>* grant);

// Puts the grant's previous access list back, protected from inheritance if it was, and then its previous owner
// (with the restore privilege, which an owner other than the process's own needs); false for no grant or when
// either cannot be written.
bool RestoreAccess(std::unique_ptr<AccessGrant> grant);

// Full access to a folder tree for an account, given and taken back without following any link. The system's own
// propagation of an inherited entry offers no way to leave links out; here each object is set by itself: links
// (reparse points) are left alone and not entered, as are files with other names elsewhere (hard links) and
// objects whose list is protected from inheritance (nothing flows past them). Every list changed is recorded by
// the object's identity, and the undoing puts back exactly those lists.
class FolderTreeGrant {
 public:
  FolderTreeGrant();
  FolderTreeGrant(const FolderTreeGrant&) = delete;
  FolderTreeGrant& operator=(const FolderTreeGrant&) = delete;
  ~FolderTreeGrant();

  // Gives `account` (a SID, as AccountSid gives it) full access to `folder`, inherited by what is below it, and the
  // same inherited entry to every object below it that inherits. A folder that is a link or has one on its path is
  // refused. False, with *problem, when the folder got no grant or `account` is no SID; a folder whose list passes
  // full access on to the account already needs none, and nothing changes.
  bool Grant(const base::FilePath& folder, const std::vector<BYTE>& account, std::string* problem);

  // Puts back the recorded list and owner of every object the grant changed that is still in the tree. Whatever
  // was made in the tree since becomes BUILTIN\Administrators' with only the entries its folder passes on, so that
  // nothing made or protected during the grant keeps the account's access. Nothing changes when the folder's path
  // now leads through a link or the folder is another one. False, with *problem, when an object could not be put
  // back.
  bool Undo(std::string* problem);

 private:
  using Identity = std::tuple<DWORD, DWORD, DWORD>;  // volume serial number, file index high and low

  void GrantBelow(const base::FilePath& folder);
  void UndoBelow(const base::FilePath& folder, PACL folder_dacl, std::string* problem);

  base::FilePath folder_;
  std::vector<BYTE> account_;  // the account's SID
  Identity root_;
  std::map<Identity, std::vector<BYTE>> previous_;  // each changed object's self-relative descriptor before
  std::set<Identity> existing_;                      // every object of the tree at the grant
};

// The registry key's name for the named-security functions: "CLASSES_ROOT\", "MACHINE\", "CURRENT_USER\" or
// "USERS\" + subkey; other roots give the subkey alone.
std::wstring GetRegistryObjectName(HKEY root, const std::wstring& subkey);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_ACCESS_CONTROL_H_
