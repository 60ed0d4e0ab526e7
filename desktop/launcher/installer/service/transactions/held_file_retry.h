// Retrying a file change that another opener refuses for a moment. Virus scanners and indexers open every file
// just written or renamed, often without sharing it, and let it go within a second or two: a change refused with a
// sharing or lock violation is tried again over a bounded back-off. Any other refusal (access denied above all)
// stays and is not retried.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_HELD_FILE_RETRY_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_HELD_FILE_RETRY_H_

#include <windows.h>

#include <functional>

namespace zorvi::installer {

// Whether `error` is what a file held by another opener gives: a sharing or a lock violation.
bool IsHeldFileError(DWORD error);

// Calls `attempt` (true: done; false: failed, with the thread's last error set) until it succeeds, fails with an
// error IsHeldFileError does not accept, or the pauses between attempts have added up to about 2 s. Returns the
// last attempt's result, with its last error.
bool RetryWhileHeld(const std::function<bool()>& attempt);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_HELD_FILE_RETRY_H_
