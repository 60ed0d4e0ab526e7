// ScopedBstr owns one BSTR, the string type of COM automation, and frees it when it goes.
#ifndef BASE_WIN_SCOPED_BSTR_H_
#define BASE_WIN_SCOPED_BSTR_H_

#include <windows.h>

#include <oleauto.h>

namespace base {
namespace win {

class ScopedBstr {
 public:
  ScopedBstr() = default;
  // A copy of `text`; a null text gives a null BSTR (COM's empty string).
  explicit ScopedBstr(const wchar_t* text);
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ~ScopedBstr();

  BSTR Get() const { return bstr_; }
  // Characters, not counting the terminator; 0 for a null BSTR.
  UINT Length() const { return SysStringLen(bstr_); }

  // Frees the held string and takes `bstr`.
  void Reset(BSTR bstr = nullptr);
  // Gives up the string without freeing it.
  [[nodiscard]] BSTR Release();
  // For a COM out-parameter: the holder must be empty, the callee fills it.
  BSTR* Receive();

 private:
  BSTR bstr_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_BSTR_H_
