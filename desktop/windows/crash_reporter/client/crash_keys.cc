#include "desktop/windows/crash_reporter/client/crash_keys.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>

#include "base/lazy_instance.h"
#include "base/strings/stringprintf.h"
#include "base/strings/sys_string_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/windows/crash_reporter/crash_key_names.h"

namespace zorvi {
namespace installer {
namespace {

constexpr size_t kBlockSize = CrashKeys::kEntryCount * sizeof(CrashCustomInfoEntry);
static_assert(kBlockSize == 24576);

std::atomic<bool> g_fail_allocation{false};
base::internal::LazyInstanceState g_instance_state{0};

// The entries in table order: a name and how many consecutive entries carry it.
struct KeyRange {
  const wchar_t* name;
  size_t count;
};
constexpr KeyRange kKeys[] = {
    {kCrashKeyVersion, 1},
    {kCrashKeyBuild, 1},
    {kCrashKeyBuildSet, 1},
    {kCrashKeyBuildRequestTime, 1},
    {kCrashKeyProcessType, 1},
    {kCrashKeyCrashGuid, 1},
    {kCrashKeyActiveUrl, 16},
    {kCrashKeyGpuVendorId, 1},
    {kCrashKeyGpuDeviceId, 1},
    {kCrashKeyGpuDriverVersion, 1},
    {kCrashKeyGpuPixelShaderVersion, 1},
    {kCrashKeyGpuVertexShaderVersion, 1},
    {kCrashKeyIsWow64, 1},
    {kCrashKeyExceptionPolicy, 1},
    {kCrashKeyVemtraTest, 4},
    {kCrashKeyOrigin, 1},
    {kCrashKeyEnabledExtensions, 16},
    {kCrashKeyDisabledExtensions, 16},
    {kCrashKeyBlacklistedExtensions, 4},
    {kCrashKeyTerminatedExtensions, 4},
    {kCrashKeyThirdPartyInstalls, 4},
    {kCrashKeyModules, 16},
    {kCrashKeyHandleInfoItems, 1},
    {kCrashKeyInvalidHandle, 1},
};
constexpr size_t CountEntries() {
  size_t count = 0;
  for (const KeyRange& key : kKeys)
    count += key.count;
  return count;
}
static_assert(CountEntries() == CrashKeys::kEntryCount);
constexpr size_t kIsWow64 = 27, kExceptionPolicy = 28;

// Copies at most `length` characters of `text` and terminates them.
void CopyText(wchar_t (&field)[CrashCustomInfoEntry::kTextLength], const wchar_t* text, size_t length) {
  size_t copied = 0;
  for (; text && copied < length && copied < CrashKeys::kMaxTextLength && text[copied]; ++copied)
    field[copied] = text[copied];
  field[copied] = L'\0';
}

// "1" or "0" for a 32-bit process on a 64-bit system; empty when the system cannot say.
std::wstring Wow64Text() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, BOOL*);
  const auto is_wow64_process = reinterpret_cast<IsWow64ProcessFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  BOOL is_wow64 = FALSE;
  if (!is_wow64_process || !is_wow64_process(GetCurrentProcess(), &is_wow64))
    return std::wstring();
  return is_wow64 ? L"1" : L"0";
}

// The process's user-mode exception policy flags; empty where the system has no such policy.
std::wstring ExceptionPolicyText() {
  using GetPolicyFunction = BOOL(WINAPI*)(DWORD*);
  const auto get_policy = reinterpret_cast<GetPolicyFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProcessUserModeExceptionPolicy")));
  DWORD flags = 0;
  if (!get_policy || !get_policy(&flags))
    return std::wstring();
  return base::StringPrintf(L"0x%04x", static_cast<unsigned>(flags));
}

}  // namespace

CrashKeys* CrashKeys::GetInstance() {
  return base::internal::GetOrCreateLazyInstance<CrashKeys>(
      &g_instance_state, [] { return new CrashKeys(); }, nullptr, nullptr);
}

void CrashKeys::FailAllocationForTesting(bool fail) {
  g_fail_allocation = fail;
}

CrashKeys::CrashKeys() {
  if (!g_fail_allocation)
    entries_ = static_cast<CrashCustomInfoEntry*>(VirtualAlloc(nullptr, kBlockSize, MEM_COMMIT, PAGE_READWRITE));
  if (!entries_)
    return;
  // A fresh commit is zeroed: every value starts empty.
  size_t index = 0;
  for (const KeyRange& key : kKeys) {
    for (size_t i = 0; i < key.count; ++i, ++index)
      CopyText(entries_[index].name, key.name, CrashCustomInfoEntry::kTextLength);
  }
  const struct {
    size_t index;
    std::wstring value;
  } kBuildFacts[] = {
      {0, base::SystemUTF8ToWide(GetFullVersionString())},
      {1, base::StringPrintf(L"%d", static_cast<int>(GetBuildNumber()))},
      {2, base::StringPrintf(L"%d", static_cast<int>(GetBuildSetNumber()))},
      {3, base::SystemUTF8ToWide(GetBuildRequestTime())},
      {kIsWow64, Wow64Text()},
      {kExceptionPolicy, ExceptionPolicyText()},
  };
  for (const auto& fact : kBuildFacts)
    CopyText(entries_[fact.index].value, fact.value.c_str(), kMaxTextLength);
  DWORD old_protection = 0;
  VirtualProtect(entries_, kBlockSize, PAGE_READONLY, &old_protection);
}

CrashKeys::~CrashKeys() {
  // Only tables of tests end: the process-wide one lives as long as the process.
  if (entries_)
    VirtualFree(entries_, 0, MEM_RELEASE);
}

CrashCustomClientInfo CrashKeys::custom_client_info() const {
  return entries_ ? CrashCustomClientInfo{entries_, kEntryCount} : CrashCustomClientInfo{};
}

template <typename Write>
void CrashKeys::WriteLocked(Write write) {
  if (!entries_)
    return;
  base::AutoLock hold(lock_);
  DWORD old_protection = 0;
  if (!VirtualProtect(entries_, kBlockSize, PAGE_READWRITE, &old_protection))
    return;
  write();
  VirtualProtect(entries_, kBlockSize, PAGE_READONLY, &old_protection);
}

void CrashKeys::SetValue(size_t index, const wchar_t* text) {
  if (index >= kEntryCount)
    return;
  WriteLocked([&] { CopyText(entries_[index].value, text, kMaxTextLength); });
}

void CrashKeys::SetValueRange(size_t first, size_t last, const wchar_t* text) {
  if (first > last || last >= kEntryCount)
    return;
  WriteLocked([&] {
    const size_t length = text ? wcslen(text) : 0;
    size_t offset = 0;
    for (size_t index = first; index <= last; ++index) {
      const size_t piece = offset < length ? std::min(length - offset, kMaxTextLength) : 0;
      CopyText(entries_[index].value, piece ? text + offset : nullptr, piece);
      offset += piece;
    }
  });
}

}  // namespace installer
}  // namespace zorvi
