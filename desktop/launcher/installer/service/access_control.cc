#include "desktop/launcher/installer/service/access_control.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kTakeOwnershipPrivilege[] = L"SeTakeOwnershipPrivilege";
constexpr wchar_t kBackupPrivilege[] = L"SeBackupPrivilege";
constexpr wchar_t kRestorePrivilege[] = L"SeRestorePrivilege";
// AccessCheck is given room for the privileges it used; it fails if they do not fit.
constexpr DWORD kPrivilegeSetBufferSize = 20;

bool OpenProcessToken(DWORD access, base::win::ScopedHandle* token) {
  HANDLE handle = nullptr;
  if (!::OpenProcessToken(GetCurrentProcess(), access, &handle))
    return false;
  token->Set(handle);
  return true;
}

// An impersonation-level copy of the token, as membership and access checks need.
bool DuplicateForIdentification(HANDLE token, base::win::ScopedHandle* duplicate) {
  HANDLE handle = nullptr;
  if (!DuplicateToken(token, SecurityIdentification, &handle))
    return false;
  duplicate->Set(handle);
  return true;
}

// The token facts that IsUserAdmin reads, as the account chosen by the test seam would have them.
TOKEN_ELEVATION_TYPE SeamElevationType(AdminTokenSeam seam) {
  return seam == AdminTokenSeam::kSplitAdministrator ? TokenElevationTypeLimited : TokenElevationTypeDefault;
}

bool SeamIsAdministrator(AdminTokenSeam seam, bool linked_token) {
  return seam == AdminTokenSeam::kSplitAdministrator && linked_token;
}

// The object's DACL (inside *descriptor); the system's error code on failure.
DWORD ReadDacl(const std::wstring& object_name, SE_OBJECT_TYPE object_type, PACL* dacl,
               base::win::ScopedLocalMemory<>* descriptor) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  const DWORD error = GetNamedSecurityInfoW(object_name.c_str(), object_type, DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, dacl, nullptr, &raw);
  descriptor->Set(raw);
  return error;
}

DWORD WriteDacl(const std::wstring& object_name, SE_OBJECT_TYPE object_type, PACL dacl) {
  return SetNamedSecurityInfoW(const_cast<wchar_t*>(object_name.c_str()), object_type, DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, dacl, nullptr);
}

bool IsProcessTokenMember(PSID sid) {
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, sid, &member) && member;
}

// The root and subkey of a registry object name made by GetRegistryObjectName.
bool SplitRegistryObjectName(const std::wstring& name, HKEY* root, std::wstring* subkey) {
  static const struct {
    const wchar_t* prefix;
    HKEY root;
  } kRoots[] = {{L"CLASSES_ROOT\\", HKEY_CLASSES_ROOT},
                {L"MACHINE\\", HKEY_LOCAL_MACHINE},
                {L"CURRENT_USER\\", HKEY_CURRENT_USER},
                {L"USERS\\", HKEY_USERS}};
  for (const auto& known : kRoots) {
    const size_t length = wcslen(known.prefix);
    if (name.compare(0, length, known.prefix) == 0) {
      *root = known.root;
      *subkey = name.substr(length);
      return true;
    }
  }
  return false;
}

// Whether the object's access list is protected from inheritance now.
bool IsDaclProtected(const AccessGrant& grant) {
  base::win::ScopedLocalMemory<> descriptor;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(grant.object_name.c_str(), grant.object_type, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, descriptor.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  return GetSecurityDescriptorControl(descriptor.Get(), &control, &revision) && (control & SE_DACL_PROTECTED);
}

// The user SID (TokenUser) or default owner SID (TokenOwner) of `token`, as bytes; empty when it cannot be read.
std::vector<BYTE> TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size))
    return {};
  const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                     : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
  const BYTE* const bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

// `process`'s token opened for reading; invalid when it cannot be.
base::win::ScopedHandle QueryTokenOf(HANDLE process) {
  HANDLE raw_token = nullptr;
  return base::win::ScopedHandle(::OpenProcessToken(process, TOKEN_QUERY, &raw_token) ? raw_token : nullptr);
}

std::vector<BYTE> TokenUserOf(HANDLE process) {
  const base::win::ScopedHandle token = QueryTokenOf(process);
  return token.IsValid() ? TokenSid(token.Get(), TokenUser) : std::vector<BYTE>();
}

