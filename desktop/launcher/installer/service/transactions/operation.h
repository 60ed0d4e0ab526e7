// Every change the installer makes to files, folders and the registry is an Operation: done once, then either
// rolled back (the installation failed or was cancelled) or committed (it succeeded). A transaction is the
// list of done operations in the order they were done; it owns them.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_

#include <memory>
#include <string>
#include <vector>

namespace zorvi::installer {

class Operation;
using OperationList = std::vector<std::unique_ptr<Operation>>;

class Operation {
 public:
  Operation() = default;
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;
  // Commits: the work that must wait until the change is final (restoring a widened access list, removing a
  // file kept aside for rollback). Also runs after Rollback, where it must be harmless.
  virtual ~Operation() = default;

  // Makes the change. Further operations it needs first go through ExecuteOperation on `sub_operations`;
  // they join the transaction ahead of this one.
  virtual bool Do(OperationList* sub_operations) = 0;
  // Undoes what Do changed, also after a Do that failed half way. Called at most once.
  virtual void Rollback() = 0;
};

// Does `operation` and takes it. On success its sub-operations and then the operation itself are appended to
// `transaction`; on failure the operation rolls itself back, then its sub-operations last to first, and it is
// deleted without entering the transaction.
bool ExecuteOperation(OperationList* transaction, std::unique_ptr<Operation> operation);

// Rolls back every operation, last to first, then deletes them first to last; the list is left empty.
void RollbackOperations(OperationList* operations);

// Commits the transaction: deletes every operation, first to last, and releases the list's storage.
void DeleteOperations(OperationList* operations);

// True when a test asked that the change `operation` is about to make on `target` (a path) fail as if the
// system had refused it. Asked right before each operation's final change, after its sub-operations ran, before
// each key deletion of a registry tree, before each attempt to move a file that a deletion set aside back
// (`target` is then its temporary path), and once a move to another volume has made its copy, before the copy is
// compared with the source (`target` is then the copy's path followed by "|copied": a test may change the copy
// there). Always false in the product: only tests install the hook
// (SetOperationFaultHookForTesting).
bool IsFaultInjected(const Operation* operation, const std::wstring& target);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_
