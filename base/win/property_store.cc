#include "base/win/property_store.h"

#include <cstring>
#include <cwchar>

#include "base/logging.h"

namespace base {
namespace win {

// {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}, properties 5 and 11 (the headers lack the second).
const PROPERTYKEY kAppUserModelIdKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};
const PROPERTYKEY kAppUserModelDualModeKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 11};

namespace {

bool SetPropVariantValueForPropertyStore(IPropertyStore* property_store, const PROPERTYKEY& property_key,
                                         const PROPVARIANT& property_value) {
  HRESULT result = property_store->SetValue(property_key, property_value);
  if (result == S_OK)
    result = property_store->Commit();
  if (FAILED(result)) {
    LOG(ERROR) << "Could not store the property: 0x" << std::hex << result;
    return false;
  }
  return true;
}

}  // namespace

bool SetAppIdForPropertyStore(IPropertyStore* property_store, const wchar_t* app_id) {
  PROPVARIANT value;
  PropVariantInit(&value);
  const size_t bytes = (wcslen(app_id) + 1) * sizeof(wchar_t);
  value.pwszVal = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (!value.pwszVal)
    return false;
  memcpy(value.pwszVal, app_id, bytes);
  value.vt = VT_LPWSTR;
  const bool result = SetPropVariantValueForPropertyStore(property_store, kAppUserModelIdKey, value);
  PropVariantClear(&value);
  return result;
}

bool SetBooleanValueForPropertyStore(IPropertyStore* property_store, const PROPERTYKEY& property_key,
                                     bool property_bool_value) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = property_bool_value ? VARIANT_TRUE : VARIANT_FALSE;
  const bool result = SetPropVariantValueForPropertyStore(property_store, property_key, value);
  PropVariantClear(&value);
  return result;
}

}  // namespace win
}  // namespace base