// The access-list bits of a descriptor's control that its list carries with it.
constexpr SECURITY_DESCRIPTOR_CONTROL kDaclControl = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
constexpr BYTE kContainerInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// An object of a granted tree, opened for its access list: a link is opened as itself where the system allows.
// A folder is held without delete sharing while the walk is inside it, so that it cannot be replaced by a link.
base::win::ScopedHandle OpenForAccessList(const base::FilePath& path, bool hold) {
  return base::win::ScopedHandle(CreateFileW(path.value().c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | (hold ? 0 : FILE_SHARE_DELETE),
                                             nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// An object's access list as read through its handle.
struct AccessList {
  base::win::ScopedLocalMemory<> descriptor;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
};

bool ReadAccessList(HANDLE object, AccessList* list) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  // The owner comes along, so that a recorded descriptor can put it back.
  const DWORD error = GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &list->dacl, nullptr, &raw);
  list->descriptor.Set(raw);
  DWORD revision = 0;
  return error == ERROR_SUCCESS && GetSecurityDescriptorControl(raw, &list->control, &revision);
}

std::vector<BYTE> DescriptorBytes(const AccessList& list) {
  const BYTE* const bytes = static_cast<const BYTE*>(list.descriptor.Get());
  return std::vector<BYTE>(bytes, bytes + GetSecurityDescriptorLength(list.descriptor.Get()));
}

// Writes `dacl` onto the object alone, with the protection and inheritance bits of `control`. The named and
// handle calls of the security library would carry the list's inheritable entries down the tree themselves.
bool WriteObjectDacl(HANDLE object, PACL dacl, SECURITY_DESCRIPTOR_CONTROL control) {
  SECURITY_DESCRIPTOR descriptor;
  return InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) &&
         SetSecurityDescriptorControl(&descriptor, kDaclControl, control & kDaclControl) &&
         SetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, &descriptor);
}

// Whether the entry allows `sid` full access and passes it on to files and folders alike.
bool PassesFullAccessOn(const ACE_HEADER* header, PSID sid) {
  if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & kContainerInheritance) != kContainerInheritance)
    return false;
  const auto* entry = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
  return ((entry->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS || (entry->Mask & GENERIC_ALL)) &&
         EqualSid(const_cast<DWORD*>(&entry->SidStart), sid);
}

bool ListPassesFullAccessOn(PACL dacl, PSID sid) {
  if (!dacl)
    return true;  // no list at all allows everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (GetAce(dacl, i, &entry) && PassesFullAccessOn(static_cast<ACE_HEADER*>(entry), sid))
      return true;
  }
  return false;
}

// The entry an object below the granted folder inherits from it, as the system gives it to one made there.
BYTE InheritedGrantFlags(bool is_folder) {
  return INHERITED_ACE | (is_folder ? kContainerInheritance : 0);
}

// A copy of `dacl` with room for `extra` more bytes of entries.
std::vector<BYTE> CopyAcl(PACL dacl, DWORD extra) {
  ACL_SIZE_INFORMATION size = {};
  GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation);
  std::vector<BYTE> copy(size.AclBytesInUse + extra);
  PACL acl = reinterpret_cast<PACL>(copy.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(copy.size()), dacl->AclRevision))
    return {};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry) ||
        !AddAce(acl, dacl->AclRevision, MAXDWORD, entry, static_cast<ACE_HEADER*>(entry)->AceSize)) {
      return {};
    }
  }
  return copy;
}

// The object's identity: volume serial number and file index.
std::tuple<DWORD, DWORD, DWORD> IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

// An entry of a granted tree, opened for its access list, with its identity and list.
struct TreeEntry {
  base::FilePath path;
  bool is_folder = false;
  base::win::ScopedHandle object;
  BY_HANDLE_FILE_INFORMATION information = {};
  AccessList list;
};

