#include "desktop/launcher/installer/service/transactions/held_file_retry.h"

#include <iterator>

#include "desktop/common/product/test_seams.h"

namespace zorvi::installer {

namespace {

// Short at first, for a reader passing by; 2 s in all, for a scanner reading a large file.
constexpr DWORD kPausesMs[] = {25, 50, 100, 200, 400, 600, 625};

}  // namespace

bool IsHeldFileError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool RetryWhileHeld(const std::function<bool()>& attempt) {
  for (size_t pause = 0;; ++pause) {
    if (attempt())
      return true;
    const DWORD error = GetLastError();
    if (!IsHeldFileError(error) || pause == std::size(kPausesMs))
      return false;
    if (const HeldFileRetryPauseHook hook = GetHeldFileRetryPauseHook())
      hook(kPausesMs[pause]);
    else
      Sleep(kPausesMs[pause]);
  }
}

}  // namespace zorvi::installer
