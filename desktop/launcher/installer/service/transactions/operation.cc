#include "desktop/launcher/installer/service/transactions/operation.h"

#include <iterator>
#include <utility>

#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"

namespace zorvi::installer {

bool IsFaultInjected(const Operation* operation, const std::wstring& target) {
  const OperationFaultHook hook = GetOperationFaultHook();
  return hook && hook(operation, target);
}

bool ExecuteOperation(OperationList* transaction, std::unique_ptr<Operation> operation) {
  OperationList sub_operations;
  if (!operation->Do(&sub_operations)) {
    // The operation's own partial work is undone before the work it built on.
    operation->Rollback();
    RollbackOperations(&sub_operations);
    return false;
  }
  transaction->insert(transaction->end(), std::make_move_iterator(sub_operations.begin()),
                      std::make_move_iterator(sub_operations.end()));
  transaction->push_back(std::move(operation));
  return true;
}

void RollbackOperations(OperationList* operations) {
  for (auto it = operations->rbegin(); it != operations->rend(); ++it)
    (*it)->Rollback();
  for (auto& operation : *operations)
    operation.reset();
  operations->clear();
}

void DeleteOperations(OperationList* operations) {
  for (auto& operation : *operations)
    operation.reset();
  OperationList().swap(*operations);
}

}  // namespace zorvi::installer