// Calls `visit` for each entry in `folder` but what the walk leaves alone: a link, a file that other names share,
// anything that cannot be opened or read. A folder stays held while it is visited, so `visit` may walk it.
void ForEachTreeEntry(const base::FilePath& folder, const std::function<void(TreeEntry*)>& visit) {
  base::FileEnumerator entries(folder, false, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next()) {
    const DWORD attributes = entries.GetInfo().find_data().dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
      continue;
    TreeEntry entry;
    entry.path = path;
    entry.is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.object = OpenForAccessList(path, entry.is_folder);
    if (entry.object.IsValid() && GetFileInformationByHandle(entry.object.Get(), &entry.information) &&
        !(entry.information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (entry.is_folder || entry.information.nNumberOfLinks <= 1) && ReadAccessList(entry.object.Get(), &entry.list)) {
      visit(&entry);
    }
  }
}

// The entries an object made in a folder with `folder_dacl` takes from it, as the system gives them: those passed
// on to its kind, marked inherited, and passed further down only to a folder and unless the entry says not to.
std::vector<BYTE> InheritedEntries(PACL folder_dacl, bool is_folder) {
  std::vector<BYTE> dacl(sizeof(ACL) + (folder_dacl ? folder_dacl->AclSize : 0));
  PACL acl = reinterpret_cast<PACL>(dacl.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(dacl.size()), ACL_REVISION))
    return {};
  for (DWORD i = 0; folder_dacl && i < folder_dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(folder_dacl, i, &raw))
      return {};
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    const BYTE flags = header->AceFlags;
    const bool to_files = flags & OBJECT_INHERIT_ACE;
    const bool to_folders = flags & CONTAINER_INHERIT_ACE;
    const bool no_propagation = flags & NO_PROPAGATE_INHERIT_ACE;
    BYTE inherited = INHERITED_ACE;
    if (is_folder && to_folders) {
      inherited |= no_propagation ? 0 : (flags & kContainerInheritance);
    } else if (is_folder && to_files && !no_propagation) {
      inherited |= OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;  // for the files below only
    } else if (is_folder || !to_files) {
      continue;
    }
    std::vector<BYTE> copy(static_cast<const BYTE*>(raw), static_cast<const BYTE*>(raw) + header->AceSize);
    reinterpret_cast<ACE_HEADER*>(copy.data())->AceFlags = inherited;
    if (!AddAce(acl, ACL_REVISION, MAXDWORD, copy.data(), header->AceSize))
      return {};
  }
  return dacl;
}

// Makes `owner` the owner of the object open as `object`, through a handle opened anew for it (with `more_access`
// too), which it returns; invalid when the owner cannot be written.
base::win::ScopedHandle WriteOwner(HANDLE object, PSID owner, DWORD more_access) {
  base::win::ScopedHandle owner_handle(ReOpenFile(object, WRITE_OWNER | READ_CONTROL | more_access,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  SECURITY_DESCRIPTOR descriptor;
  if (!owner_handle.IsValid() || !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&descriptor, owner, FALSE) ||
      !SetKernelObjectSecurity(owner_handle.Get(), OWNER_SECURITY_INFORMATION, &descriptor)) {
    return base::win::ScopedHandle();
  }
  return owner_handle;
}

// Makes BUILTIN\Administrators the owner of the object open as `object` and gives it only the entries its folder
// passes on. The handle is opened anew for the owner, which the administrators may always take.
bool MakeAdministratorsInherit(HANDLE object, PACL folder_dacl, bool is_folder) {
  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  std::vector<BYTE> dacl = InheritedEntries(folder_dacl, is_folder);
  if (!administrators.valid || dacl.empty())
    return false;
  const base::win::ScopedHandle owner_handle = WriteOwner(object, administrators.sid(), WRITE_DAC);
  return owner_handle.IsValid() &&
         WriteObjectDacl(owner_handle.Get(), reinterpret_cast<PACL>(dacl.data()), SE_DACL_AUTO_INHERITED);
}

// Writes the owner of a descriptor recorded by DescriptorBytes back onto the object open as `object`.
bool WriteRecordedOwner(HANDLE object, const std::vector<BYTE>& recorded) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(const_cast<BYTE*>(recorded.data()), &owner, &defaulted) || !owner)
    return true;  // none was recorded
  return WriteOwner(object, owner, 0).IsValid();
}

// Enables a privilege of the process token for the holder's lifetime, when the token has it.
class ScopedPrivilege {
 public:
  explicit ScopedPrivilege(const wchar_t* name) : name_(name), enabled_(Adjust(true)) {}
  ScopedPrivilege(const ScopedPrivilege&) = delete;
  ScopedPrivilege& operator=(const ScopedPrivilege&) = delete;
  ~ScopedPrivilege() {
    if (enabled_)
      Adjust(false);
  }

  bool enabled() const { return enabled_; }

 private:
  bool Adjust(bool enable) const {
    base::win::ScopedHandle token;
    return OpenProcessToken(TOKEN_ADJUST_PRIVILEGES, &token) && EnablePrivilege(name_, enable, token.Take());
  }

  const wchar_t* name_;
  bool enabled_ = false;
};

