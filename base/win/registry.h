// RegKey owns one open registry key. Every method returns the Windows error code of the call (ERROR_SUCCESS on
// success); nothing here logs, so callers decide what a missing key or value means to them.
#ifndef BASE_WIN_REGISTRY_H_
#define BASE_WIN_REGISTRY_H_

#include <windows.h>

#include <string>

namespace base {
namespace win {

class RegKey {
 public:
  // The raw read buffer of ReadValue (string form), in bytes, and the longest expanded text, in characters
  // with its terminator.
  static constexpr DWORD kMaxStringBytes = 2048;
  static constexpr DWORD kMaxExpandedLength = 1024;

  RegKey();
  // With a null root only the 32/64-bit view bits of `access` are kept. Otherwise the key is created when
  // `access` asks to set values, create subkeys or links, and opened when it only reads.
  RegKey(HKEY root, const wchar_t* subkey, REGSAM access);
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();

  // Create or open root\subkey; on success the held key (if any) is closed and replaced. `options` are
  // RegCreateKeyExW's (REG_OPTION_BACKUP_RESTORE: opened with backup rights, whatever `access` and the key's list
  // say).
  LONG Create(HKEY root, const wchar_t* subkey, REGSAM access, DWORD options = REG_OPTION_NON_VOLATILE);
  // Open root\subkey; on success the held key (if any) is closed and replaced, on failure it stays.
  LONG Open(HKEY root, const wchar_t* subkey, REGSAM access);
  void Close();

  bool Valid() const { return key_ != nullptr; }
  HKEY Handle() const { return key_; }
  // The KEY_WOW64_32KEY / KEY_WOW64_64KEY bits of the access the key was opened with.
  REGSAM wow64access() const { return wow64access_; }

  LONG DeleteValue(const wchar_t* name);

  // REG_SZ as stored (up to its first NUL, never beyond the stored size), REG_EXPAND_SZ expanded. Values
  // above kMaxStringBytes fail with ERROR_MORE_DATA, so does an expansion longer than kMaxExpandedLength;
  // other types give ERROR_CANTREAD. *out changes only on success.
  LONG ReadValue(const wchar_t* name, std::wstring* out) const;
  // Raw query into the caller's buffers (RegQueryValueExW semantics).
  LONG ReadValue(const wchar_t* name, void* data, DWORD* size, DWORD* type) const;
  // A REG_DWORD or REG_BINARY of exactly four bytes; anything else gives ERROR_CANTREAD. *out changes only
  // on success.
  LONG ReadValueDW(const wchar_t* name, DWORD* out) const;

  // REG_SZ with its terminating NUL.
  LONG WriteValue(const wchar_t* name, const wchar_t* text);
  LONG WriteValue(const wchar_t* name, const void* data, DWORD size, DWORD type);

 private:
  HKEY key_ = nullptr;
  REGSAM wow64access_ = 0;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_REGISTRY_H_
