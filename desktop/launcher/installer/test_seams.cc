#include "desktop/launcher/installer/test_seams.h"

#include <atomic>

namespace zorvi::installer {

namespace {

std::atomic<AdminTokenSeam> g_admin_token_seam{AdminTokenSeam::kNone};
std::atomic<OperationFaultHook> g_operation_fault_hook{nullptr};

}  // namespace

void SetAdminTokenSeamForTesting(AdminTokenSeam seam) {
  g_admin_token_seam.store(seam, std::memory_order_relaxed);
}

AdminTokenSeam GetAdminTokenSeam() {
  return g_admin_token_seam.load(std::memory_order_relaxed);
}

void SetOperationFaultHookForTesting(OperationFaultHook hook) {
  g_operation_fault_hook.store(hook, std::memory_order_relaxed);
}

OperationFaultHook GetOperationFaultHook() {
  return g_operation_fault_hook.load(std::memory_order_relaxed);
}

}  // namespace zorvi::installer
