// ScopedVariant owns one VARIANT, the tagged value of COM automation: whatever it holds (a BSTR, an array, an
// interface reference) is freed by VariantClear when it is reset or goes.
#ifndef BASE_WIN_SCOPED_VARIANT_H_
#define BASE_WIN_SCOPED_VARIANT_H_

#include <windows.h>

#include <oleauto.h>

namespace base {
namespace win {

class ScopedVariant {
 public:
  // VT_EMPTY.
  ScopedVariant();
  // VT_BSTR holding a copy of `text`.
  explicit ScopedVariant(const wchar_t* text);
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant();

  VARTYPE type() const { return var_.vt; }
  // For passing as an input argument: the holder keeps ownership.
  const VARIANT& Get() const { return var_; }

  // Frees what the value owns; the type becomes VT_EMPTY.
  void Reset();
  // Takes `array` with its element type plus VT_ARRAY, after freeing the previous value. When the array's
  // element type cannot be read the holder is left VT_EMPTY, the array stays the caller's and the result is
  // false.
  bool Set(SAFEARRAY* array);
  // Gives up the value without freeing it; the holder becomes VT_EMPTY.
  [[nodiscard]] VARIANT Release();
  // For a COM out-parameter: the holder must be empty, the callee fills it.
  VARIANT* Receive();

 private:
  VARIANT var_;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_VARIANT_H_