// The object's owner (inside *descriptor). An access list that keeps even reading it from the process is passed
// by the backup privilege, which an administrator holds: the object is then opened for backing up.
bool ReadOwner(const std::wstring& object_name, SE_OBJECT_TYPE object_type, PSID* owner,
               base::win::ScopedLocalMemory<>* descriptor) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetNamedSecurityInfoW(object_name.c_str(), object_type, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                            nullptr, &raw) == ERROR_SUCCESS) {
    descriptor->Set(raw);
    return true;
  }
  const ScopedPrivilege backup(kBackupPrivilege);
  DWORD error = ERROR_ACCESS_DENIED;
  if (object_type == SE_FILE_OBJECT) {
    const base::win::ScopedHandle file(CreateFileW(object_name.c_str(), READ_CONTROL,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.IsValid())
      error = GetSecurityInfo(file.Get(), object_type, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr,
                              &raw);
  } else if (object_type == SE_REGISTRY_KEY) {
    HKEY root = nullptr;
    std::wstring subkey;
    base::win::RegKey key;
    if (SplitRegistryObjectName(object_name, &root, &subkey) &&
        key.Create(root, subkey.c_str(), READ_CONTROL, REG_OPTION_BACKUP_RESTORE) == ERROR_SUCCESS) {
      error = GetSecurityInfo(key.Handle(), object_type, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                              nullptr, &raw);
    }
  }
  descriptor->Set(raw);
  return error == ERROR_SUCCESS;
}

// Takes ownership of the object for a grant, keeping the owner before in `restore` (when given and readable).
bool TakeOwnershipFor(const std::wstring& object_name, SE_OBJECT_TYPE object_type, AccessGrant* restore) {
  if (restore && !restore->previous_owner_descriptor.IsValid()) {
    base::win::ScopedLocalMemory<> descriptor;
    PSID owner = nullptr;
    if (ReadOwner(object_name, object_type, &owner, &descriptor)) {
      restore->previous_owner = owner;
      restore->previous_owner_descriptor = std::move(descriptor);
    }
  }
  return TakeOwnership(object_name, object_type);
}

// Gives the object back to the owner that TakeOwnershipFor kept. The access list may not let the process change
// the owner, and an owner other than the process's own needs the restore privilege: both privileges, which an
// administrator who took ownership holds, pass that.
bool RestoreOwner(const std::wstring& object_name, SE_OBJECT_TYPE object_type, const AccessGrant& kept) {
  const ScopedPrivilege take_ownership(kTakeOwnershipPrivilege);
  const ScopedPrivilege restore(kRestorePrivilege);
  return SetNamedSecurityInfoW(const_cast<wchar_t*>(object_name.c_str()), object_type, OWNER_SECURITY_INFORMATION,
                               kept.previous_owner, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

}  // namespace

bool RunsAsSameUser(DWORD process_id) {
  const base::win::ScopedHandle other(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!other.IsValid())
    return false;
  const std::vector<BYTE> theirs = TokenUserOf(other.Get());
  return !theirs.empty() && theirs == TokenUserOf(GetCurrentProcess());
}

std::vector<BYTE> ProcessUserSid(HANDLE process) {
  return TokenUserOf(process);
}

std::vector<BYTE> AccountSid(const std::wstring& account) {
  DWORD sid_size = 0;
  DWORD domain_size = 0;
  SID_NAME_USE use;
  LookupAccountNameW(nullptr, account.c_str(), nullptr, &sid_size, nullptr, &domain_size, &use);
  std::vector<BYTE> sid(sid_size);
  std::vector<wchar_t> domain(domain_size + 1);
  if (sid_size == 0 ||
      !LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sid_size, domain.data(), &domain_size, &use)) {
    return {};
  }
  return sid;
}

bool NamesAccount(const std::wstring& name, const std::vector<BYTE>& sid) {
  if (sid.empty())
    return false;
  const PSID account = const_cast<BYTE*>(sid.data());
  DWORD name_size = 0;
  DWORD domain_size = 0;
  SID_NAME_USE use;
  LookupAccountSidW(nullptr, account, nullptr, &name_size, nullptr, &domain_size, &use);
  std::vector<wchar_t> own_name(name_size + 1);
  std::vector<wchar_t> domain(domain_size + 1);
  if (name_size == 0 ||
      !LookupAccountSidW(nullptr, account, own_name.data(), &name_size, domain.data(), &domain_size, &use)) {
    return false;
  }
  const std::wstring bare(own_name.data());
  const std::wstring qualified = std::wstring(domain.data()) + L"\\" + bare;
  for (const std::wstring* candidate : {&bare, &qualified}) {
    if (CompareStringOrdinal(name.c_str(), -1, candidate->c_str(), -1, TRUE) == CSTR_EQUAL)
      return true;
  }
  return false;
}

