#include "writable_by_others.h"

#include <sddl.h>

#include <memory>

namespace host {

namespace {

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using ScopedLocal = std::unique_ptr<void, LocalFreer>;
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// Whether `sid` is the user's, the system's, the administrators' or the installer service's.
bool IsTrusted(PSID sid, const std::wstring& user_sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text))
    return false;
  ScopedLocal text_holder(text);
  const std::wstring trusted[] = {user_sid, L"S-1-5-18", L"S-1-5-32-544",
                                  L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
  for (const std::wstring& name : trusted) {
    if (!name.empty() && _wcsicmp(name.c_str(), text) == 0)
      return true;
  }
  return false;
}

}  // namespace

std::wstring UserSidText() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return std::wstring();
  std::unique_ptr<void, HandleCloser> token_holder(token);
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  wchar_t* text = nullptr;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    return std::wstring();
  }
  ScopedLocal text_holder(text);
  return text;
}

bool OthersMayWrite(PSECURITY_DESCRIPTOR descriptor, const std::wstring& user_sid) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsTrusted(owner, user_sid))
    return true;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
    return true;
  if (!present || !dacl)
    return true;  // no access list: everyone has full access
  constexpr ACCESS_MASK kWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, index, reinterpret_cast<void**>(&header)))
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
