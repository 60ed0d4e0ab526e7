#include "base/win/registry.h"

#include <cwchar>
#include <limits>

namespace base {
namespace win {

namespace {

constexpr REGSAM kWow64AccessMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM kAccessThatCreates = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

}  // namespace

RegKey::RegKey() = default;

RegKey::RegKey(HKEY root, const wchar_t* subkey, REGSAM access) {
  if (!root) {
    wow64access_ = access & kWow64AccessMask;
    return;
  }
  if (access & kAccessThatCreates)
    Create(root, subkey, access);
  else
    Open(root, subkey, access);
}

RegKey::~RegKey() { Close(); }

LONG RegKey::Create(HKEY root, const wchar_t* subkey, REGSAM access, DWORD options) {
  HKEY created = nullptr;
  DWORD disposition = 0;
  const LONG result = RegCreateKeyExW(root, subkey, 0, nullptr, options, access, nullptr, &created, &disposition);
  if (result == ERROR_SUCCESS) {
    Close();
    key_ = created;
    wow64access_ = access & kWow64AccessMask;
  }
  return result;
}

LONG RegKey::Open(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExW(root, subkey, 0, access, &opened);
  if (result == ERROR_SUCCESS) {
    Close();
    key_ = opened;
    wow64access_ = access & kWow64AccessMask;
  }
  return result;
}

void RegKey::Close() {
  if (key_) {
    RegCloseKey(key_);
    key_ = nullptr;
  }
  wow64access_ = 0;
}

LONG RegKey::DeleteValue(const wchar_t* name) { return RegDeleteValueW(key_, name); }

LONG RegKey::ReadValue(const wchar_t* name, std::wstring* out) const {
  wchar_t raw[kMaxStringBytes / sizeof(wchar_t)];
  DWORD type = REG_SZ;
  DWORD size = sizeof(raw);
  const LONG result = ReadValue(name, raw, &size, &type);
  if (result != ERROR_SUCCESS)
    return result;
  // Stored strings need not end in NUL: the stored size bounds the text, not a terminator.
  const size_t stored_length = size / sizeof(wchar_t);
  const std::wstring stored(raw, wcsnlen(raw, stored_length));
  if (type == REG_SZ) {
    *out = stored;
    return ERROR_SUCCESS;
  }
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kMaxExpandedLength];
    const DWORD needed = ExpandEnvironmentStringsW(stored.c_str(), expanded, kMaxExpandedLength);
    if (needed == 0 || needed > kMaxExpandedLength)
      return ERROR_MORE_DATA;
    *out = expanded;
    return ERROR_SUCCESS;
  }
  return ERROR_CANTREAD;
}

LONG RegKey::ReadValue(const wchar_t* name, void* data, DWORD* size, DWORD* type) const {
  return RegQueryValueExW(key_, name, nullptr, type, static_cast<BYTE*>(data), size);
}

LONG RegKey::ReadValueDW(const wchar_t* name, DWORD* out) const {
  DWORD value = 0;
  DWORD type = REG_DWORD;
  DWORD size = sizeof(value);
  const LONG result = ReadValue(name, &value, &size, &type);
  // A larger value does not fit the four-byte buffer: it is the wrong size, not a short read.
  if (result == ERROR_MORE_DATA)
    return ERROR_CANTREAD;
  if (result != ERROR_SUCCESS)
    return result;
  if ((type != REG_DWORD && type != REG_BINARY) || size != sizeof(value))
    return ERROR_CANTREAD;
  *out = value;
  return ERROR_SUCCESS;
}

LONG RegKey::WriteValue(const wchar_t* name, const wchar_t* text) {
  const size_t length = wcslen(text) + 1;
  if (length > std::numeric_limits<DWORD>::max() / sizeof(wchar_t))
    return ERROR_INVALID_PARAMETER;
  return WriteValue(name, text, static_cast<DWORD>(length * sizeof(wchar_t)), REG_SZ);
}

LONG RegKey::WriteValue(const wchar_t* name, const void* data, DWORD size, DWORD type) {
  return RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size);
}

}  // namespace win
}  // namespace base
