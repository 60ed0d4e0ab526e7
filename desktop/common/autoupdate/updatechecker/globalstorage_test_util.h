// Shared by the global storage tests and their child program (which links only what this header defines
// inline).
#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBALSTORAGE_TEST_UTIL_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBALSTORAGE_TEST_UTIL_H_

#include <string>

#include "desktop/common/autoupdate/updatechecker/globalstorage_win.h"
#include "desktop/common/product/test_seams.h"

namespace zorvi::installer::test {

// Gives the process a product of its own: a company name, and with it the product's registry key, and an
// access mutex that no other test shares. All test processes share one machine and run side by side.
inline void UseTestProduct(const std::string& company, const std::wstring& mutex_name) {
  SetBrandingTextForTesting("{\"company_name\": \"" + company + "\"}");
  SetGlobalStorageMutexNameForTesting(mutex_name.c_str());
}

}  // namespace zorvi::installer::test

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBALSTORAGE_TEST_UTIL_H_
