#include "base/win/scoped_variant.h"

#include "base/logging.h"

namespace base {
namespace win {

ScopedVariant::ScopedVariant() { VariantInit(&var_); }

ScopedVariant::ScopedVariant(const wchar_t* text) {
  VariantInit(&var_);
  var_.vt = VT_BSTR;
  var_.bstrVal = SysAllocString(text);
}

ScopedVariant::~ScopedVariant() { VariantClear(&var_); }

void ScopedVariant::Reset() { VariantClear(&var_); }

bool ScopedVariant::Set(SAFEARRAY* array) {
  // The previous value would leak otherwise.
  Reset();
  VARTYPE element_type = VT_EMPTY;
  if (!array || FAILED(SafeArrayGetVartype(array, &element_type))) {
    var_.vt = VT_EMPTY;
    return false;
  }
  var_.vt = static_cast<VARTYPE>(element_type | VT_ARRAY);
  var_.parray = array;
  return true;
}

VARIANT ScopedVariant::Release() {
  VARIANT value = var_;
  VariantInit(&var_);
  return value;
}

VARIANT* ScopedVariant::Receive() {
  CHECK(var_.vt == VT_EMPTY) << "receiving into a ScopedVariant that holds a value would leak it";
  return &var_;
}

}  // namespace win
}  // namespace base
