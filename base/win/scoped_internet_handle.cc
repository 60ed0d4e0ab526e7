#include "base/win/scoped_internet_handle.h"

namespace base {
namespace win {

bool InternetHandleTraits::CloseHandle(HINTERNET handle) {
  return InternetCloseHandle(handle) != FALSE;
}

}  // namespace win
}  // namespace base
