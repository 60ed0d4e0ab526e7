#include "writable_by_others.h"

#include <winternl.h>

#include <memory>

// The native library's security calls, exported by every Windows version the host runs on; its headers are not
// the application's.
extern "C" {
NTSTATUS NTAPI NtOpenProcessToken(HANDLE process, ACCESS_MASK access, PHANDLE token);
NTSTATUS NTAPI NtQueryInformationToken(HANDLE token, TOKEN_INFORMATION_CLASS kind, PVOID information, ULONG length,
                                       PULONG returned);
NTSTATUS NTAPI NtQuerySecurityObject(HANDLE object, SECURITY_INFORMATION wanted, PSECURITY_DESCRIPTOR descriptor,
                                     ULONG length, PULONG needed);
NTSTATUS NTAPI RtlGetOwnerSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, PSID* owner, PBOOLEAN defaulted);
NTSTATUS NTAPI RtlGetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, PBOOLEAN present, PACL* dacl,
                                            PBOOLEAN defaulted);
NTSTATUS NTAPI RtlGetAce(PACL acl, ULONG index, PVOID* ace);
BOOLEAN NTAPI RtlEqualSid(PSID first, PSID second);
BOOLEAN NTAPI RtlValidSid(PSID sid);
ULONG NTAPI RtlLengthSid(PSID sid);
}

namespace host {

namespace {

constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);

struct NativeHandleCloser {
  void operator()(HANDLE handle) const { NtClose(handle); }
};

// A SID of the system's own authority with up to six parts after it, laid out as SID is.
struct NtAuthoritySid {
  BYTE revision;
  BYTE part_count;
  SID_IDENTIFIER_AUTHORITY authority;
  DWORD parts[6];
};

// The system (S-1-5-18), the administrators (S-1-5-32-544) and the installer service
// (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464).
const NtAuthoritySid kTrustedAccounts[] = {
    {SID_REVISION, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID}},
    {SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}},
    {SID_REVISION, 6, SECURITY_NT_AUTHORITY,
     {SECURITY_SERVICE_ID_BASE_RID, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}},
};

// Whether `sid` is the user's, the system's, the administrators' or the installer service's.
bool IsTrusted(PSID sid, const SidBytes& user_sid) {
  if (!sid || !RtlValidSid(sid))
    return false;
  if (!user_sid.empty() && RtlEqualSid(sid, const_cast<BYTE*>(user_sid.data())))
    return true;
  for (const NtAuthoritySid& account : kTrustedAccounts) {
    if (RtlEqualSid(sid, const_cast<NtAuthoritySid*>(&account)))
      return true;
  }
  return false;
}

}  // namespace

SidBytes UserSid() {
  HANDLE token = nullptr;
  if (!NT_SUCCESS(NtOpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)))
    return SidBytes();
  std::unique_ptr<void, NativeHandleCloser> token_holder(token);
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  ULONG size = 0;
  if (!NT_SUCCESS(NtQueryInformationToken(token, TokenUser, buffer, sizeof(buffer), &size)))
    return SidBytes();
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  if (!RtlValidSid(sid))
    return SidBytes();
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return SidBytes(bytes, bytes + RtlLengthSid(sid));
}

std::vector<BYTE> ReadOwnerAndAccessList(HANDLE object) {
  std::vector<BYTE> descriptor(512);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySecurityObject(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                  descriptor.data(), static_cast<ULONG>(descriptor.size()), &needed);
    if (NT_SUCCESS(status))
      return descriptor;
    if (status != kBufferTooSmall || needed <= descriptor.size())
      return std::vector<BYTE>();
    descriptor.resize(needed);
  }
}

bool OthersMayWrite(PSECURITY_DESCRIPTOR descriptor, const SidBytes& user_sid) {
  PSID owner = nullptr;
  BOOLEAN defaulted = FALSE;
  if (!NT_SUCCESS(RtlGetOwnerSecurityDescriptor(descriptor, &owner, &defaulted)) || !IsTrusted(owner, user_sid))
    return true;
  BOOLEAN present = FALSE;
  PACL dacl = nullptr;
  if (!NT_SUCCESS(RtlGetDaclSecurityDescriptor(descriptor, &present, &dacl, &defaulted)))
    return true;
  if (!present || !dacl)
    return true;  // no access list: everyone has full access
  constexpr ACCESS_MASK kWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    ACE_HEADER* header = nullptr;
    if (!NT_SUCCESS(RtlGetAce(dacl, index, reinterpret_cast<void**>(&header))))
      return true;
    // Entries that only pass on to children do not apply to the object itself, and denials grant nothing.
    if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType == ACCESS_DENIED_ACE_TYPE ||
        header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE || header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
        header->AceType == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE) {
      continue;
    }
    // Every kind of entry carries its access mask right after the header.
    if (!(reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask & kWrites))
      continue;
    // A conditional entry may grant under conditions this test does not weigh: judged by its SID alone, as the
    // plain kind, whose layout it shares.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
      return true;
    if (!IsTrusted(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart, user_sid))
      return true;
  }
  return false;
}

}  // namespace host