OwnerRights OwnerRightsOf(HANDLE object) {
  PSID owner = nullptr;
  base::win::ScopedLocalMemory<> descriptor;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      descriptor.Receive()) != ERROR_SUCCESS ||
      !owner || !IsValidSid(owner)) {
    return OwnerRights::kUnreadable;
  }
  const base::win::ScopedHandle token = QueryTokenOf(GetCurrentProcess());
  for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
    std::vector<BYTE> own = token.IsValid() ? TokenSid(token.Get(), kind) : std::vector<BYTE>();
    if (!own.empty() && EqualSid(owner, own.data()))
      return OwnerRights::kThisProcess;
  }
  for (const WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid}) {
    WellKnownSid known(type);
    if (known.valid && EqualSid(owner, known.sid()))
      return OwnerRights::kThisProcess;
  }
  return OwnerRights::kAnotherAccount;
}

bool MakeOwnOwnerDescriptor(base::win::ScopedLocalMemory<>* descriptor) {
  const base::win::ScopedHandle token = QueryTokenOf(GetCurrentProcess());
  const std::vector<BYTE> owner = token.IsValid() ? TokenSid(token.Get(), TokenOwner) : std::vector<BYTE>();
  if (owner.empty())
    return false;
  // One block holds the descriptor and, right behind it, the owner SID it points to: freeing the block frees both.
  base::win::ScopedLocalMemory<> block(LocalAlloc(LMEM_FIXED, sizeof(SECURITY_DESCRIPTOR) + owner.size()));
  if (!block.IsValid())
    return false;
  BYTE* const sid = static_cast<BYTE*>(block.Get()) + sizeof(SECURITY_DESCRIPTOR);
  memcpy(sid, owner.data(), owner.size());
  if (!InitializeSecurityDescriptor(block.Get(), SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(block.Get(), sid, FALSE)) {
    return false;
  }
  *descriptor = std::move(block);
  return true;
}

WellKnownSid::WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  DWORD size = sizeof(storage);
  valid = CreateWellKnownSid(type, nullptr, sid(), &size) != FALSE;
}

DWORD AddGrantToDacl(PACL dacl,
                     PSID sid,
                     DWORD access_mask,
                     DWORD inheritance,
                     base::win::ScopedLocalMemory<ACL>* granted) {
  EXPLICIT_ACCESS_W entry = {};
  entry.grfAccessPermissions = access_mask;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = inheritance;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.ptstrName = static_cast<wchar_t*>(sid);
  PACL raw = nullptr;
  const DWORD error = SetEntriesInAclW(1, &entry, dacl, &raw);
  granted->Set(raw);
  return error;
}

bool IsUserAdmin(bool check_elevated) {
  base::win::ScopedHandle token;
  if (!OpenProcessToken(TOKEN_DUPLICATE | TOKEN_QUERY, &token))
    return false;
  const AdminTokenSeam seam = GetAdminTokenSeam();
  bool linked_token = false;
  if (check_elevated && base::win::GetVersion() >= base::win::VERSION_VISTA) {
    TOKEN_ELEVATION_TYPE elevation_type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (seam != AdminTokenSeam::kNone) {
      elevation_type = SeamElevationType(seam);
    } else if (!GetTokenInformation(token.Get(), TokenElevationType, &elevation_type, sizeof(elevation_type),
                                    &size)) {
      return false;
    }
    if (elevation_type == TokenElevationTypeLimited) {
      linked_token = true;
      if (seam == AdminTokenSeam::kNone) {
        TOKEN_LINKED_TOKEN linked = {};
        if (!GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof(linked), &size))
          return false;
        token.Set(linked.LinkedToken);
      }
    }
  }
  if (seam != AdminTokenSeam::kNone)
    return SeamIsAdministrator(seam, linked_token);

  base::win::ScopedHandle identification;
  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  BOOL member = FALSE;
  return DuplicateForIdentification(token.Get(), &identification) && administrators.valid &&
         CheckTokenMembership(identification.Get(), administrators.sid(), &member) && member;
}

