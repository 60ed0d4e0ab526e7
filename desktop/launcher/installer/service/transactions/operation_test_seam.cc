#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"

#include <atomic>

namespace zorvi::installer {

namespace {

std::atomic<OperationFaultHook> g_operation_fault_hook{nullptr};

}  // namespace

void SetOperationFaultHookForTesting(OperationFaultHook hook) {
  g_operation_fault_hook.store(hook, std::memory_order_relaxed);
}

OperationFaultHook GetOperationFaultHook() {
  return g_operation_fault_hook.load(std::memory_order_relaxed);
}

}  // namespace zorvi::installer
