// Writing values into a shell property store (the one a shell link carries, for example): the value is set
// and, when the store accepted it outright (S_OK), committed. True when the set, and the commit when made,
// succeeded.
#ifndef BASE_WIN_PROPERTY_STORE_H_
#define BASE_WIN_PROPERTY_STORE_H_

#include <windows.h>

#include <propsys.h>

namespace base {
namespace win {

// The application user model properties of a shell link.
extern const PROPERTYKEY kAppUserModelIdKey;        // the application id (a wide string)
extern const PROPERTYKEY kAppUserModelDualModeKey;  // dual mode (a boolean)

// Stores a copy of `app_id` as a wide-string value under kAppUserModelIdKey.
bool SetAppIdForPropertyStore(IPropertyStore* property_store, const wchar_t* app_id);

// Stores a boolean value (VARIANT_TRUE or VARIANT_FALSE) under `property_key`.
bool SetBooleanValueForPropertyStore(IPropertyStore* property_store, const PROPERTYKEY& property_key,
                                     bool property_bool_value);

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_PROPERTY_STORE_H_