bool HasWriteAccess(const std::wstring& object_name, SE_OBJECT_TYPE object_type, DWORD desired_access) {
  GENERIC_MAPPING mapping;
  if (object_type == SE_FILE_OBJECT)
    mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  else if (object_type == SE_REGISTRY_KEY)
    mapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
  else
    return false;

  base::win::ScopedHandle token;
  base::win::ScopedHandle identification;
  if (!OpenProcessToken(TOKEN_DUPLICATE | TOKEN_QUERY, &token) ||
      !DuplicateForIdentification(token.Get(), &identification)) {
    return false;
  }
  PSECURITY_DESCRIPTOR raw = nullptr;
  const DWORD error =
      GetNamedSecurityInfoW(object_name.c_str(), object_type,
                            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr, &raw);
  const base::win::ScopedLocalMemory<> descriptor(raw);
  if (error != ERROR_SUCCESS)
    return false;
  alignas(PRIVILEGE_SET) BYTE privileges[kPrivilegeSetBufferSize];
  DWORD privileges_size = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  return AccessCheck(raw, identification.Get(), desired_access, &mapping,
                     reinterpret_cast<PPRIVILEGE_SET>(privileges), &privileges_size, &granted, &status) &&
         status;
}

bool EnablePrivilege(const wchar_t* privilege_name, bool enable, HANDLE token) {
  const base::win::ScopedHandle owned_token(token);
  TOKEN_PRIVILEGES privileges = {};
  if (!LookupPrivilegeValueW(nullptr, privilege_name, &privileges.Privileges[0].Luid))
    return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  // The call succeeds when the token lacks the privilege, and says so only through the last error.
  return AdjustTokenPrivileges(owned_token.Get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr) &&
         GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

bool TakeOwnership(const std::wstring& object_name, SE_OBJECT_TYPE object_type) {
  const ScopedPrivilege take_ownership(kTakeOwnershipPrivilege);
  if (!take_ownership.enabled())
    return false;
  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  return administrators.valid &&
         SetNamedSecurityInfoW(const_cast<wchar_t*>(object_name.c_str()), object_type, OWNER_SECURITY_INFORMATION,
                               administrators.sid(), nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool GrantAccess(const std::wstring& object_name, SE_OBJECT_TYPE object_type, DWORD access_mask, bool permanent,
                 std::unique_ptr<AccessGrant>* grant) {
  grant->reset();
  // The grant names the process's own account by its SID: a bare user name is looked up among built-in, local
  // and domain accounts in turn, and may name another account of the same name (a local one for a domain user).
  std::vector<BYTE> user_sid = TokenUserOf(GetCurrentProcess());
  if (user_sid.empty())
    return false;

  // What a temporary grant changes, for RestoreAccess: the owner too, should ownership have to be taken. A
  // temporary grant that fails after taking ownership gives it back.
  auto restore = permanent ? nullptr : std::make_unique<AccessGrant>();
  const auto fail = [&] {
    if (restore && restore->previous_owner_descriptor.IsValid())
      RestoreOwner(object_name, object_type, *restore);
    return false;
  };
  PACL previous_dacl = nullptr;
  base::win::ScopedLocalMemory<> previous_descriptor;
  DWORD error = ReadDacl(object_name, object_type, &previous_dacl, &previous_descriptor);
  if (error == ERROR_ACCESS_DENIED) {
    if (!TakeOwnershipFor(object_name, object_type, restore.get()))
      return fail();
    error = ReadDacl(object_name, object_type, &previous_dacl, &previous_descriptor);
  }
  if (error != ERROR_SUCCESS)
    return fail();

  ULONG entry_count = 0;
  PEXPLICIT_ACCESS_W raw_entries = nullptr;
  if (GetExplicitEntriesFromAclW(previous_dacl, &entry_count, &raw_entries) != ERROR_SUCCESS)
    return fail();
  const base::win::ScopedLocalMemory<EXPLICIT_ACCESS_W> entries(raw_entries);
  // Denials that would still apply to this process lose the rights being granted.
  for (ULONG i = 0; i < entry_count; ++i) {
    EXPLICIT_ACCESS_W& entry = raw_entries[i];
    if (entry.grfAccessMode == DENY_ACCESS && entry.Trustee.TrusteeForm == TRUSTEE_IS_SID &&
        IsProcessTokenMember(entry.Trustee.ptstrName)) {
      entry.grfAccessPermissions &= ~access_mask;
    }
  }

  base::win::ScopedLocalMemory<ACL> grant_dacl;
  if (AddGrantToDacl(nullptr, user_sid.data(), access_mask, SUB_CONTAINERS_AND_OBJECTS_INHERIT, &grant_dacl) !=
      ERROR_SUCCESS) {
    return fail();
  }
  PACL raw_new_dacl = nullptr;
  if (SetEntriesInAclW(entry_count, raw_entries, grant_dacl.Get(), &raw_new_dacl) != ERROR_SUCCESS)
    return fail();
  const base::win::ScopedLocalMemory<ACL> new_dacl(raw_new_dacl);

  error = WriteDacl(object_name, object_type, new_dacl.Get());
  if (error == ERROR_ACCESS_DENIED && TakeOwnershipFor(object_name, object_type, restore.get()))
    error = WriteDacl(object_name, object_type, new_dacl.Get());
  if (error != ERROR_SUCCESS)
    return fail();

  if (restore) {
    restore->object_name = object_name;
    restore->object_type = object_type;
    restore->previous_dacl = previous_dacl;
    restore->previous_descriptor = std::move(previous_descriptor);
    *grant = std::move(restore);
  }
  return true;
}

namespace {

// Puts the grant's previous access list back, protected from inheritance if it was.
bool RestoreDacl(const AccessGrant& grant) {
  // The list goes back with its protection from inheritance as it was: written plainly, a protected list
  // would come back open to the entries of its parent.
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(grant.previous_descriptor.Get(), &control, &revision))
    return false;
  const bool was_protected = (control & SE_DACL_PROTECTED) != 0;
  const SECURITY_INFORMATION protection =
      was_protected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
  if (SetNamedSecurityInfoW(const_cast<wchar_t*>(grant.object_name.c_str()), grant.object_type,
                            DACL_SECURITY_INFORMATION | protection, nullptr, nullptr, grant.previous_dacl,
                            nullptr) != ERROR_SUCCESS) {
    return false;
  }
  if (grant.object_type != SE_REGISTRY_KEY || !was_protected || IsDaclProtected(grant))
    return true;
  // Systems whose named-object call ignores the protection flag for registry keys: the key's own call takes
  // the whole previous descriptor, protection included.
  HKEY root = nullptr;
  std::wstring subkey;
  base::win::RegKey key;
  return SplitRegistryObjectName(grant.object_name, &root, &subkey) &&
         key.Open(root, subkey.c_str(), WRITE_DAC) == ERROR_SUCCESS &&
         RegSetKeySecurity(key.Handle(), DACL_SECURITY_INFORMATION, grant.previous_descriptor.Get()) == ERROR_SUCCESS;
}

}  // namespace

bool RestoreAccess(std::unique_ptr<AccessGrant> grant) {
  if (!grant)
    return false;
  const bool dacl_restored = RestoreDacl(*grant);
  if (!grant->previous_owner_descriptor.IsValid())
    return dacl_restored;
  return RestoreOwner(grant->object_name, grant->object_type, *grant) && dacl_restored;
}

FolderTreeGrant::FolderTreeGrant() = default;
FolderTreeGrant::~FolderTreeGrant() = default;

bool FolderTreeGrant::Grant(const base::FilePath& folder, const std::vector<BYTE>& account, std::string* problem) {
  folder_ = folder;
  previous_.clear();
  account_ = account;
  if (account_.empty() || !IsValidSid(account_.data())) {
    *problem = "no account to grant it to";
    return false;
  }
  const PSID sid = account_.data();
  LinkFreePath path;
  if (!path.Hold(folder, true, problem))
    return false;
  const base::win::ScopedHandle object = OpenForAccessList(folder, false);
  BY_HANDLE_FILE_INFORMATION information;
  AccessList list;
  if (!object.IsValid() || !GetFileInformationByHandle(object.Get(), &information) ||
      !ReadAccessList(object.Get(), &list)) {
    *problem = "its access list cannot be read (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  root_ = IdentityOf(information);
  if (ListPassesFullAccessOn(list.dacl, sid))
    return true;
  base::win::ScopedLocalMemory<ACL> granted;
  if (AddGrantToDacl(list.dacl, sid, FILE_ALL_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT, &granted) != ERROR_SUCCESS) {
    *problem = "no access list with the grant can be made";
    return false;
  }
  if (!WriteObjectDacl(object.Get(), granted.Get(), list.control)) {
    *problem = "its access list cannot be written (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  previous_[root_] = DescriptorBytes(list);
  existing_ = {root_};
  GrantBelow(folder);
  return true;
}

void FolderTreeGrant::GrantBelow(const base::FilePath& folder) {
  ForEachTreeEntry(folder, [this](TreeEntry* entry) {
    // A list protected from inheritance takes nothing from its folder, nor passes anything on from it.
    const AccessList& list = entry->list;
    existing_.insert(IdentityOf(entry->information));
    if (!list.dacl || (list.control & SE_DACL_PROTECTED))
      return;
    const DWORD entry_size = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(account_.data());
    std::vector<BYTE> dacl = CopyAcl(list.dacl, entry_size);
    if (dacl.empty() ||
        !AddAccessAllowedAceEx(reinterpret_cast<PACL>(dacl.data()), list.dacl->AclRevision,
                               InheritedGrantFlags(entry->is_folder), FILE_ALL_ACCESS, account_.data()) ||
        !WriteObjectDacl(entry->object.Get(), reinterpret_cast<PACL>(dacl.data()), list.control)) {
      return;
    }
    previous_[IdentityOf(entry->information)] = DescriptorBytes(list);
    if (entry->is_folder)
      GrantBelow(entry->path);
  });
}

bool FolderTreeGrant::Undo(std::string* problem) {
  problem->clear();
  if (previous_.empty())
    return true;
  LinkFreePath path;
  if (!path.Hold(folder_, true, problem))
    return false;
  const base::win::ScopedHandle object = OpenForAccessList(folder_, false);
  BY_HANDLE_FILE_INFORMATION information;
  if (!object.IsValid() || !GetFileInformationByHandle(object.Get(), &information) ||
      IdentityOf(information) != root_) {
    *problem = "it is no longer the folder that was granted";
    return false;
  }
  AccessList list;
  if (!SetKernelObjectSecurity(object.Get(), DACL_SECURITY_INFORMATION, previous_[root_].data()) ||
      !ReadAccessList(object.Get(), &list)) {
    *problem = "its access list cannot be put back (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  // Owners are written back too: the account could make itself the owner of anything in the tree meanwhile.
  const ScopedPrivilege take_ownership(kTakeOwnershipPrivilege);
  const ScopedPrivilege restore(kRestorePrivilege);
  if (!WriteRecordedOwner(object.Get(), previous_[root_])) {
    *problem = "its owner cannot be put back (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  UndoBelow(folder_, list.dacl, problem);
  return problem->empty();
}

void FolderTreeGrant::UndoBelow(const base::FilePath& folder, PACL folder_dacl, std::string* problem) {
  ForEachTreeEntry(folder, [&](TreeEntry* entry) {
    AccessList& list = entry->list;
    const Identity identity = IdentityOf(entry->information);
    const auto recorded = previous_.find(identity);
    if (recorded != previous_.end()) {
      if (!SetKernelObjectSecurity(entry->object.Get(), DACL_SECURITY_INFORMATION, recorded->second.data()) ||
          !WriteRecordedOwner(entry->object.Get(), recorded->second) || !ReadAccessList(entry->object.Get(), &list)) {
        *problem = entry->path.AsUTF8() + " cannot be put back (error " + std::to_string(GetLastError()) + ")";
        return;
      }
    } else if (existing_.count(identity) == 0) {
      // Made during the grant, by whoever had the access: it becomes the administrators' and takes only what its
      // folder passes on, whatever list its maker gave it, protected or not.
      if (!MakeAdministratorsInherit(entry->object.Get(), folder_dacl, entry->is_folder) ||
          !ReadAccessList(entry->object.Get(), &list)) {
        *problem = entry->path.AsUTF8() + " keeps what it was given during the grant (error " +
                   std::to_string(GetLastError()) + ")";
        return;
      }
    }
    if (entry->is_folder)
      UndoBelow(entry->path, list.dacl, problem);
  });
}

std::wstring GetRegistryObjectName(HKEY root, const std::wstring& subkey) {
  if (root == HKEY_CLASSES_ROOT)
    return L"CLASSES_ROOT\\" + subkey;
  if (root == HKEY_LOCAL_MACHINE)
    return L"MACHINE\\" + subkey;
  if (root == HKEY_CURRENT_USER)
    return L"CURRENT_USER\\" + subkey;
  if (root == HKEY_USERS)
    return L"USERS\\" + subkey;
  return subkey;
}

}  // namespace zorvi::installer
