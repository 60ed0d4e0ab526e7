// The install operations' test seam, a seam as desktop/common/product/test_seams.h describes them: only test code
// sets it; the product only reads it where an operation is about to make its change (IsFaultInjected).
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_TEST_SEAM_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_TEST_SEAM_H_

#include <string>

namespace zorvi::installer {

class Operation;

// Fails an install operation's final change as if the system had refused it, so that tests can make any
// operation of a transaction fail after its sub-operations ran. Asked with the operation and the path of what
// it is about to change (for a registry tree's deletion: of each key); true fails the change. Null, the
// default, fails nothing.
using OperationFaultHook = bool (*)(const Operation* operation, const std::wstring& target);
void SetOperationFaultHookForTesting(OperationFaultHook hook);
OperationFaultHook GetOperationFaultHook();

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_TEST_SEAM_H_
